#include "engine/text/textfile.h"

#include "engine/text/codepage.h"
#include "engine/text/failure.h"
#include "engine/text/filepath.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvanta {

namespace {

const QByteArray kEmptyFileText = QByteArrayLiteral("empty file");

QString describe(const QFileDevice& file, const QString& path) {
    return QStringLiteral("%1: %2").arg(displayPath(path), file.errorString());
}

bool isUtf32(FileEncoding encoding) {
    return encoding == FileEncoding::Utf32LittleEndian || encoding == FileEncoding::Utf32BigEndian;
}

// By hand: Qt's UTF-32 decoder passes surrogates and values past U+10FFFF on as broken UTF-16. Whole units only.
void appendUtf32(QString& text, QByteArrayView bytes, bool bigEndian) {
    for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4) {
        const char32_t unit =
            bigEndian ? qFromBigEndian<quint32>(bytes.data() + i) : qFromLittleEndian<quint32>(bytes.data() + i);
        if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF))
            text.append(QChar::ReplacementCharacter);
        else
            text.append(QChar::fromUcs4(unit));
    }
}

// Hands the recoded pieces of the reader's buffer on.
class RecodedToSink final : public RecodedText {
public:
    RecodedToSink(ByteSink& sink, const QByteArray& buffer, bool& recoded)
        : m_sink(sink)
        , m_buffer(buffer)
        , m_recoded(recoded) {}

    void keep(qsizetype from, qsizetype to) override {
        m_sink.write(QByteArrayView(m_buffer.constData() + from, to - from));
    }
    void add(QByteArrayView bytes) override {
        m_recoded = true;
        m_sink.write(bytes);
    }

private:
    ByteSink& m_sink;
    const QByteArray& m_buffer;
    bool& m_recoded;
};

const QString kNotUtf16 = QStringLiteral("The file begins like UTF-16 text but is not valid UTF-16.");

// Bytes of the start of a file in which its XML declaration is looked for.
constexpr qsizetype kDeclarationHead = 512;

QString canonicalEncodingName(QByteArrayView name) {
    return QString::fromLatin1(name).toLower().remove(u'-').remove(u'_');
}

// A first byte of 0xFF or 0xFE makes UTF-16 even without a byte-order mark, and then it is often a text in the
// code page instead: such a text must be valid UTF-16, or it is refused rather than read as other characters.
bool isUnmarkedUtf16(QByteArrayView head) {
    return fileEncodingOf(head) == FileEncoding::Utf16LittleEndian && !head.startsWith("\xFF\xFE");
}

} // namespace

// Decodes a UTF-16 or UTF-32 text, or one in an encoding that its declaration names, piece by piece. A unit cut by
// a piece's end waits for the rest of its bytes, and the first half of a surrogate pair for its second half, so
// that pieces of any size give the text of the whole.
class WideDecoder {
public:
    /// With \a strict, a text that is not valid UTF-16 throws Failure instead of reading as U+FFFD.
    WideDecoder(FileEncoding encoding, bool strict)
        : m_encoding(encoding)
        // By default Qt drops the byte-order mark; the text keeps it as U+FEFF.
        , m_decoder(encoding == FileEncoding::Utf16BigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                    QStringConverter::Flag::ConvertInitialBom)
        , m_strict(strict) {}

    /// For a text in the encoding \a name (valid for QStringDecoder).
    explicit WideDecoder(const QByteArray& name)
        : m_decoder(name.constData())
        , m_named(true) {}

    /// Decodes the next piece of bytes into \a text (replacing what it held).
    void decode(QByteArrayView bytes, QString& text) {
        text.clear();
        if (!m_highSurrogate.isNull())
            text.append(std::exchange(m_highSurrogate, QChar()));
        if (!m_named && isUtf32(m_encoding)) {
            m_pending.append(bytes);
            const qsizetype whole = m_pending.size() - m_pending.size() % 4;
            appendUtf32(text, QByteArrayView(m_pending).first(whole), m_encoding == FileEncoding::Utf32BigEndian);
            m_pending.remove(0, whole);
        } else {
            // Qt's decoder keeps an odd byte, or the start of a character, for the next piece itself.
            m_oddByte = !m_named && (m_oddByte + bytes.size()) % 2 != 0;
            text.append(m_decoder.decode(bytes));
        }
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            m_highSurrogate = text.back();
            text.chop(1);
        }
        // Qt passes unpaired surrogates on; the results window must never hold broken UTF-16.
        if (replaceLoneSurrogates(text))
            refuseIfStrict();
    }

    /// What is left when the text ends: a lone first half of a pair, and U+FFFD for an incomplete final unit.
    QString finish() {
        QString text;
        if (!m_highSurrogate.isNull()) {
            m_highSurrogate = QChar();
            text.append(QChar::ReplacementCharacter);
        }
        if (m_oddByte || !m_pending.isEmpty())
            text.append(QChar::ReplacementCharacter);
        if (!text.isEmpty())
            refuseIfStrict();
        return text;
    }

