#pragma once

#include "engine/files/folderscan.h"

#include <QStringList>
#include <stop_token>

class QDropEvent;
class QMimeData;

namespace corvanta {

/// Accepts a drag or a drop over the file list when it carries local files, and ignores anything else (text, web
/// links), so that the pointer shows that no drop is possible. The drop is accepted as a copy (a link where the
/// file manager offers no copy): the list only reads the paths, and a move would tell the file manager to remove
/// what was dropped. Returns whether the event was accepted.
bool acceptFileDrop(QDropEvent& event);

/// The local paths that dropped \a data carries, in the order dragged. A folder keeps no trailing separator
/// but for the root, as the file manager gives it.
QStringList droppedPaths(const QMimeData& data);

/// Hands what dropped \a paths give to \a found, in order: each folder (not hidden) is scanned on its own and gives
/// every file in and below it but for names beginning with "~"; anything else (a file, a hidden folder, a path that
/// is gone) is handed on as it is. Reads the disk only, so it may run on a thread of its own; ends on \a stop as
/// the scans do.
void findDroppedPaths(const QStringList& paths, const std::stop_token& stop, const FoundFiles& found);

} // namespace corvanta
