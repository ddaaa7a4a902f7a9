#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>
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

/// The folders of one test, made anew for each by renew() (from init()): one for its files and, unless told
/// otherwise, one that TEMP points at, where a join makes its working folder, so that what a join leaves there can
/// be watched. The folders of the test before go with everything in them.
class TestFolders {
public:
    enum class Temp { Fresh, Unchanged };
    explicit TestFolders(Temp temp = Temp::Fresh)
        : m_freshTemp(temp == Temp::Fresh) {}

    /// Makes the folders anew; fails the current test when one cannot be made.
    void renew();
    /// The folder for the test's files.
    QString path() const { return m_files->path(); }
    /// Path of \a name in the folder for the test's files.
    QString filePath(const QString& name) const { return m_files->filePath(name); }
    /// The folder TEMP points at (with Temp::Fresh).
    QString tempPath() const { return m_temp->path(); }
    /// Writes each of \a texts to a file of its own in the folder for the test's files, named by \a pattern with
    /// its number from 1 (each call starts again at 1); the paths in order.
    QStringList writeFiles(const QByteArrayList& texts, const QString& pattern = QStringLiteral("in%1.xml")) const;
    /// What is left in the folder TEMP points at, hidden entries included.
    QStringList tempEntries() const;

private:
    bool m_freshTemp;
    std::unique_ptr<QTemporaryDir> m_files;
    std::unique_ptr<QTemporaryDir> m_temp;
};

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