private:
    void refuseIfStrict() const {
        if (m_strict)
            throw Failure(kNotUtf16);
    }

    FileEncoding m_encoding = FileEncoding::SystemCodePage;
    QStringDecoder m_decoder;
    QByteArray m_pending; // the bytes of a UTF-32 unit cut short
    bool m_oddByte = false;
    bool m_strict = false;
    bool m_named = false;
    QChar m_highSurrogate;
};

QByteArray foreignDeclaredEncoding(QByteArrayView head) {
    // XML's own grammar for a declaration that names an encoding: only a text that begins with one declares it.
    static const QRegularExpression declaration(
        QStringLiteral("^<\\?xml[ \\t\\r\\n]+version[ \\t\\r\\n]*=[ \\t\\r\\n]*([\"'])1\\.[0-9]+\\1"
                       "[ \\t\\r\\n]+encoding[ \\t\\r\\n]*=[ \\t\\r\\n]*([\"'])([A-Za-z][A-Za-z0-9._-]*)\\2"));
    const QString latin1 = QString::fromLatin1(head.first(std::min(head.size(), kDeclarationHead)));
    const QRegularExpressionMatch match = declaration.match(latin1);
    if (!match.hasMatch())
        return {};
    QByteArray name = match.captured(3).toLatin1();
    static const QStringList usual{"utf8",    "usascii", "ascii",        "iso88591",    "iso885911987",
                                   "latin1",  "l1",      "windows1252",  "cp1252",      "utf16",
                                   "utf16le", "utf16be", "utf32",        "utf32le",     "utf32be",
                                   "ucs2",    "ucs4",    "iso10646ucs2", "iso10646ucs4"};
    const QString canonical = canonicalEncodingName(name);
    if (usual.contains(canonical))
        return {};
    const bool utf7 = canonical == u"utf7" || canonical == u"unicode11utf7" || canonical == u"csunicode11utf7";
    QStringDecoder decoder(name.constData());
    if (utf7 || !decoder.isValid())
        throw Failure(QStringLiteral("The encoding \"%1\" named in the XML declaration cannot be read.")
                          .arg(QString::fromLatin1(name)));
    // An encoding in which the declaration itself reads otherwise (UTF-16 under another name, EBCDIC) is not the
    // text's: the usual rules read it.
    const QString declared = match.captured(0);
    if (decoder.decode(QByteArrayView(head).first(declared.size())) != declared)
        return {};
    return name;
}

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo::exists(path);
}

FileEncoding fileEncodingOf(QByteArrayView head) {
    if (head.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)))
        return FileEncoding::Utf32LittleEndian;
    if (head.startsWith(QByteArrayView("\0\0\xFE\xFF", 4)))
        return FileEncoding::Utf32BigEndian;
    if (head.startsWith("\xFE\xFF"))
        return FileEncoding::Utf16BigEndian;
    if (!head.isEmpty() &&
        (static_cast<unsigned char>(head.front()) == 0xFF || static_cast<unsigned char>(head.front()) == 0xFE))
        return FileEncoding::Utf16LittleEndian;
    return FileEncoding::SystemCodePage;
}

namespace {

// The block buffer of the last reader on this thread, kept for the next: made anew for each of thousands of small
// inputs, it would cost the allocator two system calls each time.
thread_local QByteArray t_spareBuffer;

} // namespace

