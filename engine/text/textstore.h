#pragma once

#include "engine/text/bytesink.h"

#include <QFile>
#include <QString>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

namespace corvanta {

/// A text read in pieces from a file of UTF-8, so that a text of gigabytes costs a few megabytes of memory. Opening
/// it reads the file once and notes where each block of about kBlockBytes starts, in bytes and in UTF-16 units;
/// every block ends on a character's end, so that it decodes alone. Blocks are decoded on demand and the last few
/// kept. A small text can be held in memory instead, with the same interface.
///
/// Offsets and lengths are in UTF-16 units, as QString counts them. Every member may be called from any thread.
class TextStore {
public:
    /// Bytes of UTF-8 per block, before its end is moved to the next character boundary.
    static constexpr qint64 kBlockBytes = qint64(64) * 1024;
    /// Decoded blocks kept at most.
    static constexpr int kCachedBlocks = 32;

    /// An empty text.
    TextStore();
    /// \a text, held as it is.
    explicit TextStore(QString text);
    ~TextStore();
    TextStore(const TextStore&) = delete;
    TextStore& operator=(const TextStore&) = delete;

    /// The text that JoinedText::text() makes of the file at \a path, read block by block: UTF-8 as it is; a text in
    /// another encoding, or with bytes that are not UTF-8, goes into a private copy in UTF-8 beside \a path first,
    /// which takes no name in the folder. The file stays open, so its text can be read after \a path is removed.
    /// Throws Failure when the file (or the copy) cannot be read or written, and StopRequested within a block once
    /// \a stop is requested.
    static std::shared_ptr<const TextStore> open(const QString& path, const std::stop_token& stop = {});

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    /// True when the text is held in memory rather than read from a file.
    bool isInMemory() const { return m_descriptor < 0; }

    /// The character at \a offset; a null character outside the text.
    QChar at(qsizetype offset) const;
    /// \a length units from \a start, clamped to the text.
    QString mid(qsizetype start, qsizetype length) const;
    /// mid() past the cache: the blocks it needs are read and decoded afresh, and nothing that another call changes
    /// is touched, so any thread may call it beside any other member without waiting. For a walk through the text
    /// (find), which would otherwise push the blocks others use out of the cache.
    QString read(qsizetype start, qsizetype length) const;
    /// The whole text: only for texts known to be small.
    QString whole() const { return mid(0, m_size); }

    /// One block of the text, for walking it: starting at \a start.
    struct Piece {
        qsizetype start = 0;
        QString text;
        qsizetype end() const { return start + text.size(); }
    };
    /// The block that holds \a offset (the last one for the text's end); empty for an empty text. A text held in
    /// memory is one block.
    Piece pieceAt(qsizetype offset) const;

    /// The text in UTF-8 (the system code page): for a text read from a file, that file's bytes as they are, copied
    /// by the kernel where \a sink is a file. Throws Failure when the file cannot be read, and whatever \a sink
    /// throws.
    void writeTo(ByteSink& sink) const;
    /// Bytes writeTo() hands on.
    qint64 byteSize() const;

    /// Where a block starts, in the file and in the text.
    struct Block {
        qint64 byte = 0;
        qsizetype unit = 0;
    };

private:
    struct Cached {
        qsizetype block = -1;
        QString text;
        quint64 used = 0;
    };

    qsizetype blockOf(qsizetype offset) const;
    QString blockText(qsizetype block) const;
    QString decodeBlock(qsizetype block) const;
    QString span(qsizetype start, qsizetype length, QString (TextStore::*blockAt)(qsizetype) const) const;

    // m_memory, m_size, m_blocks and m_descriptor are set by the constructor or open() and never change after, so
    // any thread reads them without the lock; blocks are read from m_descriptor with pread(), which moves no
    // position.
    QString m_memory;      // the text, when held in memory
    mutable QFile m_file;  // the UTF-8 the text is read from, otherwise; open for the store's life
    int m_descriptor = -1; // m_file's, while the text is read from it
    qsizetype m_size = 0;
    std::vector<Block> m_blocks; // in order, and one more for the end of the file and text
    // The decoded blocks last used, and a counter that orders their use. Guarded by m_mutex, as is m_file's
    // position, which only writeTo() moves (blocks are read without it).
    mutable std::mutex m_mutex;
    mutable std::vector<Cached> m_cache;
    mutable quint64 m_uses = 0;
};

} // namespace corvanta
