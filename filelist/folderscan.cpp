#include "folderscan.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <deque>
#include <optional>

namespace corvanta {

namespace {

constexpr QChar kSeparator = u'/';

void process(const PendingEvents& processEvents) {
    if (processEvents)
        processEvents();
}

bool isHiddenName(const QString& name) {
    return name.startsWith(u'.');
}

/// Breadth-first walk below a set of folders, yielding each folder below them once, level by level.
/// Level order is breadth-first order, so a queue gives the same sequence as collecting a whole level before
/// descending, while letting callers list each folder's files as soon as it is reached.
class FolderWalk {
public:
    FolderWalk(const QStringList& tops, bool recurse, PendingEvents processEvents)
        : m_recurse(recurse)
        , m_processEvents(std::move(processEvents)) {
        for (const QString& top : tops)
            if (firstVisit(top))
                m_queue.push_back({top, true});
    }

    /// The next folder below the tops, ending in "/"; nothing once the walk is over.
    std::optional<QString> next() {
        while (!m_queue.empty()) {
            Pending pending = std::move(m_queue.front());
            m_queue.pop_front();
            if (pending.top || m_recurse)
                enqueueSubfolders(pending.folder);
            if (!pending.top)
                return std::move(pending.folder);
        }
        return std::nullopt;
    }

private:
    struct Pending {
        QString folder;
        bool top;
    };

    // Without QDir::Hidden and QDir::System the listing leaves out hidden entries, broken links, devices, pipes
    // and sockets. Files stay in it so that events are still processed before every entry.
    void enqueueSubfolders(const QString& folder) {
        const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
        process(m_processEvents);
        for (const QFileInfo& entry : entries) {
            process(m_processEvents);
            if (entry.fileName().contains(u'?') || !entry.isDir())
                continue;
            const QString path = folder + entry.fileName();
            if (firstVisit(path))
                m_queue.push_back({path + kSeparator, false});
        }
    }

    // Symbolic links can lead back up the tree or twice to one folder; the canonical path catches both. A
    // folder that has vanished has no canonical path and is dropped here.
    bool firstVisit(const QString& folder) {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty() || m_visited.contains(canonical))
            return false;
        m_visited.insert(canonical);
        return true;
    }

    std::deque<Pending> m_queue;
    QSet<QString> m_visited;
    bool m_recurse;
    PendingEvents m_processEvents;
};

/// Hands \a found the paths of the files of \a folder (ending in "/") that match \a pattern, but for names
/// beginning with "~".
void reportFiles(const QString& folder, const QString& pattern, const FoundFiles& found) {
    const QString path = folder.chopped(1);
    QStringList paths;
    for (const QString& name : listFiles(path, pattern))
        if (!name.startsWith(u'~'))
            paths.append(path + kSeparator + name);
    if (!paths.isEmpty())
        found(paths);
}

/// The files matching \a pattern in \a folder and below it, folder by folder, level by level.
void scanTree(const QString& folder, const QString& pattern, const PendingEvents& processEvents,
              const FoundFiles& found) {
    if (folder.isEmpty()) // names no folder; QDir would take it for the current one
        return;
    const QString top = folder + kSeparator;
    FolderWalk walk({top}, true, processEvents);
    reportFiles(top, pattern, found);
    while (const std::optional<QString> below = walk.next())
        reportFiles(*below, pattern, found);
}

} // namespace

void collectSubfolders(QStringList& folders, bool recurse, const PendingEvents& processEvents) {
    FolderWalk walk(folders, recurse, processEvents);
    QStringList below;
    while (std::optional<QString> folder = walk.next())
        below.append(std::move(*folder));
    for (QString& folder : below) {
        process(processEvents);
        folders.append(std::move(folder));
    }
}

QStringList listFiles(const QString& folder, const QString& pattern) {
    QDir dir(folder);
    dir.setNameFilters({pattern});
    dir.setFilter(QDir::Files | QDir::Hidden);
    dir.setSorting(QDir::Name);
    return dir.entryList();
}

void scanFolderForXmlFiles(const QString& folder, const PendingEvents& processEvents, const FoundFiles& found) {
    // Every path starts with folder + "/"; when the folder already ends in one (the root "/"), drop the second.
    const bool doubled = folder.endsWith(kSeparator);
    scanTree(folder, QStringLiteral("*.xml"), processEvents, [&](const QStringList& paths) {
        if (!doubled)
            return found(paths);
        QStringList repaired = paths;
        for (QString& path : repaired)
            path.remove(folder.size(), 1);
        found(repaired);
    });
}

QStringList scanFolderForXmlFiles(const QString& folder) {
    QStringList all;
    scanFolderForXmlFiles(folder, {}, [&](const QStringList& paths) { all += paths; });
    return all;
}

void scanDroppedFolder(const QString& folder, const PendingEvents& processEvents, const FoundFiles& found) {
    scanTree(folder, QStringLiteral("*"), processEvents, found);
}

bool isDroppedFolder(const QString& path) {
    return QFileInfo(path).isDir() && !isHiddenName(QDir(path).dirName());
}

} // namespace corvanta
