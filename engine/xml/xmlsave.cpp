#include "engine/xml/xmlsave.h"

#include "engine/text/failure.h"
#include "engine/text/filecopy.h"
#include "engine/text/textfile.h"
#include "engine/xml/xmldocument.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cstddef>
#include <new>
#include <optional>
#include <string>

namespace corvanta {

namespace {

// libxml2 indents two spaces per level.
QByteArray indentOf(int depth) {
    return QByteArray(2 * qsizetype(depth), ' ');
}

// libxml2's formatter writes no indentation anywhere below an element that has a text, CDATA or entity
// reference child, but knows nothing of xml:space. An empty text node at the top of each preserve scope
// therefore keeps the whole scope as it is; it writes nothing itself, and goes again when the markers go.
class PreserveMarkers {
public:
    explicit PreserveMarkers(xmlNode* start) {
        std::vector<xmlNode*> pending;
        if (start && start->type == XML_ELEMENT_NODE)
            pending.push_back(start);
        while (!pending.empty()) {
            xmlNode* element = pending.back();
            pending.pop_back();
            const bool preserve = isSpacePreserve(element, false);
            const std::size_t below = pending.size();
            bool asItIs = false; // below an element with a text child nothing is added already
            for (xmlNode* child = element->children; child && !asItIs; child = child->next) {
                if (isTextLike(child))
                    asItIs = true;
                else if (child->type == XML_ELEMENT_NODE && !preserve)
                    pending.push_back(child);
            }
            if (asItIs)
                pending.resize(below);
            else if (preserve && element->children)
                mark(element);
        }
    }
    ~PreserveMarkers() {
        for (xmlNode* marker : m_markers) {
            xmlUnlinkNode(marker);
            xmlFreeNode(marker);
        }
    }
    PreserveMarkers(const PreserveMarkers&) = delete;
    PreserveMarkers& operator=(const PreserveMarkers&) = delete;

private:
    void mark(xmlNode* element) {
        XmlNodeList marker(xmlNewDocText(element->doc, xmlChars("")));
        if (!marker)
            throw std::bad_alloc();
        m_markers.push_back(marker.get());
        xmlAddChild(element, marker.release()); // never merged: the element has no text child
    }

    std::vector<xmlNode*> m_markers;
};

// libxml2 writes attribute values with the characters beyond ASCII as they are only while the document names
// its encoding, as it does itself while it saves a whole document.
class NamedEncoding {
public:
    explicit NamedEncoding(xmlDoc* doc)
        : m_doc(doc)
        , m_old(doc ? doc->encoding : nullptr) {
        if (m_doc)
            m_doc->encoding = xmlChars("UTF-8");
    }
    ~NamedEncoding() {
        if (m_doc)
            m_doc->encoding = m_old;
    }
    NamedEncoding(const NamedEncoding&) = delete;
    NamedEncoding& operator=(const NamedEncoding&) = delete;

private:
    xmlDoc* m_doc;
    const xmlChar* m_old;
};

int appendToBytes(void* context, const char* buffer, int length) {
    static_cast<QByteArray*>(context)->append(buffer, length);
    return length;
}

/// Stands in for the written children of top-level elements while the rest of the document is written, and finds
/// their places in what was written: an empty element where they are indented, a text otherwise (an element
/// would turn indentation on). Each names a random prefix that the document's own text is checked not to hold.
class Placeholders {
public:
    Placeholders(std::span<const WrittenChildren> written)
        : m_written(written) {
        const quint64 random[2] = {QRandomGenerator::system()->generate64(), QRandomGenerator::system()->generate64()};
        m_prefix = "c" + QByteArray::number(random[0], 16) + QByteArray::number(random[1], 16) + "-";
        for (std::size_t i = 0; i < written.size(); ++i) {
            const WrittenChildren& children = written[i];
            const QByteArray name = m_prefix + QByteArray::number(qulonglong(i)) + "-";
            XmlNodeList node(children.indented ? xmlNewDocNode(children.top->doc, nullptr, xmlChars(name), nullptr)
                                               : xmlNewDocText(children.top->doc, xmlChars(name)));
            if (!node)
                throw std::bad_alloc();
            m_nodes.push_back(node.get());
            xmlAddChild(children.top, node.release()); // the top has no children: nothing merges
        }
    }
    ~Placeholders() {
        for (xmlNode* node : m_nodes) {
            xmlUnlinkNode(node);
            xmlFreeNode(node);
        }
    }
    Placeholders(const Placeholders&) = delete;
    Placeholders& operator=(const Placeholders&) = delete;