TextFileReader::TextFileReader(const QString& path, qint64 blockSize, const std::stop_token& stop,
                               Declarations declarations)
    : m_path(path)
    , m_blockSize(std::max<qint64>(blockSize, 1)) {
    if (path.isEmpty())
        return;
    // Opened before anything is asked, and the opened file is what is checked: a look at the path first could be
    // answered by one file and the open by another swapped in meanwhile. O_NONBLOCK keeps the open of a named
    // pipe from waiting for a writer, and a file of /proc that would block from blocking the read.
    const QByteArray native = nativePath(path);
    do
        m_fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0) {
        if (errno == ENOENT)
            return; // missing
        fail();
    }
    // A constructor that throws runs no destructor: the descriptor is closed here.
    const auto refuse = [this](const QString& reason) {
        ::close(std::exchange(m_fd, -1));
        throw Failure(reason);
    };
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        refuse(qt_error_string(errno));
    // The descriptions are the system's reason alone: the report names the file on a line of its own.
    if (S_ISDIR(info.st_mode))
        refuse(QStringLiteral("Is a directory"));
    // A device like /dev/zero never ends, a named pipe may never start.
    if (!S_ISREG(info.st_mode))
        refuse(QStringLiteral("not a regular file"));
    m_size = qint64(info.st_size);
    m_readLimit = m_size + kGrowthAllowance;
    // Room for a block after the few bytes of a character cut short by the previous one.
    if (t_spareBuffer.size() == m_blockSize + 4)
        m_buffer = std::exchange(t_spareBuffer, QByteArray());
    else
        m_buffer = QByteArray(m_blockSize + 4, Qt::Uninitialized);
    try {
        // The encoding is told by the first bytes; a short read must not hide them.
        while (!m_atEnd && m_filled < 4)
            fill();
    } catch (const Failure& failure) {
        refuse(failure.description());
    }
    const QByteArrayView first(m_buffer.constData(), m_filled);
    m_encoding = fileEncodingOf(first);
    m_empty = m_filled == 0;
    m_unmarkedUtf16 = isUnmarkedUtf16(first);
    try {
        if (m_encoding == FileEncoding::SystemCodePage && !m_empty && declarations == Declarations::Honoured)
            m_declared = foreignDeclaredEncoding(m_filled >= kDeclarationHead || m_atEnd ? first : readHead());
        settleEncoding(stop);
    } catch (const Failure& failure) {
        refuse(failure.description());
    } catch (const StopRequested&) {
        ::close(std::exchange(m_fd, -1));
        throw;
    }
}

QByteArray TextFileReader::readHead() const {
    QByteArray head(kDeclarationHead, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(m_fd, head.data() + got, size_t(head.size() - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail();
        if (n == 0)
            break;
        got += n;
    }
    head.truncate(got);
    return head;
}

void TextFileReader::settleEncoding(const std::stop_token& stop) {
    if (!m_declared.isEmpty()) {
        // UTF-8 first: a text that is valid UTF-8 is read as such whatever it declares.
        class Invalid final : public RecodedText {
        public:
            void keep(qsizetype, qsizetype) override {}
            void add(QByteArrayView) override { found = true; }
            bool found = false;
        } invalid;
        readAhead(stop, [&](QByteArrayView block, bool atEnd) -> qsizetype {
            const qsizetype done = recodeSystemCodePageBlock(block, atEnd, invalid);
            return invalid.found ? -1 : done;
        });
        if (!invalid.found)
            m_declared.clear();
    } else if (m_unmarkedUtf16) {
        WideDecoder strict(m_encoding, true);
        QString text;
        readAhead(stop, [&](QByteArrayView block, bool atEnd) -> qsizetype {
            strict.decode(block, text);
            if (atEnd)
                strict.finish();
            return block.size();
        });
    }
}

void TextFileReader::readAhead(const std::stop_token& stop,
                               const std::function<qsizetype(QByteArrayView, bool)>& take) const {
    // Apart from the reader's own position, up to the same limit, in constant memory.
    QByteArray block(kStreamBlockSize + 4, Qt::Uninitialized);
    qint64 offset = 0;
    qsizetype kept = 0; // bytes that take() left for the next block
    for (;;) {
        if (stop.stop_requested())
            throw StopRequested{};
        const qint64 want = std::min<qint64>(kStreamBlockSize, m_readLimit - offset);
        const ssize_t got = want > 0 ? ::pread(m_fd, block.data() + kept, size_t(want), offset) : 0;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail();
        offset += got;
        const qsizetype filled = kept + got;
        const bool atEnd = got == 0;
        const qsizetype done = take(QByteArrayView(block.constData(), filled), atEnd);
        if (atEnd || done < 0)
            return;
        kept = filled - done;
        std::memmove(block.data(), block.constData() + done, size_t(kept));
    }
}

std::unique_ptr<WideDecoder> TextFileReader::makeDecoder() const {
    if (!m_declared.isEmpty())
        return std::make_unique<WideDecoder>(m_declared);
    return std::make_unique<WideDecoder>(m_encoding, m_unmarkedUtf16);
}

TextFileReader::~TextFileReader() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_buffer.isEmpty())
        t_spareBuffer = std::move(m_buffer);
}

