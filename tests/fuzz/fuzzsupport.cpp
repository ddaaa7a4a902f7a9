#include "tests/fuzz/fuzzsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

namespace fuzz {

namespace {

QString scratchFolder() {
    // One folder per process, removed at exit; every run reuses the same few file names in it. tools/fuzz.sh
    // names the parent, so that a process that ends on a finding leaves nothing behind once it is done.
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        QString parent = qEnvironmentVariable("CORVANTA_FUZZ_SCRATCH");
        if (parent.isEmpty())
            parent = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        auto made = std::make_unique<QTemporaryDir>(parent + QStringLiteral("/corvanta-fuzz-XXXXXX"));
        check(made->isValid(), "the scratch folder can be made");
        qputenv("TEMP", QFile::encodeName(made->path()));
        return made;
    }();
    return folder->path();
}

} // namespace

const char* canary() {
    static constexpr const char* text = "CANARY-7f3a9c";
    static const bool written = [] {
        for (const auto& [name, content] :
             {std::pair{"canary.txt", QByteArray(text)},
              std::pair{"canary.dtd", "<!ENTITY fromdtd \"" + QByteArray(text) + "\">"}}) {
            QFile file(scratchFolder() + QLatin1Char('/') + QLatin1String(name));
            check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size(),
                  "a canary file can be written");
        }
        return true;
    }();
    return written ? text : nullptr;
}

QByteArray bytesOf(const std::uint8_t* data, std::size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

QByteArrayList splitInputs(const QByteArray& data, int maxParts) {
    QByteArrayList parts;
    qsizetype start = 0;
    while (parts.size() + 1 < maxParts) {
        const qsizetype end = data.indexOf(kInputSeparator, start);
        if (end < 0)
            break;
        parts << data.mid(start, end - start);
        start = end + 1;
    }
    parts << data.mid(start);
    return parts;
}

QStringList writeInputs(const QByteArrayList& contents, const QString& prefix) {
    const QString folder = scratchFolder();
    QStringList paths;
    for (const QByteArray& content : contents) {
        const QString path = QStringLiteral("%1/%2-%3.xml").arg(folder, prefix).arg(paths.size() + 1);
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size(),
              "an input file can be written");
        paths << path;
    }
    return paths;
}

void check(bool holds, const char* what) {
    if (holds)
        return;
    std::fprintf(stderr, "Invariant broken: %s\n", what);
    std::abort();
}

bool hasLoneSurrogate(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (text[i].isSurrogate())
            return true;
    }
    return false;
}

} // namespace fuzz