    /// Where each placeholder's text is in \a text, as [from, to) in the order of the written children; none when
    /// the text holds the prefix anywhere else.
    std::optional<std::vector<std::pair<qsizetype, qsizetype>>> find(QByteArrayView text) const {
        std::vector<std::pair<qsizetype, qsizetype>> places(m_written.size(), {-1, -1});
        std::size_t found = 0;
        for (qsizetype at = text.indexOf(m_prefix); at >= 0; at = text.indexOf(m_prefix, at + 1)) {
            const qsizetype digits = at + m_prefix.size();
            const qsizetype end = text.indexOf('-', digits);
            bool ok = false;
            const qulonglong i = end > digits ? text.sliced(digits, end - digits).toULongLong(&ok) : 0;
            if (!ok || i >= m_written.size() || places[i].first >= 0)
                return std::nullopt;
            qsizetype from = at;
            qsizetype to = end + 1;
            if (m_written[i].indented) {
                // The placeholder's own line: "    <name/>\n".
                const QByteArray indent = indentOf(m_written[i].depth);
                from = at - 1 - indent.size();
                if (from < 0 || text.sliced(from, indent.size()) != indent || text[at - 1] != '<' ||
                    !text.sliced(to).startsWith("/>\n"))
                    return std::nullopt;
                to += 3;
            }
            places[i] = {from, to};
            ++found;
        }
        if (found != m_written.size())
            return std::nullopt;
        return places;
    }

private:
    std::span<const WrittenChildren> m_written;
    QByteArray m_prefix;
    std::vector<xmlNode*> m_nodes;
};

// The document as text, with the placeholders standing in for the written children.
QByteArray writeSkeleton(xmlDoc* doc, bool withDeclaration) {
    const PreserveMarkers markers(rootElement(doc));
    // XML_SAVE_NO_XHTML: an XHTML document type must not switch the output to XHTML rules.
    const int options = XML_SAVE_FORMAT | XML_SAVE_NO_XHTML | (withDeclaration ? 0 : XML_SAVE_NO_DECL);
    QByteArray text;
    const XmlSaveContext save(xmlSaveToIO(&appendToBytes, nullptr, &text, "UTF-8", options));
    if (!save || xmlSaveDoc(save.get(), doc) < 0 || xmlSaveFlush(save.get()) < 0)
        throw std::bad_alloc(); // writing into memory fails for want of memory only
    return text;
}

} // namespace

/// A new file that is removed again unless every byte reached it.
class SaveTarget {
public:
    explicit SaveTarget(const QString& path)
        : m_file(path) {
        // A plain file, not QSaveFile: the working file is new in a private folder, and syncing a large result to
        // disk would only cost time. Unbuffered: the blocks are large, and a failed write is seen at once.
        if (!m_file.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
            throw Failure(QStringLiteral("%1: %2").arg(path, m_file.errorString()));
    }
    ~SaveTarget() {
        if (m_file.isOpen()) {
            m_file.close();
            m_file.remove();
        }
    }
    SaveTarget(const SaveTarget&) = delete;
    SaveTarget& operator=(const SaveTarget&) = delete;

    void write(QByteArrayView bytes) {
        if (!writeWhole(m_file, bytes))
            fail();
    }

    /// Copies what it can of \a length bytes of \a source from \a offset on without reading them here, and
    /// returns how many it copied: the caller writes the rest, and that write tells of a failure.
    qint64 copy(QFileDevice& source, qint64 offset, qint64 length, const std::stop_token& stop) {
        // In steps, so that a stop is heard within a fraction of a second.
        constexpr qint64 kStep = qint64(64) << 20;
        qint64 copied = 0;
        while (copied < length) {
            if (stop.stop_requested())
                throw StopRequested{}; // the target removes what it wrote
            const qint64 step = std::min(kStep, length - copied);
            const qint64 n = copyInKernel(source, offset + copied, m_file, step);
            if (n > 0)
                copied += n;
            if (n != step)
                break;
        }
        return copied;
    }

    /// Writes \a text, each range of a file that it can copied inside the kernel.
    void write(SplicedText& text, const std::stop_token& stop) {
        text.readAll(
            [&](QByteArrayView block) {
                if (stop.stop_requested())
                    throw StopRequested{}; // the target removes what it wrote
                write(block);
            },
            [&](QFileDevice& file, qint64 offset, qint64 length) { return copy(file, offset, length, stop); });
    }

    /// What was written from \a offset on, read back.
    ChunkedText readFrom(qint64 offset) {
        ChunkedText text;
        if (!m_file.seek(offset))
            fail();
        QByteArray block;
        for (qint64 left = m_file.size() - offset; left > 0; left -= block.size()) {
            block.resize(qsizetype(std::min<qint64>(left, kStreamBlockSize)));
            if (m_file.read(block.data(), block.size()) != block.size())
                fail();
            text.append(block);
        }
        return text;
    }

    /// Drops what was written from \a size on; what comes next goes there.
    void truncate(qint64 size) {
        if (!m_file.resize(size) || !m_file.seek(size))
            fail();
    }

    /// Has the system start writing what the file holds to its disk, without waiting for it.
    void startWritingBack() { startWritingToDisk(m_file); }

    void finish() {
        if (!m_file.flush())
            fail();
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            fail();
    }

private:
    [[noreturn]] void fail() {
        const QString reason = m_file.error() != QFileDevice::NoError
                                   ? m_file.errorString()
                                   : QStringLiteral("The document could not be written.");
        m_file.close();
        m_file.remove();
        throw Failure(QStringLiteral("%1: %2").arg(m_file.fileName(), reason));
    }

    QFile m_file;
};

void ChunkedText::append(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    if (m_chunks.empty() || m_chunks.back().size() + bytes.size() > m_chunks.back().capacity()) {
        // Blocks grow with the text up to a megabyte, so that a short text stays small.
        constexpr qsizetype kLargest = qsizetype(1) << 20;
        const qsizetype grown = m_chunks.empty() ? 256 : std::min(kLargest, 2 * m_chunks.back().capacity());
        m_chunks.emplace_back();
        m_chunks.back().reserve(std::max(grown, bytes.size()));
    }
    m_chunks.back().append(bytes);
    m_size += bytes.size();
}

void ChunkedText::moveTo(Cursor& cursor, qsizetype length, ChunkedText* into) {
    while (length > 0 && cursor.chunk < m_chunks.size()) {
        QByteArray& chunk = m_chunks[cursor.chunk];
        const qsizetype count = std::min(length, chunk.size() - cursor.offset);
        if (into)
            into->append(QByteArrayView(chunk).sliced(cursor.offset, count));
        cursor.offset += count;
        cursor.position += count;
        length -= count;
        if (cursor.offset == chunk.size()) {
            chunk = QByteArray();
            ++cursor.chunk;
            cursor.offset = 0;
        }
    }
}

struct NodeWriter::Output {
    ChunkedText* target = nullptr;
    bool failed = false;
    std::unique_ptr<xmlOutputBuffer, decltype(&xmlOutputBufferClose)> buffer{nullptr, &xmlOutputBufferClose};

