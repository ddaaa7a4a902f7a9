#include "engine/files/folderscan.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <deque>
#include <optional>
#include <vector>
#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/stat.h>
#endif

namespace corvanta {

namespace {

constexpr QChar kSeparator = u'/';

bool isHiddenName(const QString& name) {
    return name.startsWith(u'.');
}

/// The file manager's order: case-insensitive, numbers by value. Names the collator holds equal keep code-unit
/// order, so that a listing comes out the same every time.
class NaturalOrder {
public:
    NaturalOrder() {
        // In the C locale Qt's collator compares code units and ignores the numeric mode.
        QLocale locale;
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English);
        m_collator = QCollator(locale);
        m_collator.setNumericMode(true);
        m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    }

    /// \a entries sorted by the name that \a nameOf gives; sort keys make large folders cheap to sort.
    template <typename Entry, typename NameOf> void sort(QList<Entry>& entries, NameOf nameOf) const {
        std::vector<std::pair<QCollatorSortKey, qsizetype>> keys;
        keys.reserve(entries.size());
        for (qsizetype i = 0; i < entries.size(); ++i)
            keys.emplace_back(m_collator.sortKey(nameOf(entries[i])), i);
        std::sort(keys.begin(), keys.end(), [&](const auto& one, const auto& other) {
            if (const int order = one.first.compare(other.first))
                return order < 0;
            return nameOf(entries[one.second]) < nameOf(entries[other.second]);
        });
        QList<Entry> sorted;
        sorted.reserve(entries.size());
        for (const auto& key : keys)
            sorted.append(std::move(entries[key.second]));
        entries = std::move(sorted);
    }

private:
    QCollator m_collator;
};

const NaturalOrder& naturalOrder() {
    static const NaturalOrder order;
    return order;
}

#ifdef Q_OS_UNIX
/// Entries of \a folder that Qt leaves out without a word because their names are not valid in the file-name
/// encoding: folders that would be entered and files that match \a pattern. Counting them takes the system's own
/// listing, as Qt gives no name it cannot decode.
int countUnreadableNames(const QString& folder, const QString& pattern) {
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        return 0;
    const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern),
                                   QRegularExpression::CaseInsensitiveOption);
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        const QString decoded = QFile::decodeName(name);
        if (QFile::encodeName(decoded) == name)
            continue;
        struct stat info {};
        if (::stat(QByteArray(native + '/' + name).constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)
                ? !isHiddenName(decoded)
                : S_ISREG(info.st_mode) && !decoded.startsWith(u'~') && match.match(decoded).hasMatch())
            ++count;
    }
    ::closedir(dir);
    return count;
}
#else
// Elsewhere file names are UTF-16 as Qt's are.
int countUnreadableNames(const QString&, const QString&) {
    return 0;
}
#endif

/// Breadth-first walk below a set of folders, yielding each folder below them once, level by level.
/// Level order is breadth-first order, so a queue gives the same sequence as collecting a whole level before
/// descending, while letting callers list each folder's files as soon as it is reached.
class FolderWalk {
public:
    FolderWalk(const QStringList& tops, bool recurse, std::stop_token stop)
        : m_recurse(recurse)
        , m_stop(std::move(stop)) {
        for (const QString& top : tops)
            if (firstVisit(top))
                m_queue.push_back({top, true});
    }

    /// The next folder below the tops, ending in "/"; nothing once the walk is over or asked to stop.
    std::optional<QString> next() {
        while (!m_queue.empty() && !m_stop.stop_requested()) {
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
    // and sockets. A folder of a million files takes a while to go through: the stop is heard at every entry.
    void enqueueSubfolders(const QString& folder) {
        QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted);
        if (m_stop.stop_requested())
            return;
        naturalOrder().sort(entries, [](const QFileInfo& entry) { return entry.fileName(); });
        for (const QFileInfo& entry : entries) {
            if (m_stop.stop_requested())
                return;
            if (!entry.isDir())
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
    std::stop_token m_stop;
};

/// Hands \a found the paths of the files of \a folder (ending in "/") that match \a pattern, but for names
/// beginning with "~". Returns how many files and folders in it were left out for their names.
int reportFiles(const QString& folder, const QString& pattern, const FoundFiles& found) {
    const QString path = folder.chopped(1);
    QStringList paths;
    for (const QString& name : listFiles(path, pattern))
        if (!name.startsWith(u'~'))
            paths.append(path + kSeparator + name);
    if (!paths.isEmpty())
        found(paths);
    return countUnreadableNames(path, pattern);
}

/// The files matching \a pattern in \a folder and below it, folder by folder, level by level. Returns how many
/// files and folders were left out because their names are not valid in the file-name encoding.
int scanTree(const QString& folder, const QString& pattern, const std::stop_token& stop, const FoundFiles& found) {
    if (folder.isEmpty() || stop.stop_requested()) // an empty path names no folder: QDir would take the current one
        return 0;
    const QString top = folder + kSeparator;
    FolderWalk walk({top}, true, stop);
    int unreadable = reportFiles(top, pattern, found);
    // A stop heard between a folder's listing and its files leaves them out: nothing is handed on after it.
    while (const std::optional<QString> below = walk.next())
        if (!stop.stop_requested())
            unreadable += reportFiles(*below, pattern, found);
    return unreadable;
}

} // namespace

void collectSubfolders(QStringList& folders, bool recurse, const std::stop_token& stop) {
    FolderWalk walk(folders, recurse, stop);
    while (std::optional<QString> folder = walk.next())
        folders.append(std::move(*folder));
}

QStringList listFiles(const QString& folder, const QString& pattern) {
    QDir dir(folder);
    dir.setNameFilters({pattern});
    dir.setFilter(QDir::Files | QDir::Hidden);
    dir.setSorting(QDir::Unsorted);
    QStringList names = dir.entryList();
    naturalOrder().sort(names, [](const QString& name) -> const QString& { return name; });
    return names;
}

int scanFolderForXmlFiles(const QString& folder, const std::stop_token& stop, const FoundFiles& found) {
    // Every path starts with folder + "/"; when the folder already ends in one (the root "/"), drop the second.
    const bool doubled = folder.endsWith(kSeparator);
    return scanTree(folder, QStringLiteral("*.xml"), stop, [&](const QStringList& paths) {
        if (!doubled)
            return found(paths);
        QStringList repaired = paths;
        for (QString& path : repaired)
            path.remove(folder.size(), 1);
        found(repaired);
    });
}

QStringList scanFolderForXmlFiles(const QString& folder, int* unreadableNames) {
    QStringList all;
    const int unreadable = scanFolderForXmlFiles(folder, {}, [&](const QStringList& paths) { all += paths; });
    if (unreadableNames)
        *unreadableNames += unreadable;
    return all;
}

int scanDroppedFolder(const QString& folder, const std::stop_token& stop, const FoundFiles& found) {
    return scanTree(folder, QStringLiteral("*"), stop, found);
}

bool isDroppedFolder(const QString& path) {
    return QFileInfo(path).isDir() && !isHiddenName(QDir(path).dirName());
}

} // namespace corvanta
