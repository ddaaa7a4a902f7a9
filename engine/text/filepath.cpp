#include "engine/text/filepath.h"

#include "engine/text/codepage.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace corvanta {

namespace {

constexpr char16_t kEscapedByteBase = 0xDC00;

bool isEscapedByte(QChar c) {
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileId(const QByteArray& native) {
    struct stat info {};
    if (::stat(native.constData(), &info) != 0)
        return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

bool needsQuoting(QStringView path) {
    for (const QChar c : path)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0) || c.isSurrogate() || c == u'\'' ||
            c == u'\\')
            return true;
    return false;
}

QString hexByte(uint byte) {
    return QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

QString pathFromNative(const QByteArray& bytes) {
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes);
    QString path;
    qsizetype from = 0; // start of the valid run not decoded yet
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (i + length <= bytes.size() && isValidUtf8(QByteArrayView(bytes).sliced(i, length))) {
            i += length;
            continue;
        }
        path += QString::fromUtf8(QByteArrayView(bytes).sliced(from, i - from));
        path += QChar(char16_t(kEscapedByteBase + lead));
        from = ++i;
    }
    return path + QString::fromUtf8(QByteArrayView(bytes).sliced(from));
}

QByteArray nativePath(const QString& path) {
    bool escaped = false;
    for (const QChar c : path)
        escaped = escaped || isEscapedByte(c);
    if (!escaped)
        return path.toUtf8();
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !(isEscapedByte(path[i]) && !(i > 0 && path[i - 1].isHighSurrogate())))
            continue;
        bytes += QStringView(path).sliced(from, i - from).toUtf8();
        if (i < path.size())
            bytes += char(path[i].unicode() - kEscapedByteBase);
        from = i + 1;
    }
    return bytes;
}

QString displayPath(const QString& path) {
    if (!needsQuoting(path))
        return path;
    QString quoted = QStringLiteral("$'");
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c.isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            quoted += c;
            quoted += path[++i];
        } else if (c == u'\n') {
            quoted += QStringLiteral("\\n");
        } else if (c == u'\t') {
            quoted += QStringLiteral("\\t");
        } else if (c == u'\x1b') {
            quoted += QStringLiteral("\\e");
        } else if (c == u'\'' || c == u'\\') {
            quoted += u'\\';
            quoted += c;
        } else if (isEscapedByte(c)) {
            quoted += hexByte(c.unicode() - kEscapedByteBase);
        } else if (c.isSurrogate()) {
            quoted += QChar::ReplacementCharacter;
        } else if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            quoted += hexByte(c.unicode());
        } else if (c.unicode() >= 0x80 && c.unicode() < 0xA0) {
            // A C1 control is two bytes in UTF-8: both are shown, as a shell reads them back.
            const QByteArray bytes = QString(c).toUtf8();
            for (const char byte : bytes)
                quoted += hexByte(static_cast<unsigned char>(byte));
        } else {
            quoted += c;
        }
    }
    return quoted + u'\'';
}

bool isFolder(const QString& path) {
    struct stat info {};
    return ::stat(nativePath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Below this many paths in one folder, a look at each costs fewer calls than its listing.
constexpr qsizetype kListedFrom = 16;

// The names among \a wanted that the listing of \a folder shows as regular files. A name listed as a link or of an
// unknown type is left out, for a look of its own. Stops once the listing has run a good way past what it saves, so
// that a huge folder costs no more calls than the looks would.
QSet<QByteArray> regularFilesListed(const QByteArray& folder, const QSet<QByteArray>& wanted) {
    QSet<QByteArray> found;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.constData()), ::closedir);
    if (!listing)
        return found;
    // A call of the system lists a few hundred names: 64 for each wanted one still cost fewer calls than the looks.
    for (qsizetype read = 0; read < wanted.size() * 64 && found.size() < wanted.size(); ++read) {
        const dirent* entry = ::readdir(listing.get());
        if (!entry)
            break;
        if (entry->d_type == DT_REG) {
            const QByteArray name = QByteArray::fromRawData(entry->d_name, qsizetype(std::strlen(entry->d_name)));
            if (wanted.contains(name))
                found.insert(QByteArray(name.constData(), name.size()));
        }
    }
    return found;
}

} // namespace

std::vector<bool> areFolders(const QStringList& paths) {
    std::vector<bool> folders(size_t(paths.size()), false);
    std::vector<bool> known(size_t(paths.size()), false);
    std::vector<QByteArray> names(size_t(paths.size()));
    QHash<QByteArray, QList<qsizetype>> byFolder;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QByteArray native = nativePath(paths.at(i));
        const qsizetype slash = native.lastIndexOf('/');
        QByteArray name = native.sliced(slash + 1);
        if (name.isEmpty() || name == "." || name == "..")
            continue;
        names[size_t(i)] = std::move(name);
        byFolder[slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : native.first(slash)].append(i);
    }
    for (auto group = byFolder.cbegin(); group != byFolder.cend(); ++group) {
        if (group->size() < kListedFrom)
            continue;
        QSet<QByteArray> wanted;
        for (const qsizetype i : *group)
            wanted.insert(names[size_t(i)]);
        const QSet<QByteArray> regular = regularFilesListed(group.key(), wanted);
        for (const qsizetype i : *group)
            known[size_t(i)] = regular.contains(names[size_t(i)]);
    }
    for (qsizetype i = 0; i < paths.size(); ++i)
        if (!known[size_t(i)])
            folders[size_t(i)] = isFolder(paths.at(i));
    return folders;
}

bool pathExists(const QString& path) {
    struct stat info {};
    return !path.isEmpty() && ::stat(nativePath(path).constData(), &info) == 0;
}

bool isQtReachable(const QString& path) {
    return std::none_of(path.cbegin(), path.cend(), isEscapedByte);
}

bool isSameFile(const QString& first, const QString& second) {
    const QByteArray a = nativePath(first), b = nativePath(second);
    const std::optional<FileId> idA = fileId(a), idB = fileId(b);
    if (idA || idB)
        return idA == idB;
    // Neither exists yet: both would be made as the same name in the same folder.
    const auto split = [](const QByteArray& path) {
        const qsizetype slash = path.lastIndexOf('/');
        return std::pair{slash < 0    ? QByteArray(".")
                         : slash == 0 ? QByteArray("/")
                                      : path.first(slash),
                         path.sliced(slash + 1)};
    };
    const auto [folderA, nameA] = split(a);
    const auto [folderB, nameB] = split(b);
    const std::optional<FileId> parentA = fileId(folderA);
    return nameA == nameB && parentA && parentA == fileId(folderB);
}

qsizetype indexOfSameFile(const QString& path, const QStringList& paths) {
    const QByteArray native = nativePath(path);
    const std::optional<FileId> id = fileId(native);
    const auto nameOf = [](const QByteArray& bytes) {
        return QByteArrayView(bytes).sliced(bytes.lastIndexOf('/') + 1);
    };
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QByteArray other = nativePath(paths.at(i));
        if (id ? fileId(other) == id : nameOf(other) == nameOf(native) && isSameFile(path, paths.at(i)))
            return i;
    }
    return -1;
}

} // namespace corvanta
