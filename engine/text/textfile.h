#pragma once

#include "engine/text/bytesink.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace corvanta {

/// How readTextFile() made text of a file.
enum class TextReading {
    Utf8,        ///< valid UTF-8 (ASCII included)
    Utf16LE,     ///< first byte 0xFF, or 0xFE not followed by 0xFF
    Utf16BE,     ///< 0xFE 0xFF
    Utf32LE,     ///< 0xFF 0xFE 0x00 0x00
    Utf32BE,     ///< 0x00 0x00 0xFE 0xFF
    Windows1252, ///< some bytes were not valid UTF-8 and were read as Windows-1252
    Declared,    ///< not valid UTF-8, read in the encoding that the XML declaration names
    Empty,       ///< a zero-length file, read as "empty file"
    Missing,     ///< no such file, read as empty text
};

/// True when \a path names an existing file or folder; never fails.
bool fileExists(const QString& path);

/// How a file's bytes encode its text, told by its first bytes.
enum class FileEncoding { SystemCodePage, Utf16LittleEndian, Utf16BigEndian, Utf32LittleEndian, Utf32BigEndian };

/// The encoding of a file that begins with \a head (its first 4 bytes, or all of a shorter file): UTF-32 when it
/// starts with FF FE 00 00 (little-endian) or 00 00 FE FF (big-endian), else UTF-16 when the first byte is 0xFF
/// (little-endian) or 0xFE (big-endian when the second byte is 0xFF, else little-endian), the system code page
/// otherwise.
FileEncoding fileEncodingOf(QByteArrayView head);

/// The encoding that an XML declaration at the very start of \a head names (a byte-order mark says the text is
/// UTF-8 instead) when it is one that the usual rules do
/// not read (neither UTF-8, ASCII, Latin-1, Windows-1252 nor UTF-16 or UTF-32): a text that is not valid UTF-8 is
/// then decoded with it. Empty for no declaration, one of those, or one in which the declaration itself does not
/// read as written. Throws Failure naming an encoding that cannot be decoded (an unknown name) or is refused
/// (UTF-7, which can hide markup in plain ASCII).
QByteArray foreignDeclaredEncoding(QByteArrayView head);

class WideDecoder;

/// The text of one file, read and decoded block by block and handed on in the system code page: the same bytes as
/// readTextFileEncoded() in constant memory. Characters cut by a block's end are completed from the next block.
/// A text that begins like UTF-16 without a byte-order mark (0xFF or 0xFE first) but is not valid UTF-16 is
/// refused: it is most likely no UTF-16 at all.

class TextFileReader {
public:
    /// How much a file may grow while it is read, or hold beyond the size it claims (a file of /proc claims none).
    static constexpr qint64 kGrowthAllowance = qint64(64) * 1024 * 1024;

    /// Opens \a path and reads its first bytes. A missing path has no text; throws Failure, with the system's reason
    /// alone, when the path exists but cannot be read, and without reading it when it is not a regular file once
    /// links are followed (a folder, a named pipe, a device), or its declaration names an encoding that cannot be
    /// read (see foreignDeclaredEncoding()). Where the first bytes cannot tell how the text is to be read (a text
    /// that declares another encoding may be UTF-8 all the same; UTF-16 without a byte-order mark must be valid),
    /// the file is read through once beforehand, so that a refused text hands nothing on; that reading throws
    /// StopRequested once \a stop is requested. The file is read up to its size at the open plus
    /// kGrowthAllowance; past that, reading throws Failure.
    /// With Declarations::Ignored, the encoding an XML declaration names counts for nothing: for a text this program
    /// wrote, UTF-8 throughout, whose start may look like any declaration (Append puts inputs one after another).
    enum class Declarations { Honoured, Ignored };
    explicit TextFileReader(const QString& path, qint64 blockSize = kStreamBlockSize, const std::stop_token& stop = {},
                            Declarations declarations = Declarations::Honoured);
    ~TextFileReader();
    TextFileReader(const TextFileReader&) = delete;
    TextFileReader& operator=(const TextFileReader&) = delete;

    /// False for a missing path.
    bool exists() const { return m_fd >= 0; }
    /// Throws Failure with the system's reason for a missing path ("No such file or directory"): for callers to
    /// whom a missing input is a failure like any other.
    void requireFile() const;
    /// True for a file that held no byte when it was opened.
    bool isEmpty() const { return m_empty; }
    /// Size of the file when it was opened (0 for a missing path).
    qint64 size() const { return m_size; }
    /// How the text was read; complete once writeTo() has handed it all on.
    TextReading reading() const;

    /// Hands the whole text to \a sink: nothing for a missing path, "empty file" for an empty file. Throws Failure
    /// when the file cannot be read, whatever \a sink throws (WriteFailure), and leaves what was handed on so far.
    /// Call it once.
    void writeTo(ByteSink& sink);

