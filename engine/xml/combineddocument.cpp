#include "engine/xml/combineddocument.h"

#include "engine/text/failure.h"
#include "engine/xml/mergeddocument.h"
#include "engine/xml/recordednode.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cstring>

namespace corvanta {

namespace {

bool isBlankText(const xmlNode* node) {
    return node->type == XML_TEXT_NODE && xmlIsBlankNode(const_cast<xmlNode*>(node));
}

bool anyTextLike(const xmlNode* first) {
    for (const xmlNode* node = first; node; node = node->next)
        if (isTextLike(node))
            return true;
    return false;
}

} // namespace

namespace {

NodeHash hashValue(const QCryptographicHash& hash) {
    const QByteArrayView result = hash.resultView();
    NodeHash value{};
    std::memcpy(value.data(), result.data(), std::min<std::size_t>(sizeof value, std::size_t(result.size())));
    return value;
}

} // namespace

NodeHash hashOf(const ChunkedText& text) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QByteArray& chunk : text.chunks())
        hash.addData(chunk);
    return hashValue(hash);
}

NodeHash hashOf(QByteArrayView text) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(text);
    return hashValue(hash);
}

RootChildrenWriter::RootChildrenWriter(bool hashes, const QString& folder, Announce announce)
    : m_first(true)
    , m_roleKnown(true)
    , m_hashes(hashes)
    , m_announce(std::move(announce))
    , m_folder(folder)
    , m_text(folder, kAheadTextMemory) {}

RootChildrenWriter::RootChildrenWriter(TargetSource source, qsizetype sourceSize, bool hashes, const QString& folder)
    : m_first(false)
    , m_roleKnown(false)
    , m_hashes(hashes)
    , m_source(std::move(source))
    , m_sourceSize(sourceSize)
    , m_folder(folder)
    , m_text(folder, kAheadTextMemory) {}

namespace {

// A document of the root element alone, with its namespace declarations: all that the later nodes' texts depend on
// in a first document read from its text.
std::shared_ptr<const CombineTarget> provisionalTarget(std::string_view rootName,
                                                       std::span<const NamespaceDeclaration> rootDeclarations) {
    std::shared_ptr<xmlDoc> doc(xmlNewDoc(xmlChars("1.0")), XmlDeleter());
    if (!doc)
        throw std::bad_alloc();
    xmlNode* root = elementFromStartTag(doc.get(), nullptr, rootName, rootDeclarations);
    auto target = std::make_shared<CombineTarget>();
    target->doc = std::move(doc);
    target->root = root;
    target->indented = true;
    return target;
}

} // namespace

// Asks the source once what to write for; false when no first document comes.
bool RootChildrenWriter::knowRole() {
    if (m_roleKnown)
        return true;
    const Role role = m_source();
    if (role.first) {
        m_first = true;
    } else if (role.target) {
        m_target = role.target;
        m_mover.emplace(m_target->doc.get());
        m_mover->setSource(m_sourceSize);
    } else {
        return false;
    }
    m_roleKnown = true;
    return true;
}

bool RootChildrenWriter::take(qsizetype /*topIndex*/, xmlNode* node) {
    if (!knowRole())
        return false; // the input stays a tree
    ChunkedText unit;
    bool indented = true;
    bool textLike = false;
    if (m_first) {
        // Kept whole: a text-like node, or any node under xml:space="preserve", makes the document one to hold as
        // a tree.
        if (isTextLike(node) || isSpacePreserve(node->parent, false))
            return false;
        m_writer.write(node, true, unit, 1);
        xmlUnlinkNode(node);
        xmlFreeNode(node);
    } else {
        if (isBlankText(node)) {
            xmlUnlinkNode(node);
            xmlFreeNode(node);
            return true;
        }
        const TakenNodes taken = m_mover->take(node, m_target->root);
        textLike = anyTextLike(taken.nodes.get());
        m_textWritten = m_textWritten || textLike;
        indented = m_target->indented && !m_textWritten;
        for (xmlNode* piece = taken.nodes.get(); piece; piece = piece->next)
            m_writer.write(piece, indented, unit, 1);
    }
    keep(unit, indented, textLike);
    return true;
}

bool RootChildrenWriter::begin(std::string_view rootName, std::span<const NamespaceDeclaration> rootDeclarations) {
    if (!knowRole())
        return false; // the input stays a tree
    if (m_first) {
        if (m_announce)
            m_announce(provisionalTarget(rootName, rootDeclarations));
        return true;
    }
    const auto declares = [&](std::string_view prefix, std::string_view uri) {
        for (const xmlNs* ns = m_target->root->nsDef; ns; ns = ns->next)
            if (prefix == (ns->prefix ? reinterpret_cast<const char*>(ns->prefix) : "") &&
                uri == (ns->href ? reinterpret_cast<const char*>(ns->href) : ""))
                return true;
        return false;
    };
    if (!std::all_of(rootDeclarations.begin(), rootDeclarations.end(), [&](const NamespaceDeclaration& declaration) {
            return declares(declaration.prefix, declaration.uri);
        }))
        return false;
    // A default namespace of the first root would need undeclaring on children in none.
    for (const xmlNs* ns = m_target->root->nsDef; ns; ns = ns->next)
        if (!ns->prefix &&
            std::none_of(rootDeclarations.begin(), rootDeclarations.end(),
                         [](const NamespaceDeclaration& declaration) { return declaration.prefix.empty(); }))
            return false;
    return true;
}