qint64 TextFileReader::readSome(char* into, qint64 size) {
    for (;;) {
        const ssize_t n = ::read(m_fd, into, size_t(size));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            fail();
    }
}

bool TextFileReader::fill() {
    const qint64 left = m_readLimit - m_read;
    if (left <= 0) {
        // As much as the file could have grown by is read: one more byte means it does not end.
        char probe = 0;
        if (readSome(&probe, 1) > 0)
            throw Failure(QStringLiteral("The file grew by more than %1 MB while it was read.")
                              .arg(kGrowthAllowance / (qint64{1024} * 1024)));
        m_atEnd = true;
        return false;
    }
    const qint64 room = std::min({m_blockSize, m_buffer.size() - m_filled, left});
    // Reads on until the block is full or the file ends, so that a short block means the end.
    qint64 got = 0;
    while (got < room) {
        const qint64 n = readSome(m_buffer.data() + m_filled + got, room - got);
        if (n == 0)
            break;
        got += n;
    }
    m_filled += got;
    m_read += got;
    m_atEnd = got < room;
    return got > 0;
}

void TextFileReader::requireFile() const {
    if (!exists())
        throw Failure(qt_error_string(ENOENT));
}

void TextFileReader::fail() {
    // In Qt's words, as QFile said them before.
    throw Failure(qt_error_string(errno));
}

TextReading TextFileReader::reading() const {
    if (!exists())
        return TextReading::Missing;
    if (isEmpty())
        return TextReading::Empty;
    switch (m_encoding) {
    case FileEncoding::Utf16LittleEndian:
        return TextReading::Utf16LE;
    case FileEncoding::Utf16BigEndian:
        return TextReading::Utf16BE;
    case FileEncoding::Utf32LittleEndian:
        return TextReading::Utf32LE;
    case FileEncoding::Utf32BigEndian:
        return TextReading::Utf32BE;
    case FileEncoding::SystemCodePage:
        break;
    }
    if (!m_declared.isEmpty())
        return TextReading::Declared;
    return m_recoded ? TextReading::Windows1252 : TextReading::Utf8;
}

void TextFileReader::writeTo(ByteSink& sink) {
    if (!exists())
        return;
    if (isEmpty())
        return sink.write(kEmptyFileText);
    if (m_encoding == FileEncoding::SystemCodePage && m_declared.isEmpty())
        writeSystemCodePage(sink);
    else
        writeDecoded(sink);
}

void TextFileReader::writeSystemCodePage(ByteSink& sink) {
    RecodedToSink out(sink, m_buffer, m_recoded);
    for (;;) {
        const qsizetype done = recodeSystemCodePageBlock(QByteArrayView(m_buffer.constData(), m_filled), m_atEnd, out);
        if (m_atEnd)
            return;
        // The start of a character that the block cut short waits for the rest.
        std::memmove(m_buffer.data(), m_buffer.constData() + done, m_filled - done);
        m_filled -= done;
        fill();
    }
}

void TextFileReader::writeDecoded(ByteSink& sink) {
    const std::unique_ptr<WideDecoder> decoder = makeDecoder();
    QString text;
    for (;;) {
        decoder->decode(QByteArrayView(m_buffer.constData(), m_filled), text);
        sink.write(encodeSystemCodePage(text));
        m_filled = 0;
        if (m_atEnd || !fill())
            break;
    }
    text = decoder->finish();
    if (!text.isEmpty())
        sink.write(encodeSystemCodePage(text));
}

bool TextFileReader::readPiece(QByteArray& piece) {
    piece.resize(0); // keeps its memory for the next piece
    if (m_ended || !exists())
        return false;
    if (isEmpty()) {
        m_ended = true;
        piece = kEmptyFileText;
        return true;
    }
    // As writeSystemCodePage() and writeDecoded() do, one turn of their loops per call.
    if (m_encoding == FileEncoding::SystemCodePage && m_declared.isEmpty()) {
        if (m_handedOn >= 0) {
            std::memmove(m_buffer.data(), m_buffer.constData() + m_handedOn, m_filled - m_handedOn);
            m_filled -= m_handedOn;
            fill();
        }
        ByteArraySink sink(piece);
        RecodedToSink out(sink, m_buffer, m_recoded);
        m_handedOn = recodeSystemCodePageBlock(QByteArrayView(m_buffer.constData(), m_filled), m_atEnd, out);
        m_ended = m_atEnd;
        return true;
    }
    if (!m_decoder)
        m_decoder = makeDecoder();
    QString text;
    if (m_handedOn >= 0) {
        m_filled = 0;
        if (m_atEnd || !fill()) {
            m_ended = true;
            piece = encodeSystemCodePage(m_decoder->finish());
            return true;
        }
    }
    m_decoder->decode(QByteArrayView(m_buffer.constData(), m_filled), text);
    m_handedOn = m_filled;
    piece = encodeSystemCodePage(text);
    return true;
}

