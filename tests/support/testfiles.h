#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

/// Writes \a bytes to \a path (creating folders on the way); fails the current test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
/// The bytes of \a path; fails the current test when it cannot be read.
QByteArray readFile(const QString& path);
/// Canonical XML (C14N 1.0, without comments unless \a withComments) of a document text, whitespace-only text
/// dropped except under xml:space="preserve" (indentation does not count, as in Merge).
QByteArray canonicalXml(const QByteArray& xml, bool withComments = false);
/// Makes \a folder a fresh temporary folder and points TEMP at it, so a join's working folder can be watched.
void useFreshWorkingFolder(std::unique_ptr<QTemporaryDir>& folder);

/// While it lives, no file this process writes may grow past \a bytes: writes beyond fail as on a full disk
/// (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    qint64 m_previous;
    void (*m_previousHandler)(int);
};