bool RootChildrenWriter::add(const RecordedNode& node) {
    if (node.isBlankText())
        return true; // dropped, as take() drops it
    const bool textLike = node.isTextLike();
    if (m_first && textLike)
        return false; // the first document is then kept as a tree, as take() says
    m_textWritten = m_textWritten || textLike;
    const bool indented = m_first || (m_target->indented && !m_textWritten);
    const QByteArrayView text = node.written(indented);
    m_text.append(text);
    m_units.push_back({text.size(), indented, textLike});
    if (m_hashes)
        m_unitHashes.push_back(hashOf(text));
    return true;
}

void RootChildrenWriter::keep(const ChunkedText& unit, bool indented, bool textLike) {
    for (const QByteArray& chunk : unit.chunks())
        m_text.append(chunk);
    m_units.push_back({unit.size(), indented, textLike});
    if (m_hashes)
        m_unitHashes.push_back(hashOf(unit));
}

// The first input's units were written with indentation, which holds only if none of the root's children turned
// out to be text-like.
bool RootChildrenWriter::fits(const xmlNode* root) const {
    return !m_first || (root && !anyTextLike(root->children));
}

void RootChildrenWriter::forget() {
    m_text = SpillingText(m_folder, kAheadTextMemory);
    m_units.clear();
    m_unitHashes.clear();
    m_next = 0;
    m_position = 0;
    m_textWritten = false;
}

void RootChildrenWriter::moveNext(ChunkedText* into) {
    const Unit& unit = m_units.at(m_next++);
    if (into)
        m_text.read(m_position, unit.length, [into](QByteArrayView block) { into->append(block); });
    else
        m_position += unit.length;
}

void RootChildrenWriter::moveNext(SplicedText& into) {
    m_text.spliceInto(into, m_position, m_units.at(m_next++).length);
}

CombinedDocument::CombinedDocument(ParsedXml first, RootChildrenWriter* written, bool unique, const QString& folder)
    : m_doc(first.doc.release(), XmlDeleter())
    , m_root(rootElement(m_doc.get()))
    , m_hasDeclaration(first.hasDeclaration)
    , m_unique(unique)
    , m_folder(folder)
    , m_children(folder) {
    if (!m_root)
        return;
    m_indentable = indentsChildren(m_root, false);
    m_textLike = anyTextLike(m_root->children);
    m_mover.emplace(m_doc.get());
    // The first document's units were written with indentation, which fits() made sure of.
    if (written) {
        while (!written->atEnd()) {
            if (m_unique)
                m_seen.insert(written->nextHash());
            written->moveNext(m_children);
            m_hasChildren = true;
        }
    }
    xmlNode* next = nullptr;
    for (xmlNode* child = m_root->children; child; child = next) {
        next = child->next;
        ChunkedText unit;
        m_writer.write(child, indentedNow(), unit, 1);
        xmlUnlinkNode(child);
        xmlFreeNode(child);
        if (m_unique)
            m_seen.insert(hashOf(unit));
        for (const QByteArray& chunk : unit.chunks())
            m_children.append(chunk);
        m_hasChildren = true;
    }
}

const xmlNode* CombinedDocument::root() const {
    return m_root;
}

std::shared_ptr<const CombineTarget> CombinedDocument::target() {
    if (!m_root)
        return nullptr;
    if (!m_target) {
        auto target = std::make_shared<CombineTarget>();
        target->doc = m_doc;
        target->root = m_root;
        target->indented = indentedNow();
        m_target = std::move(target);
    }
    return m_target;
}

// A text-like child turns the indentation of its siblings off, also of those written already: they are read back
// and written again as they are. Rare: it takes the children written so far as a tree at once.
void CombinedDocument::noteTextLike() {
    if (m_textLike)
        return;
    const bool wasIndented = indentedNow();
    m_textLike = true;
    m_target.reset();
    if (!wasIndented)
        return;
    // What the save wrote before the children changes too: it starts again.
    ChunkedText written;
    onSave([&] {
        written = m_save->written();
        m_save->restart(false);
    });
    m_children.readAll([&](QByteArrayView block) { written.append(block); });
    if (written.size() == 0)
        return;
    ChunkedText rewritten;
    writeWithoutIndentation(m_doc.get(), m_root, written, rewritten, m_writer);
    written.clear();
    m_children = SplicedText(m_folder);
    for (const QByteArray& chunk : rewritten.chunks())
        m_children.append(chunk);
}