QByteArrayView TextFileReader::nextPiece() {
    while (readPiece(m_piece))
        if (!m_piece.isEmpty())
            return m_piece;
    return {};
}

QString decodeFileText(const QByteArray& bytes) {
    const FileEncoding encoding = fileEncodingOf(bytes);
    if (encoding == FileEncoding::SystemCodePage) {
        const QByteArray declared = foreignDeclaredEncoding(bytes);
        if (declared.isEmpty() || isValidUtf8(bytes))
            return decodeSystemCodePage(bytes);
        WideDecoder decoder(declared);
        QString text;
        decoder.decode(bytes, text);
        return text + decoder.finish();
    }
    WideDecoder decoder(encoding, isUnmarkedUtf16(bytes));
    QString text;
    decoder.decode(bytes, text);
    return text + decoder.finish();
}

QString readTextFile(const QString& path) {
    // The encoded text is UTF-8 through and through, so decoding it again gives the file's characters.
    return decodeSystemCodePage(readTextFileEncoded(path));
}

QByteArray readTextFileEncoded(const QString& path) {
    std::optional<TextReading> reading;
    return readTextFileEncoded(path, reading);
}

QByteArray readTextFileEncoded(const QString& path, std::optional<TextReading>& reading) {
    TextFileReader reader(path);
    QByteArray text;
    text.reserve(reader.size());
    ByteArraySink sink(text);
    reader.writeTo(sink);
    reading = reader.reading();
    return text;
}

bool writeWhole(QFileDevice& file, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

void removeFile(const QString& path) {
    if (!QFileInfo(path).isDir())
        QFile::remove(path);
}

void writeTextFile(const QString& text, const QString& path) {
    writeFileAtomically(encodeSystemCodePage(text), path);
}

void writeFileAtomically(const QByteArray& bytes, const QString& path) {
    writeFileAtomically(path, [&](ByteSink& sink) { sink.write(bytes); });
}

ReplacedFile::ReplacedFile(const QString& path) {
    const QByteArray native = nativePath(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    // Root may write anything: a file that nobody may write to is still meant to stay as it is.
    if ((info.st_mode & 0222) == 0 || ::access(native.constData(), W_OK) != 0)
        throw WriteFailure(QStringLiteral("%1: %2").arg(displayPath(path), qt_error_string(EACCES)));
    m_exists = true;
    m_links = info.st_nlink;
    m_owner = info.st_uid;
    m_group = info.st_gid;
    m_mode = info.st_mode & 07777;
}

bool ReplacedFile::passOnTo(int descriptor) const {
    if (!m_exists)
        return true;
    // The owner first: a change of owner clears the set-user-ID bits that the mode then sets again.
    const bool owned = ::fchown(descriptor, m_owner, m_group) == 0;
    return ::fchmod(descriptor, m_mode) == 0 && owned;
}

void writeFileAtomically(const QString& path, const std::function<void(ByteSink&)>& produce) {
    const ReplacedFile replaced(path);
    if (replaced.hardLinked()) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            throw WriteFailure(describe(file, path));
        FileSink sink(file, path);
        produce(sink);
        if (!file.flush() || (file.close(), file.error() != QFileDevice::NoError))
            throw WriteFailure(describe(file, path));
        return;
    }
    QSaveFile file(path);
    // Writing through the existing file would lose it on failure; the rename keeps the old one until the end.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw WriteFailure(describe(file, path));
    // Another user's file stays theirs when root replaces it; as anyone else, Qt's own permission copy is all.
    replaced.passOnTo(file.handle());
    FileSink sink(file, path);
    // A failure leaves the new file unfinished: QSaveFile removes it when it goes.
    produce(sink);
    // QSaveFile syncs the new file to disk before it takes the target's place.
    if (!file.commit())
        throw WriteFailure(describe(file, path));
}

} // namespace corvanta
