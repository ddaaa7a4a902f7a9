#pragma once

#include <QByteArray>
#include <QString>

namespace corvanta {

/// True when \a path names an existing file or folder; never fails.
bool fileExists(const QString& path);

/// The whole text of a file: empty for a missing path, "empty file" for a zero-length file, UTF-16 when the
/// first byte is 0xFF (little-endian) or 0xFE (big-endian when the second byte is 0xFF, else little-endian),
/// the system code page otherwise. Throws Failure when the file exists but cannot be read.
QString readTextFile(const QString& path);

/// readTextFile() already encoded in the system code page, for callers that write it straight out again.
QByteArray readTextFileEncoded(const QString& path);

/// The bytes whose decodeFileText() is readTextFile(\a path): empty for a missing path, "empty file" for a
/// zero-length file, else the content. Throws Failure when the file exists but cannot be read.
QByteArray readTextFileBytes(const QString& path);

/// The text that readTextFile() makes of a file holding \a bytes.
QString decodeFileText(const QByteArray& bytes);

/// decodeFileText(\a bytes) in the system code page, without decoding where the bytes already are.
QByteArray encodeFileText(const QByteArray& bytes);

/// Appends \a bytes, already in the system code page, to a file, creating it when missing; nothing is added after
/// them. Returns 0 on success, otherwise a non-zero error number (a QFileDevice::FileError). Never fails.
int appendBytes(const QString& path, const QByteArray& bytes);

/// Deletes a file, ignoring every failure.
void removeFile(const QString& path);

/// Writes \a bytes to \a path; same guarantees as writeTextFile().
void writeFileAtomically(const QByteArray& bytes, const QString& path);

/// Writes \a text in the system code page to \a path. The target is replaced only once the new text is wholly
/// written; on failure it stays as it was and nothing else is left behind. Throws Failure.
void writeTextFile(const QString& text, const QString& path);

} // namespace corvanta
