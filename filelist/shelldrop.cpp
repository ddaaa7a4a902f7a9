#include "filelist/shelldrop.h"

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

void findDroppedPaths(const QStringList& paths, const std::stop_token& stop, const FoundFiles& found) {
    for (const QString& path : paths) {
        if (stop.stop_requested())
            return;
        if (isDroppedFolder(path))
            scanDroppedFolder(path, stop, found);
        else
            found({path});
    }
}

} // namespace corvanta
