#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvanta {

/// How the paths of a list are separated: by line breaks (LF or CR LF), or by NUL bytes as find -print0 writes them.
enum class PathListSeparator { Line, Nul };

/// The paths of a list file: UTF-8 text, one path per entry.
struct PathList {
    /// In the order of the text; blank entries are left out. Relative paths are kept as they are written; one
    /// that is not valid UTF-8 keeps its bytes (see pathFromNative()).
    QStringList paths;
};

/// Splits \a text into its paths. With lines, a CR right before a line break is not part of the path.
PathList parsePathList(QByteArrayView text, PathListSeparator separator);

/// Reads the list in \a file ("-" for standard input), opened as the bytes it names. Throws Failure naming the
/// file and the system's reason.
PathList readPathList(const QString& file, PathListSeparator separator);

/// The text of a list of \a paths, one per line, each ending with LF.
QByteArray pathListText(const QStringList& paths);

/// Writes \a paths to \a file as pathListText(), replacing it whole once written. Throws Failure.
void writePathList(const QStringList& paths, const QString& file);

} // namespace corvanta
