// The normal test suite's driver for a fuzz target: runs the target once on every file named, or found in a folder
// named, on the command line (its seed corpus and the inputs of past findings). A broken invariant aborts.
#include "tests/fuzz/fuzzsupport.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

int main(int argc, char** argv) {
    int runs = 0;
    const auto replay = [&](const QString& path) {
        QFile file(path);
        fuzz::check(file.open(QIODevice::ReadOnly), "a replayed input can be read");
        const QByteArray bytes = file.readAll();
        std::printf("%s\n", qPrintable(path));
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
        ++runs;
    };
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        if (!QFileInfo(path).isDir()) {
            replay(path);
            continue;
        }
        QStringList files;
        for (QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next();
        files.sort();
        for (const QString& file : files)
            replay(file);
    }
    std::printf("Replayed %d inputs\n", runs);
    return runs > 0 ? 0 : 1;
}
