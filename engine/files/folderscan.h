#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <stop_token>

namespace corvanta {

/// Receives the paths of the files found in one folder, in listing order, as soon as that folder is listed.
/// Folders come level by level, so a caller that appends each batch gets the whole scan's order.
using FoundFiles = std::function<void(const QStringList& paths)>;

/// Appends to \a folders (paths ending in "/") every folder below its elements, level by level: all folders
/// one level down (grouped by parent, parents in collection order), then two levels down, and so on; with
/// \a recurse false only the first level. Each folder's entries are taken in the file manager's natural order
/// (case-insensitive, numbers by value). Hidden folders (name beginning with ".") are not entered. Names that are
/// not valid UTF-8 keep their bytes (see pathFromNative()). A folder reached again
/// through a symbolic link is not entered a second time, and one that cannot be listed or has vanished is
/// skipped silently.
/// Once \a stop is requested the walk ends within one entry: folders collected so far stay appended, none after.
void collectSubfolders(QStringList& folders, bool recurse, const std::stop_token& stop = {});

/// Names (without a path) of the files in \a folder that match the wildcard \a pattern, compared without
/// regard to case; hidden files included, folders excluded, in natural order. Empty when nothing matches or the
/// folder cannot be listed. Names beginning with "~" are returned: the callers decide. Names that are not valid
/// UTF-8 keep their bytes (see pathFromNative()): only the reader and the other native-path routines open them.
QStringList listFiles(const QString& folder, const QString& pattern);

/// The Add Folder scan: the XML files ("*.xml", any case) of \a folder and of every folder below it, in the
/// order of collectSubfolders(), skipping names that begin with "~". A doubled separator right after
/// \a folder (as for the root "/") is written once. Hands each folder's files to \a found as it goes; the scan may
/// run on a thread of its own, \a found then runs there. Once \a stop is requested no more folders are listed or
/// handed on, and the scan returns within one entry.
void scanFolderForXmlFiles(const QString& folder, const std::stop_token& stop, const FoundFiles& found);

/// The Add Folder scan to its end, all paths at once (for corvanta-join).
QStringList scanFolderForXmlFiles(const QString& folder);

/// The scan of a folder dropped on the list: every file of \a folder and of the folders below it, except
/// names beginning with "~", formed as folder + "/" + name with no separator repair. Ends on \a stop as
/// scanFolderForXmlFiles() does.
void scanDroppedFolder(const QString& folder, const std::stop_token& stop, const FoundFiles& found);

/// Whether a dropped \a path is scanned as a folder: an existing, not hidden folder. Anything else (a file, a
/// hidden folder, a path that is gone) is appended as one item.
bool isDroppedFolder(const QString& path);

} // namespace corvanta
