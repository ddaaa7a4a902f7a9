#include "engine/text/textstore.h"

#include "engine/text/codepage.h"
#include "engine/text/failure.h"
#include "engine/text/filepath.h"
#include "engine/text/textfile.h"

#include <QStringDecoder>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace corvanta {

namespace {

// Notes block starts while the UTF-8 goes by: a block ends at the first character that starts kBlockBytes or more
// after its own start, so no character, and no surrogate pair, is ever cut.
class BlockIndexer {
public:
    explicit BlockIndexer(std::vector<TextStore::Block>& blocks)
        : m_blocks(blocks) {
        m_blocks.push_back({0, 0});
    }

    void take(QByteArrayView bytes) {
        const auto* data = reinterpret_cast<const uchar*>(bytes.data());
        const qsizetype size = bytes.size();
        // A continuation byte adds no unit, the lead byte of four adds a surrogate pair's two.
        const auto unitsOf = [](uchar byte) { return qsizetype((byte & 0xC0) != 0x80) + qsizetype(byte >= 0xF0); };
        for (qsizetype i = 0; i < size;) {
            const qint64 due = m_blocks.back().byte + TextStore::kBlockBytes - (m_byte + i);
            if (due > 0) {
                // Short of a block's end only units are counted, in a loop the compiler can widen.
                const qsizetype end = i + qsizetype(std::min<qint64>(due, size - i));
                qsizetype units = 0;
                for (; i < end; ++i)
                    units += unitsOf(data[i]);
                m_units += units;
                continue;
            }
            if ((data[i] & 0xC0) != 0x80)
                m_blocks.push_back({m_byte + i, m_units});
            m_units += unitsOf(data[i]);
            ++i;
        }
        m_byte += size;
    }
    /// Ends the index with the end of the file and text; returns the text's size.
    qsizetype finish() {
        m_blocks.push_back({m_byte, m_units});
        return m_units;
    }
    qint64 bytes() const { return m_byte; }

private:
    std::vector<TextStore::Block>& m_blocks;
    qint64 m_byte = 0;
    qsizetype m_units = 0;
};

// Reads \a size bytes at \a offset; fewer when the file ends or fails.
QByteArray readAt(int descriptor, qint64 offset, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 got = 0;
    while (got < size) {
        const ssize_t n = ::pread(descriptor, bytes.data() + got, size_t(size - got), offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

// Opens the private copy beside \a path and takes its name away at once: nothing is left behind, however the
// program ends.
void openPrivateCopy(QFile& copy, const QString& path) {
    copy.setFileName(path + QStringLiteral(".utf8"));
    if (!copy.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered))
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(copy.fileName()), copy.errorString()));
    ::unlink(nativePath(copy.fileName()).constData());
}

void writeCopy(QFile& copy, QByteArrayView bytes) {
    if (!writeWhole(copy, bytes))
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(copy.fileName()), copy.errorString()));
}

} // namespace

TextStore::TextStore() = default;

TextStore::TextStore(QString text)
    : m_memory(std::move(text))
    , m_size(m_memory.size()) {}

TextStore::~TextStore() = default;

std::shared_ptr<const TextStore> TextStore::open(const QString& path, const std::stop_token& stop) {
    TextFileReader reader(path, kStreamBlockSize, stop, TextFileReader::Declarations::Ignored);
    if (!reader.exists())
        return std::make_shared<const TextStore>();
    if (reader.isEmpty()) {
        QByteArray text;
        reader.readPiece(text);
        return std::make_shared<const TextStore>(decodeSystemCodePage(text));
    }
    auto store = std::make_shared<TextStore>();
    QFile& file = store->m_file;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(path), file.errorString()));
    // The reader hands on UTF-8 throughout. While it reads the file as UTF-8 unchanged, its pieces are the file's
    // bytes, and the file is read as it is; from the first piece that differs, its text goes into a private copy.
    BlockIndexer index(store->m_blocks);
    bool copying = false;
    QByteArray piece;
    while (reader.readPiece(piece)) {
        if (stop.stop_requested())
            throw StopRequested{};
        if (!copying && reader.reading() != TextReading::Utf8) {
            QFile copy;
            openPrivateCopy(copy, path);
            for (qint64 at = 0; at < index.bytes(); at += kStreamBlockSize) {
                if (stop.stop_requested())
                    throw StopRequested{};
                const qint64 wanted = std::min(kStreamBlockSize, index.bytes() - at);
                const QByteArray bytes = readAt(file.handle(), at, wanted);
                if (bytes.size() != wanted) // the copy must be what was indexed, byte for byte
                    throw Failure(QStringLiteral("%1: %2").arg(displayPath(path), qt_error_string(errno)));
                writeCopy(copy, bytes);
            }
            file.close();
            file.setFileName(copy.fileName());
            // The store's file takes a descriptor of its own: the copy closes its one as it goes.
            const int descriptor = ::dup(copy.handle());
            if (descriptor < 0 ||
                !file.open(descriptor, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
                if (descriptor >= 0)
                    ::close(descriptor);
                throw Failure(QStringLiteral("%1: %2").arg(displayPath(copy.fileName()), qt_error_string(errno)));
            }
            copying = true;
        }
        if (copying)
            writeCopy(file, piece);
        index.take(piece);
    }
    store->m_size = index.finish();
    store->m_descriptor = file.handle();
    return store;
}

