#include "engine/text/splicedtext.h"

#include "engine/text/failure.h"

#include <QByteArray>
#include <algorithm>

namespace corvanta {

namespace {

constexpr qint64 kReadBlock = qint64(1) << 20;

// A range shorter than this is read into the text's own bytes once the next one is known not to continue it:
// what it saves is not worth a piece of its own, a call to read it, and a file kept open for it.
constexpr qint64 kShortestRange = qint64(64) << 10;

void readRange(QFileDevice& file, qint64 offset, qint64 length, const std::function<void(QByteArrayView)>& sink) {
    if (length <= 0)
        return;
    if (!file.seek(offset))
        throw Failure(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    QByteArray block;
    while (length > 0) {
        block.resize(std::min(length, kReadBlock));
        if (file.read(block.data(), block.size()) != block.size())
            throw Failure(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
        sink(block);
        length -= block.size();
    }
}

} // namespace

SplicedText::SplicedText(QString folder, qsizetype memoryLimit)
    : m_own(std::move(folder), memoryLimit) {}

void SplicedText::append(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return;
    settleLast();
    m_own.append(bytes);
    if (m_pieces.empty() || m_pieces.back().file)
        m_pieces.push_back({});
    m_pieces.back().length += bytes.size();
    m_size += bytes.size();
}

void SplicedText::append(std::shared_ptr<QFileDevice> file, qint64 offset, qint64 length) {
    if (length <= 0)
        return;
    if (!m_pieces.empty() && m_pieces.back().file == file &&
        m_pieces.back().offset + m_pieces.back().length == offset) {
        m_pieces.back().length += length;
    } else {
        settleLast();
        m_pieces.push_back({std::move(file), offset, length});
    }
    m_size += length;
}

void SplicedText::settleLast() {
    if (m_pieces.empty() || !m_pieces.back().file || m_pieces.back().length >= kShortestRange)
        return;
    const Piece last = std::move(m_pieces.back());
    m_pieces.pop_back();
    m_size -= last.length;
    readRange(*last.file, last.offset, last.length, [this](QByteArrayView block) { append(block); });
}

void SplicedText::readAll(const std::function<void(QByteArrayView)>& sink, const RangeCopy& copy) {
    qsizetype ownPosition = 0;
    for (const Piece& piece : m_pieces) {
        if (!piece.file) {
            m_own.read(ownPosition, piece.length, sink);
            continue;
        }
        const qint64 copied =
            copy ? std::clamp<qint64>(copy(*piece.file, piece.offset, piece.length), 0, piece.length) : 0;
        readRange(*piece.file, piece.offset + copied, piece.length - copied, sink);
    }
}

} // namespace corvanta
