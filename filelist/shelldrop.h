#pragma once

#include "engine/files/folderscan.h"

#include <QStringList>

class QDropEvent;
class QMimeData;

namespace corvanta {

class FileListView;

/// Accepts a drag or a drop over the file list when it carries local files, and ignores anything else (text, web
/// links), so that the pointer shows that no drop is possible. The drop is accepted as a copy (a link where the
/// file manager offers no copy): the list only reads the paths, and a move would tell the file manager to remove
/// what was dropped. Returns whether the event was accepted.
bool acceptFileDrop(QDropEvent& event);

/// The local paths that dropped \a data carries, in the order dragged. A folder keeps no trailing separator
/// but for the root, as the file manager gives it.
QStringList droppedPaths(const QMimeData& data);

/// Appends dropped \a paths to \a list in order: each folder (not hidden) is scanned on its own and gives every
/// file in and below it but for names beginning with "~"; anything else (a file, a hidden folder, a path that is
/// gone) is appended as it is. \a processEvents runs during each folder's walk.
void appendDroppedPaths(FileListView& list, const QStringList& paths, const PendingEvents& processEvents);

} // namespace corvanta
