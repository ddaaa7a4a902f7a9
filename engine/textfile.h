#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta {

/// Modes of FileIO().
enum class FileIOMode { Read = 1, Overwrite = 2, Append = 3 };

/// True when \a path names an existing file or folder; never fails.
bool FileExists(const QString& path);

/// The whole text of a file: empty for a missing path, "empty file" for a zero-length file, UTF-16 when the
/// first byte is 0xFF (little-endian) or 0xFE (big-endian when the second byte is 0xFF, else little-endian),
/// the system code page otherwise. Throws Failure when the file exists but cannot be read.
QString ReadTextFile(const QString& path);

/// ReadTextFile() already encoded in the system code page, for callers that write it straight out again.
QByteArray ReadTextFileEncoded(const QString& path);

/// The bytes whose decodeFileText() is ReadTextFile(\a path): empty for a missing path, "empty file" for a
/// zero-length file, else the content. Throws Failure when the file exists but cannot be read.
QByteArray readTextFileBytes(const QString& path);

/// The text that ReadTextFile() makes of a file holding \a bytes.
QString decodeFileText(const QByteArray& bytes);

/// decodeFileText(\a bytes) in the system code page, without decoding where the bytes already are.
QByteArray encodeFileText(const QByteArray& bytes);

/// Reads (mode 1, into \a data), overwrites (2) or appends to (3) a file in the system code page; nothing is
/// added after the text. Returns 0 on success, otherwise a non-zero error number (a QFileDevice::FileError).
/// Never fails.
int FileIO(const QString& path, QString& data, FileIOMode mode);

/// Appends bytes already in the system code page; same contract as FileIO() in Append mode.
int appendBytes(const QString& path, const QByteArray& bytes);

/// Deletes a file, ignoring every failure.
void KillFile(const QString& path);

/// Writes \a bytes to \a path; same guarantees as WriteTextFile().
void writeFileAtomically(const QByteArray& bytes, const QString& path);

/// Writes \a text in the system code page to \a path. The target is replaced only once the new text is wholly
/// written; on failure it stays as it was and nothing else is left behind. Throws Failure.
void WriteTextFile(const QString& text, const QString& path);

} // namespace corvanta
