#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QTemporaryFile>
#include <functional>
#include <memory>

namespace corvanta {

class SplicedText;

/// What a text written on a parsing thread, ahead of the join, keeps in memory before it goes on in its file.
inline constexpr qsizetype kAheadTextMemory = qsizetype(1) << 20;

/// A text that is written once, front to back, and read once, front to back: it stays in memory up to a limit and
/// goes on in a hidden file of its own beyond it, so that a text of gigabytes takes a few megabytes of memory.
/// Without a folder for the file, it all stays in memory.
class SpillingText {
public:
    /// \a folder holds the file, removed with this; \a memoryLimit bytes are kept in memory before it is used.
    explicit SpillingText(QString folder = {}, qsizetype memoryLimit = qsizetype(4) << 20);
    ~SpillingText();
    SpillingText(SpillingText&&) noexcept;
    SpillingText& operator=(SpillingText&&) noexcept;

    /// Where the file cannot take the bytes (a full disk), the text stays in memory from then on: the save it is
    /// written for meets the same disk, and tells of it. Throws std::bad_alloc when memory runs out.
    void append(QByteArrayView bytes);
    qsizetype size() const { return m_fileSize + m_memory.size(); }
    bool isEmpty() const { return size() == 0; }

    /// Hands the \a length bytes from \a position on to \a sink, block by block, and moves \a position past them.
    /// Throws Failure when the file cannot be read.
    void read(qsizetype& position, qsizetype length, const std::function<void(QByteArrayView)>& sink);
    /// Hands the whole text to \a sink, block by block.
    void readAll(const std::function<void(QByteArrayView)>& sink) {
        qsizetype position = 0;
        read(position, size(), sink);
    }
    /// As read() into \a into, but what lies in the file stays there: \a into keeps the file and reads it when it
    /// is read. Nothing may be appended to this afterwards. Throws Failure when the file cannot be read or flushed.
    void spliceInto(SplicedText& into, qsizetype& position, qsizetype length);

private:
    void spill();

    QString m_folder;
    qsizetype m_memoryLimit;
    std::shared_ptr<QTemporaryFile> m_file; // shared with the texts it is spliced into
    qsizetype m_fileSize = 0;
    bool m_spillFailed = false;
    QByteArray m_memory; // what comes after the file's bytes
};

} // namespace corvanta
