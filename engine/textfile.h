#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

class QFileDevice;

namespace corvanta {

/// How readTextFile() made text of a file.
enum class TextReading {
    Utf8,        ///< valid UTF-8 (ASCII included)
    Utf16LE,     ///< first byte 0xFF, or 0xFE not followed by 0xFF
    Utf16BE,     ///< 0xFE 0xFF
    Utf32LE,     ///< 0xFF 0xFE 0x00 0x00
    Utf32BE,     ///< 0x00 0x00 0xFE 0xFF
    Windows1252, ///< some bytes were not valid UTF-8 and were read as Windows-1252
    Empty,       ///< a zero-length file, read as "empty file"
    Missing,     ///< no such file, read as empty text
};

/// True when \a path names an existing file or folder; never fails.
bool fileExists(const QString& path);

/// The whole text of a file: empty for a missing path, "empty file" for a zero-length file, UTF-32 when it starts
/// with FF FE 00 00 (little-endian) or 00 00 FE FF (big-endian), else UTF-16 when the first byte is 0xFF
/// (little-endian) or 0xFE (big-endian when the second byte is 0xFF, else little-endian), the system code page
/// otherwise. A byte-order mark stays as U+FEFF. Throws Failure, with the system's reason alone, when the file
/// exists but cannot be read, and without opening it when it is not a regular file once links are followed (a
/// folder, a named pipe, a device).
QString readTextFile(const QString& path);

/// readTextFile() already encoded in the system code page, for callers that write it straight out again.
QByteArray readTextFileEncoded(const QString& path);
/// readTextFileEncoded() that also tells in \a reading how the file was read; \a reading stays untouched when
/// the read fails.
QByteArray readTextFileEncoded(const QString& path, std::optional<TextReading>& reading);

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

/// Writes all of \a bytes to \a file, going on after a short write (a disk that fills up on the way): Qt leaves
/// its reason empty, the next write tells it. Returns false, with the system's reason in file.errorString(), when
/// not all of them could be written. For a file opened Unbuffered, so that no byte waits for a later flush.
bool writeWhole(QFileDevice& file, QByteArrayView bytes);

/// Appends \a bytes to \a path, creating the file. Throws Failure with the system's reason when any of them could
/// not be written; the file may then hold part of them.
void appendToFile(const QString& path, const QByteArray& bytes);

/// Deletes a file, ignoring every failure.
void removeFile(const QString& path);

/// Writes \a bytes to \a path; same guarantees as writeTextFile().
void writeFileAtomically(const QByteArray& bytes, const QString& path);

/// Writes \a text in the system code page to \a path. The target is replaced only once the new text is wholly
/// written; on failure it stays as it was and nothing else is left behind. Throws Failure.
void writeTextFile(const QString& text, const QString& path);

} // namespace corvanta
