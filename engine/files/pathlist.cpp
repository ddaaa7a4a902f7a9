#include "engine/files/pathlist.h"

#include "engine/text/failure.h"
#include "engine/text/filepath.h"
#include "engine/text/textfile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace corvanta {

PathList parsePathList(QByteArrayView text, PathListSeparator separator) {
    const char end = separator == PathListSeparator::Nul ? '\0' : '\n';
    PathList list;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype stop = text.indexOf(end, start);
        if (stop < 0)
            stop = text.size();
        QByteArrayView entry = text.sliced(start, stop - start);
        start = stop + 1;
        if (separator == PathListSeparator::Line && entry.endsWith('\r'))
            entry.chop(1);
        if (entry.isEmpty())
            continue;
        // A name that is not valid UTF-8 is still the name of a file: it keeps its bytes.
        QString path = pathFromNative(entry.toByteArray());
        if (separator == PathListSeparator::Line && path.trimmed().isEmpty())
            continue;
        list.paths.push_back(std::move(path));
    }
    return list;
}

PathList readPathList(const QString& file, PathListSeparator separator) {
    QFile in;
    const bool standardInput = file == QLatin1String("-");
    const QString name = standardInput ? QStringLiteral("standard input") : displayPath(file);
    bool opened = false;
    if (standardInput) {
        opened = in.open(stdin, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
    } else {
        // By its bytes: Qt cannot open a name that is not valid UTF-8.
        int descriptor = -1;
        do
            descriptor = ::open(nativePath(file).constData(), O_RDONLY | O_CLOEXEC);
        while (descriptor < 0 && errno == EINTR);
        if (descriptor < 0)
            throw Failure(QStringLiteral("%1: %2").arg(name, qt_error_string(errno)));
        opened = in.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        if (!opened)
            ::close(descriptor);
    }
    if (!opened)
        throw Failure(QStringLiteral("%1: %2").arg(name, in.errorString()));
    const QByteArray text = in.readAll();
    if (in.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("%1: %2").arg(name, in.errorString()));
    return parsePathList(text, separator);
}

QByteArray pathListText(const QStringList& paths) {
    QByteArray text;
    for (const QString& path : paths)
        text += nativePath(path) + '\n';
    return text;
}

void writePathList(const QStringList& paths, const QString& file) {
    writeFileAtomically(pathListText(paths), file);
}

} // namespace corvanta
