#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace corvanta {

/// The bytes of a file name from the system, as text: valid UTF-8 decoded, every other byte 0x80..0xFF kept as
/// the lone surrogate U+DC80..U+DCFF, so that nativePath() gives the very same bytes back.
QString pathFromNative(const QByteArray& bytes);

/// The bytes that \a path names on the system: UTF-8, with each lone surrogate U+DC80..U+DCFF the byte it stands
/// for (see pathFromNative()).
QByteArray nativePath(const QString& path);

/// \a path as a message shows it: unchanged when it holds only printable characters; else quoted as a shell
/// would take it back, $'...', with a control character as \n, \t, \e or \xNN and an undecodable byte as \xNN,
/// so that no escape sequence reaches a terminal and no line break splits a line.
QString displayPath(const QString& path);

/// True when \a path names a folder, links followed; for every name pathFromNative() gives.
bool isFolder(const QString& path);

/// What isFolder() says of each of \a paths. Where many lie in one folder, its listing tells which of them are
/// regular files, in place of a look at each.
std::vector<bool> areFolders(const QStringList& paths);

/// True when \a path names anything that exists, links followed; for every name pathFromNative() gives.
bool pathExists(const QString& path);

/// True when Qt's own file classes reach the file that \a path names: it holds no byte kept by pathFromNative().
bool isQtReachable(const QString& path);

/// True when \a first and \a second name the same file, by device and inode when both exist; when neither exists,
/// by the same name in the same folder. Links and spellings like ./ lead to the same answer.
bool isSameFile(const QString& first, const QString& second);

/// The index of the first of \a paths that isSameFile() finds the same as \a path; -1 for none. Looks at \a path
/// once, and at each of \a paths only where it can be the same: where \a path does not exist, only at those of
/// its name.
qsizetype indexOfSameFile(const QString& path, const QStringList& paths);

} // namespace corvanta
