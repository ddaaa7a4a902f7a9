#include "engine/files/pathlist.h"

#include "engine/text/failure.h"
#include "engine/text/textfile.h"

#include <QFile>
#include <QStringDecoder>
#include <cstdio>

namespace corvanta {

PathList parsePathList(QByteArrayView text, PathListSeparator separator) {
    const char end = separator == PathListSeparator::Nul ? '\0' : '\n';
    PathList list;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
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
        // A name that does not decode could only be turned into another file's name: it is left out and counted.
        QString path = decoder.decode(entry);
        if (decoder.hasError()) {
            decoder.resetState();
            ++list.undecodable;
            continue;
        }
        if (separator == PathListSeparator::Line && path.trimmed().isEmpty())
            continue;
        list.paths.push_back(std::move(path));
    }
    return list;
}

PathList readPathList(const QString& file, PathListSeparator separator) {
    QFile in;
    const bool standardInput = file == QLatin1String("-");
    const bool opened = standardInput ? in.open(stdin, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)
                                      : (in.setFileName(file), in.open(QIODevice::ReadOnly));
    const QString name = standardInput ? QStringLiteral("standard input") : file;
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
        text += path.toUtf8() + '\n';
    return text;
}

void writePathList(const QStringList& paths, const QString& file) {
    writeFileAtomically(pathListText(paths), file);
}

} // namespace corvanta