    /// The text writeTo() would hand on, one block at a time, for callers that pull it: puts the next piece in
    /// \a piece (possibly empty) and returns true, or returns false once the text has ended. Throws Failure when
    /// the file cannot be read. Use it instead of writeTo(), never with it.
    bool readPiece(QByteArray& piece);
    /// readPiece() for callers that want text or its end: the next piece that is not empty, or an empty view once
    /// the text has ended. The view stays valid until the next call.
    QByteArrayView nextPiece();

private:
    bool fill();
    QByteArray readHead() const;
    void settleEncoding(const std::stop_token& stop);
    void readAhead(const std::stop_token& stop, const std::function<qsizetype(QByteArrayView, bool)>& take) const;
    std::unique_ptr<WideDecoder> makeDecoder() const;
    void writeSystemCodePage(ByteSink& sink);
    void writeDecoded(ByteSink& sink);
    [[noreturn]] static void fail();
    qint64 readSome(char* into, qint64 size);

    QString m_path;
    int m_fd = -1; // the open file; -1 for a missing path
    QByteArray m_buffer;
    qint64 m_blockSize;
    qint64 m_filled = 0; // bytes in m_buffer
    qint64 m_size = 0;
    qint64 m_read = 0; // bytes read from the file so far
    qint64 m_readLimit = 0;
    bool m_atEnd = false;
    bool m_empty = false;
    bool m_recoded = false; // a byte of the system code page was no UTF-8
    FileEncoding m_encoding = FileEncoding::SystemCodePage;
    bool m_unmarkedUtf16 = false; // UTF-16 without a byte-order mark, refused when it is not valid
    // The encoding its declaration names, when the code page would read it otherwise. Empty for none.
    QByteArray m_declared;
    // Where readPiece() stands.
    std::unique_ptr<WideDecoder> m_decoder;
    qsizetype m_handedOn = -1; // bytes of m_buffer handed on by the last piece; -1 before the first
    bool m_ended = false;
    QByteArray m_piece; // nextPiece()'s
};

/// The whole text of a file: empty for a missing path, "empty file" for a zero-length file, decoded as
/// fileEncodingOf() says; a byte-order mark stays as U+FEFF. Throws Failure, with the system's reason alone, when
/// the file exists but cannot be read, or is not a regular file.
QString readTextFile(const QString& path);

/// readTextFile() already encoded in the system code page, for callers that write it straight out again.
QByteArray readTextFileEncoded(const QString& path);
/// readTextFileEncoded() that also tells in \a reading how the file was read; \a reading stays untouched when
/// the read fails.
QByteArray readTextFileEncoded(const QString& path, std::optional<TextReading>& reading);

/// The text that readTextFile() makes of a file holding \a bytes (not empty). Throws Failure where the reader
/// refuses the text (a declared encoding that cannot be read, UTF-16 without a mark that is not valid).
QString decodeFileText(const QByteArray& bytes);

/// Writes all of \a bytes to \a file, going on after a short write (a disk that fills up on the way): Qt leaves
/// its reason empty, the next write tells it. Returns false, with the system's reason in file.errorString(), when
/// not all of them could be written. For a file opened Unbuffered, so that no byte waits for a later flush.
bool writeWhole(QFileDevice& file, QByteArrayView bytes);

/// Deletes a file, ignoring every failure.
void removeFile(const QString& path);

/// The regular file that a save replaces, and what of it the new file keeps.
class ReplacedFile {
public:
    /// Looks at what \a path names. Throws WriteFailure ("PATH: Permission denied") when it is a regular file that
    /// may not be written: none of its write permissions is set (also for root), or the system says so.
    explicit ReplacedFile(const QString& path);

    /// True when \a path names a regular file.
    bool exists() const { return m_exists; }
    /// True when more than one name leads to the file: it is then written through, as a shell redirection does, so
    /// that every name sees the new text.
    bool hardLinked() const { return m_links > 1; }
    /// Gives the file open as \a descriptor the owner, group and mode of the replaced file, as far as the system
    /// lets this user; false when not all of them could be given.
    bool passOnTo(int descriptor) const;

private:
    bool m_exists = false;
    quint64 m_links = 0;
    uint m_owner = 0;
    uint m_group = 0;
    uint m_mode = 0;
};

/// Writes to \a path what \a produce hands to its sink. The target is replaced only once the new text is wholly
/// written and synced to disk; on failure it stays as it was and nothing else is left behind. A target that
/// exists keeps its owner, group and mode; one that may not be written is refused (see ReplacedFile), and one
/// with more than one name is written through. Throws WriteFailure
/// when the target cannot be written, and passes on whatever \a produce throws.
void writeFileAtomically(const QString& path, const std::function<void(ByteSink&)>& produce);

/// Writes \a bytes to \a path; same guarantees as writeTextFile().
void writeFileAtomically(const QByteArray& bytes, const QString& path);

/// Writes \a text in the system code page to \a path. The target is replaced only once the new text is wholly
/// written; on failure it stays as it was and nothing else is left behind. Throws Failure.
void writeTextFile(const QString& text, const QString& path);

} // namespace corvanta
