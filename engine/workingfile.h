#pragma once

#include "bytesink.h"

#include <QFile>
#include <QString>

namespace corvanta {

/// The working file of an Append run, kept open from the first append to the end of the run. Each input's text is
/// streamed to its end block by block as it is read. A write that fails is not reported (the join does not examine
/// it), but it never leaves part of an input behind.
class WorkingFileAppender {
public:
    explicit WorkingFileAppender(QString path, qint64 blockSize = kStreamBlockSize)
        : m_file(std::move(path))
        , m_blockSize(blockSize) {}

    /// Appends the text of \a input as readTextFileEncoded() makes it, creating the working file when it is
    /// missing. Throws Failure when the input cannot be read; nothing of it then stays in the working file.
    void appendFile(const QString& input);
    /// Appends the text of \a input as one element of a wrapped document: without its byte order mark, XML
    /// declaration and document type declaration, followed by a line break; nothing for a missing or empty input.
    /// Returns true when the removed document type declaration declared entities. Throws as appendFile() does.
    bool appendWrappedFile(const QString& input);
    /// Appends \a bytes, already in the system code page.
    void appendBytes(QByteArrayView bytes);

    /// True while the working file holds nothing but whole texts in the system code page.
    bool holdsWholeTexts() const { return m_whole; }
    /// Why the last write failed; empty when it did not.
    QString lastWriteError() const { return m_writeError; }

private:
    template <typename Body> void append(Body&& body);
    bool open();

    QFile m_file;
    qint64 m_blockSize;
    bool m_whole = true;
    QString m_writeError;
};

} // namespace corvanta
