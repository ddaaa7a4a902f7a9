#include "filelist/shelldrop.h"

#include "filelist/filelistview.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <algorithm>

namespace corvanta {

namespace {

bool offersFileList(const QMimeData& data) {
    const QList<QUrl> urls = data.urls();
    return !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

} // namespace

bool acceptFileDrop(QDropEvent& event) {
    const Qt::DropActions offered = event.possibleActions();
    const Qt::DropAction action = offered.testFlag(Qt::CopyAction)   ? Qt::CopyAction
                                  : offered.testFlag(Qt::LinkAction) ? Qt::LinkAction
                                                                     : Qt::IgnoreAction;
    if (action == Qt::IgnoreAction || !event.mimeData() || !offersFileList(*event.mimeData())) {
        event.ignore();
        return false;
    }
    event.setDropAction(action);
    event.accept();
    return true;
}

QStringList droppedPaths(const QMimeData& data) {
    QStringList paths;
    for (const QUrl& url : data.urls()) {
        QString path = url.toLocalFile();
        if (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
        paths.append(path);
    }
    return paths;
}

void appendDroppedPaths(FileListView& list, const QStringList& paths, const PendingEvents& processEvents) {
    const FoundFiles append = [&list](const QStringList& found) { list.appendItems(found); };
    for (const QString& path : paths) {
        if (isDroppedFolder(path))
            scanDroppedFolder(path, processEvents, append);
        else
            list.appendItem(path);
    }
}

} // namespace corvanta
