#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <libxml/tree.h>
#include <memory>

/// Writes \a bytes to \a path (creating folders on the way); fails the current test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);
/// The bytes of \a path; fails the current test when it cannot be read.
QByteArray readFile(const QString& path);
/// Canonical XML (C14N 1.0, without comments unless \a withComments) of a document text, whitespace-only text
/// dropped where Merge drops it: in elements without text of their own, outside xml:space="preserve". With
/// \a replaceEntities, entity references are compared by their text. The text is UTF-8 whatever its declaration says.
QByteArray canonicalXml(const QByteArray& xml, bool withComments = false, bool replaceEntities = false);
/// Removes whitespace-only text where Merge treats it as indentation: in elements at or below \a root without text
/// of their own (text that is not only white space, CDATA or an entity reference), outside xml:space="preserve".
void dropIndentation(xmlNode* root);
/// Makes \a folder a fresh temporary folder and points TEMP at it, so a join's working folder can be watched.
void useFreshWorkingFolder(std::unique_ptr<QTemporaryDir>& folder);

/// While it lives, no file of this process may grow past \a bytes: a write beyond fails as on a full disk, with
/// the system's reason "File too large" (the signal the system would send instead is ignored).
class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long m_previous = 0;
    void (*m_previousHandler)(int) = nullptr;
};