    static int write(void* context, const char* bytes, int length) {
        auto* output = static_cast<Output*>(context);
        if (!output->target)
            return length; // the buffer is closed unused: nothing was written
        try {
            output->target->append(QByteArrayView(bytes, length));
        } catch (const std::bad_alloc&) {
            output->failed = true;
            return -1;
        }
        return length;
    }
};

NodeWriter::NodeWriter()
    : m_output(std::make_unique<Output>()) {
    m_output->buffer.reset(xmlOutputBufferCreateIO(&Output::write, nullptr, m_output.get(), nullptr));
    if (!m_output->buffer)
        throw std::bad_alloc();
}

NodeWriter::~NodeWriter() = default;

void NodeWriter::write(xmlNode* node, bool indented, ChunkedText& into, int depth) {
    xmlOutputBuffer* buffer = m_output->buffer.get();
    m_output->target = &into;
    const NamedEncoding encoding(node->doc);
    std::optional<PreserveMarkers> markers;
    if (indented) {
        markers.emplace(node);
        const QByteArray indent = indentOf(depth);
        xmlOutputBufferWrite(buffer, int(indent.size()), indent.constData());
    }
    // No document: its document type must not switch the output to XHTML rules, as saveXmlDocument() says.
    xmlNodeDumpOutput(buffer, nullptr, node, depth, indented ? 1 : 0, "UTF-8");
    if (indented)
        xmlOutputBufferWrite(buffer, 1, "\n");
    if (xmlOutputBufferFlush(buffer) < 0 || buffer->error != 0 || m_output->failed)
        throw std::bad_alloc(); // writing into memory fails for want of memory only
}

bool indentsChildren(const xmlNode* element, bool textLikeChild) {
    return !textLikeChild && !isSpacePreserve(element, false);
}

namespace {

// The document as text, and where each of the written children goes in it.
std::pair<QByteArray, std::vector<std::pair<qsizetype, qsizetype>>>
skeletonAndPlaces(xmlDoc* doc, const QString& path, bool withDeclaration, std::span<const WrittenChildren> written) {
    if (path.isEmpty())
        throw Failure(QStringLiteral("There is no working file to save the result to."));
    QByteArray skeleton;
    std::optional<std::vector<std::pair<qsizetype, qsizetype>>> found;
    // A document that holds a placeholder's random prefix itself gets another one.
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
        const Placeholders placeholders(written);
        skeleton = writeSkeleton(doc, withDeclaration);
        found = placeholders.find(skeleton);
    }
    if (!found)
        throw Failure(QStringLiteral("%1: The document could not be written.").arg(path));
    return {std::move(skeleton), std::move(*found)};
}

} // namespace

void saveXmlDocument(xmlDoc* doc, const QString& path, bool withDeclaration, std::span<const WrittenChildren> written,
                     const std::stop_token& stop) {
    const auto laidOut = skeletonAndPlaces(doc, path, withDeclaration, written);
    const QByteArray& skeleton = laidOut.first;
    const std::vector<std::pair<qsizetype, qsizetype>>& places = laidOut.second;
    // In document order, which is the order of the top-level elements only by chance.
    std::vector<std::size_t> order(written.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return places[a] < places[b]; });

