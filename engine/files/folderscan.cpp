#include "engine/files/folderscan.h"

#include "engine/text/codepage.h"
#include "engine/text/filepath.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>
#include <vector>

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

/// An entry of a folder as the system lists it.
struct FolderEntry {
    QString name; // as pathFromNative() makes it: a name that is not valid UTF-8 keeps its bytes
    bool folder = false;
    bool file = false; // a regular file, or a link to anything but a folder
};

/// The folders and files in \a folder, links followed; hidden ones (name beginning with ".") only with \a hidden.
/// Broken links, and devices, pipes and sockets that are no link, are left out, as Qt's listing does; so is
/// everything of a folder that cannot be listed. A link to a device or a pipe stays: the reader refuses it. Listed by
/// the system rather than by Qt, which leaves out without a word every name that is not valid UTF-8 and could not open
/// it either. Once \a stop is requested the listing ends at the next entry.
QList<FolderEntry> folderEntries(const QString& folder, bool hidden, const std::stop_token& stop = {}) {
    QList<FolderEntry> entries;
    QByteArray native = nativePath(folder);
    if (native.isEmpty())
        native = "."; // as QDir takes an empty path
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        return entries;
    if (!native.endsWith('/'))
        native += '/';
    while (const dirent* entry = ::readdir(dir)) {
        if (stop.stop_requested())
            break;
        const QByteArray name(entry->d_name);
        if (name == "." || name == ".." || (!hidden && name.startsWith('.')))
            continue;
        // The entry's own type, where the file system gives it, spares a look at every plain file and folder: a
        // folder of a hundred thousand files is listed in a fraction of the time.
        bool isFolder = entry->d_type == DT_DIR;
        bool isFile = entry->d_type == DT_REG;
        if (!isFolder && !isFile) {
            const QByteArray path = native + name;
            struct stat own {
            }, info{};
            if (::lstat(path.constData(), &own) != 0 || ::stat(path.constData(), &info) != 0)
                continue;
            isFolder = S_ISDIR(info.st_mode);
            isFile = !isFolder && (S_ISREG(info.st_mode) || S_ISLNK(own.st_mode));
        }
        if (isFolder || isFile)
            entries.append({pathFromNative(name), isFolder, isFile});
    }
    ::closedir(dir);
    return entries;
}

/// The path that \a folder leads to with every link followed; empty when it does not exist.
QString canonicalPath(const QString& folder) {
    char* resolved = ::realpath(nativePath(folder).constData(), nullptr);
    if (!resolved)
        return {};
    QString path = pathFromNative(QByteArray(resolved));
    std::free(resolved);
    return path;
}

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

    // A folder of a million files takes a while to go through: the stop is heard at every entry.
    void enqueueSubfolders(const QString& folder) {
        QList<FolderEntry> entries = folderEntries(folder, false, m_stop);
        if (m_stop.stop_requested())
            return;
        naturalOrder().sort(entries, [](const FolderEntry& entry) -> const QString& { return entry.name; });
        for (const FolderEntry& entry : entries) {
            if (m_stop.stop_requested())
                return;
            if (!entry.folder)
                continue;
            const QString path = folder + entry.name;
            if (firstVisit(path))
                m_queue.push_back({path + kSeparator, false});
        }
    }

    // Symbolic links can lead back up the tree or twice to one folder; the canonical path catches both. A
    // folder that has vanished has no canonical path and is dropped here.
    bool firstVisit(const QString& folder) {
        const QString canonical = canonicalPath(folder);
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
void scanTree(const QString& folder, const QString& pattern, const std::stop_token& stop, const FoundFiles& found) {
    if (folder.isEmpty() || stop.stop_requested()) // an empty path names no folder
        return;
    const QString top = folder + kSeparator;
    FolderWalk walk({top}, true, stop);
    reportFiles(top, pattern, found);
    // A stop heard between a folder's listing and its files leaves them out: nothing is handed on after it.
    while (const std::optional<QString> below = walk.next())
        if (!stop.stop_requested())
            reportFiles(*below, pattern, found);
}

} // namespace

void collectSubfolders(QStringList& folders, bool recurse, const std::stop_token& stop) {
    FolderWalk walk(folders, recurse, stop);
    while (std::optional<QString> folder = walk.next())
        folders.append(std::move(*folder));
}

QStringList listFiles(const QString& folder, const QString& pattern) {
    const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern),
                                   QRegularExpression::CaseInsensitiveOption);
    QStringList names;
    for (FolderEntry& entry : folderEntries(folder, true)) {
        // The pattern sees a byte kept from a name that is not UTF-8 as U+FFFD: it matches no valid UTF-16 else.
        QString shown = entry.name;
        replaceLoneSurrogates(shown);
        if (entry.file && match.match(shown).hasMatch())
            names.append(std::move(entry.name));
    }
    naturalOrder().sort(names, [](const QString& name) -> const QString& { return name; });
    return names;
}

void scanFolderForXmlFiles(const QString& folder, const std::stop_token& stop, const FoundFiles& found) {
    // Every path starts with folder + "/"; when the folder already ends in one (the root "/"), drop the second.
    const bool doubled = folder.endsWith(kSeparator);
    scanTree(folder, QStringLiteral("*.xml"), stop, [&](const QStringList& paths) {
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

void scanDroppedFolder(const QString& folder, const std::stop_token& stop, const FoundFiles& found) {
    scanTree(folder, QStringLiteral("*"), stop, found);
}

bool isDroppedFolder(const QString& path) {
    return QFileInfo(path).isDir() && !isHiddenName(QDir(path).dirName());
}

} // namespace corvanta