QChar TextStore::at(qsizetype offset) const {
    if (offset < 0 || offset >= m_size)
        return {};
    if (isInMemory())
        return m_memory.at(offset);
    const qsizetype block = blockOf(offset);
    return blockText(block).at(offset - m_blocks[size_t(block)].unit);
}

QString TextStore::mid(qsizetype start, qsizetype length) const {
    return span(start, length, &TextStore::blockText);
}

QString TextStore::read(qsizetype start, qsizetype length) const {
    return span(start, length, &TextStore::decodeBlock);
}

QString TextStore::span(qsizetype start, qsizetype length, QString (TextStore::*blockAt)(qsizetype) const) const {
    start = std::clamp<qsizetype>(start, 0, m_size);
    length = std::clamp<qsizetype>(length, 0, m_size - start);
    if (isInMemory())
        return m_memory.mid(start, length);
    const qsizetype end = start + length;
    QString text;
    for (qsizetype at = start; at < end;) {
        const qsizetype block = blockOf(at);
        QString part = (this->*blockAt)(block);
        const qsizetype from = at - m_blocks[size_t(block)].unit;
        const qsizetype take = std::min(part.size() - from, end - at);
        if (from == 0 && take == part.size() && take == length)
            return part; // one whole block: shared, not copied
        if (text.isEmpty())
            text.reserve(length);
        text.append(QStringView(part).sliced(from, take));
        at += take;
    }
    return text;
}

TextStore::Piece TextStore::pieceAt(qsizetype offset) const {
    if (isInMemory())
        return {0, m_memory};
    if (m_blocks.size() < 2)
        return {};
    const qsizetype block = blockOf(offset);
    return {m_blocks[size_t(block)].unit, blockText(block)};
}

void TextStore::writeTo(ByteSink& sink) const {
    if (isInMemory()) {
        sink.write(encodeSystemCodePage(m_memory));
        return;
    }
    const std::lock_guard lock(m_mutex);
    if (!m_file.seek(0))
        throw Failure(QStringLiteral("%1: %2").arg(displayPath(m_file.fileName()), m_file.errorString()));
    sink.writeRestOf(m_file);
}

qint64 TextStore::byteSize() const {
    if (isInMemory())
        return encodeSystemCodePage(m_memory).size();
    return m_blocks.empty() ? 0 : m_blocks.back().byte;
}

qsizetype TextStore::blockOf(qsizetype offset) const {
    // The last entry only ends the text: an offset at or past the end is in the last block.
    const auto after = std::upper_bound(m_blocks.begin(), m_blocks.end() - 1, offset,
                                        [](qsizetype value, const Block& block) { return value < block.unit; });
    return std::max<qsizetype>(0, qsizetype(after - m_blocks.begin()) - 1);
}

QString TextStore::blockText(qsizetype block) const {
    const std::lock_guard lock(m_mutex);
    const quint64 use = ++m_uses;
    for (Cached& cached : m_cache) {
        if (cached.block == block) {
            cached.used = use;
            return cached.text;
        }
    }
    QString text = decodeBlock(block);
    if (qsizetype(m_cache.size()) < kCachedBlocks) {
        m_cache.push_back({block, text, use});
    } else {
        Cached& oldest = *std::min_element(m_cache.begin(), m_cache.end(),
                                           [](const Cached& a, const Cached& b) { return a.used < b.used; });
        oldest = {block, text, use};
    }
    return text;
}

QString TextStore::decodeBlock(qsizetype block) const {
    const Block& start = m_blocks[size_t(block)];
    const Block& end = m_blocks[size_t(block) + 1];
    // A mark at a block's start stays text, as at the text's start.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(readAt(m_descriptor, start.byte, end.byte - start.byte));
    // The file is private and was read whole once; should it fail now, the block reads as replacement characters
    // rather than shift every offset after it.
    text.resize(end.unit - start.unit, QChar::ReplacementCharacter);
    return text;
}

} // namespace corvanta