    SaveTarget target(path);
    qsizetype done = 0;
    for (const std::size_t i : order) {
        target.write(QByteArrayView(skeleton).sliced(done, places[i].first - done));
        if (written[i].spilled) {
            target.write(*written[i].spilled, stop);
        } else {
            for (const QByteArray& chunk : written[i].text->chunks()) {
                if (stop.stop_requested())
                    throw StopRequested{}; // the target removes what it wrote
                target.write(chunk);
            }
        }
        done = places[i].second;
    }
    target.write(QByteArrayView(skeleton).sliced(done));
    target.finish();
}

StreamedSave::StreamedSave(xmlDoc* doc, QString path, bool withDeclaration, const WrittenChildren& children)
    : m_doc(doc)
    , m_path(std::move(path))
    , m_withDeclaration(withDeclaration)
    , m_children{children.top, children.indented, nullptr, children.depth}
    , m_target(std::make_unique<SaveTarget>(m_path)) {
    writeHead();
}

StreamedSave::~StreamedSave() = default;

void StreamedSave::writeHead() {
    const auto [skeleton, places] = skeletonAndPlaces(m_doc, m_path, m_withDeclaration, {&m_children, 1});
    m_headSize = places.front().first;
    m_tail = skeleton.sliced(places.front().second);
    m_target->write(QByteArrayView(skeleton).first(m_headSize));
}

void StreamedSave::append(SplicedText& children, const std::stop_token& stop) {
    m_target->write(children, stop);
    m_target->startWritingBack();
}

ChunkedText StreamedSave::written() {
    return m_target->readFrom(m_headSize);
}

void StreamedSave::restart(bool indented) {
    m_children.indented = indented;
    m_target->truncate(0);
    writeHead();
}

void StreamedSave::finish() {
    m_target->write(m_tail);
    m_target->finish();
}

} // namespace corvanta