bool CombinedDocument::isNew(const NodeHash& hash) {
    return !m_unique || m_seen.insert(hash).second;
}

// Adds one unit written as the root's children are written now; \a hash is its hash when known.
bool CombinedDocument::addUnit(const ChunkedText& text, const NodeHash* hash) {
    if (m_unique && !isNew(hash ? *hash : hashOf(text)))
        return false;
    for (const QByteArray& chunk : text.chunks())
        m_children.append(chunk);
    m_hasChildren = true;
    return true;
}

CombinedDocument::Added CombinedDocument::add(RootChildrenWriter* written, xmlNode* root, qsizetype sourceSize,
                                              const std::stop_token& stop) {
    Added added;
    if (!m_root)
        return added;
    m_mover->setSource(sourceSize);
    m_unresolved.clear();
    const auto count = [&](bool isAdded) { ++(isAdded ? added.added : added.repeated); };
    if (written) {
        while (!written->atEnd()) {
            const RootChildrenWriter::Unit unit = written->next();
            if (unit.textLike)
                noteTextLike();
            if (unit.indented && !indentedNow()) {
                ChunkedText text;
                written->moveNext(&text);
                ChunkedText rewritten;
                writeWithoutIndentation(m_doc.get(), m_root, text, rewritten, m_writer);
                count(addUnit(rewritten, nullptr));
            } else if (!m_unique || isNew(written->nextHash())) {
                written->moveNext(m_children);
                m_hasChildren = true;
                count(true);
            } else {
                written->moveNext(nullptr);
                count(false);
            }
        }
        m_unresolved = written->unresolvedEntities();
    }
    xmlNode* next = nullptr;
    for (xmlNode* child = root ? root->children : nullptr; child; child = next) {
        next = child->next;
        if (isBlankText(child)) {
            xmlUnlinkNode(child);
            xmlFreeNode(child);
            continue;
        }
        const TakenNodes taken = m_mover->take(child, m_root);
        if (anyTextLike(taken.nodes.get()))
            noteTextLike();
        ChunkedText text;
        for (xmlNode* piece = taken.nodes.get(); piece; piece = piece->next)
            m_writer.write(piece, indentedNow(), text, 1);
        count(addUnit(text, nullptr));
    }
    for (const QString& entity : m_mover->unresolvedEntities())
        if (!m_unresolved.contains(entity))
            m_unresolved << entity;
    writeOut(stop);
    return added;
}

// A failure of the save's file ends the save: the rest stays here, and save() tells of the failure.
template <typename Saving> void CombinedDocument::onSave(const Saving& saving) {
    if (!m_save)
        return;
    try {
        saving();
    } catch (const Failure&) {
        m_saveFailure = std::current_exception();
        m_save.reset(); // removes its file
    }
}

void CombinedDocument::beginSave(const QString& path, const std::stop_token& stop) {
    if (!m_root || m_save || m_saveFailure)
        return;
    try {
        // The save reads and marks its own copy: the writers ahead read the document meanwhile. Without children
        // the root stays as it is, and only save() knows whether any come.
        m_savedDoc.reset(xmlCopyDoc(m_doc.get(), 1));
        xmlNode* root = rootElement(m_savedDoc.get());
        if (!m_savedDoc || !root)
            throw std::bad_alloc();
        m_save.emplace(m_savedDoc.get(), path, m_hasDeclaration, WrittenChildren{root, indentedNow(), nullptr, 1});
    } catch (const Failure&) {
        m_saveFailure = std::current_exception();
        return;
    }
    writeOut(stop);
}

// Hands the children written so far on to the save, where their ranges of the writers' files are copied inside the
// kernel while the next inputs are parsed, rather than all at the end.
void CombinedDocument::writeOut(const std::stop_token& stop) {
    if (!m_save || m_children.isEmpty())
        return;
    onSave([&] { m_save->append(m_children, stop); });
    if (m_save)
        m_children = SplicedText(m_folder);
}

void CombinedDocument::save(const QString& path, const std::stop_token& stop) {
    if (!m_root)
        return;
    if (m_saveFailure)
        std::rethrow_exception(m_saveFailure);
    if (m_save) {
        if (m_hasChildren) {
            m_save->append(m_children, stop);
            m_save->finish();
            m_save.reset();
            return;
        }
        m_save.reset(); // the root has no children after all: the document is written as it stands
    }
    std::vector<WrittenChildren> written;
    if (m_hasChildren)
        written.push_back({m_root, indentedNow(), nullptr, 1, &m_children});
    saveXmlDocument(m_doc.get(), path, m_hasDeclaration, written, stop);
}

} // namespace corvanta
