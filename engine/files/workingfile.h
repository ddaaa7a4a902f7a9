#pragma once

#include "engine/text/bytesink.h"
#include "engine/text/textfile.h"

#include <QFile>
#include <QString>
#include <optional>
#include <stop_token>

namespace corvanta {

/// The working file of an Append run, kept open from the first append to the end of the run. Each input's text is
/// streamed to its end block by block as it is read. A write that fails does not throw: lastWriteError() keeps its
/// reason for the join to report, and nothing of the input it cut short stays in the file. Once \a stop is
/// requested, an append in progress ends at its next block, throwing StopRequested, and leaves nothing of its input.
class WorkingFileAppender {
public:
    explicit WorkingFileAppender(const QString& path, qint64 blockSize = kStreamBlockSize, std::stop_token stop = {})
        : m_file(path)
        , m_blockSize(blockSize)
        , m_stop(std::move(stop)) {}

    /// Appends the text of \a input as readTextFileEncoded() makes it, creating the working file when it is
    /// missing. Throws Failure when the input is missing or cannot be read; nothing of it then stays in the working
    /// file.
    void appendFile(const QString& input);
    /// Appends the text of \a input as one element of a wrapped document: without its byte order mark, XML
    /// declaration and document type declaration, followed by a line break; nothing for an empty input.
    /// Returns true when the removed document type declaration declared entities. Throws as appendFile() does.
    bool appendWrappedFile(const QString& input);
    /// Appends \a bytes, already in the system code page.
    void appendBytes(QByteArrayView bytes);

    /// How the input of the last appendFile() or appendWrappedFile() was read; empty when it could not be.
    const std::optional<TextReading>& lastReading() const { return m_lastReading; }
    /// The bytes that the last append added to the working file.
    qint64 lastAdded() const { return m_lastAdded; }

    /// True while the working file holds nothing but whole texts in the system code page.
    bool holdsWholeTexts() const { return m_whole; }
    /// Why the last write failed; empty when it did not.
    QString lastWriteError() const { return m_writeError; }

private:
    template <typename Body> void append(Body&& body);
    bool open();
    void requireInput(const TextFileReader& reader);

    QFile m_file;
    qint64 m_blockSize;
    std::stop_token m_stop;
    bool m_whole = true;
    std::optional<TextReading> m_lastReading;
    qint64 m_lastAdded = 0;
    QString m_writeError;
};

} // namespace corvanta
