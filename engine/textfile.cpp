#include "textfile.h"

#include "codepage.h"
#include "failure.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <cstring>
#include <utility>

namespace corvanta {

namespace {

const QByteArray kEmptyFileText = QByteArrayLiteral("empty file");

QString describe(const QFileDevice& file, const QString& path) {
    return QStringLiteral("%1: %2").arg(path, file.errorString());
}

QStringConverter::Encoding qtEncoding(FileEncoding encoding) {
    return encoding == FileEncoding::Utf16BigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE;
}

// Bytes per code unit of an encoding that Qt decodes.
int unitSize(FileEncoding) {
    return 2;
}

QString decodeUtf16(const QByteArray& bytes, FileEncoding encoding) {
    // By default Qt drops the byte-order mark; the text keeps it as U+FEFF.
    QStringDecoder decoder(qtEncoding(encoding), QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (bytes.size() % unitSize(encoding) != 0)
        text.append(QChar::ReplacementCharacter); // the final odd byte
    return text;
}

// Hands the recoded pieces of the reader's buffer on.
class RecodedToSink final : public RecodedText {
public:
    RecodedToSink(ByteSink& sink, const QByteArray& buffer)
        : m_sink(sink)
        , m_buffer(buffer) {}

    void keep(qsizetype from, qsizetype to) override {
        m_sink.write(QByteArrayView(m_buffer.constData() + from, to - from));
    }
    void add(QByteArrayView bytes) override { m_sink.write(bytes); }

private:
    ByteSink& m_sink;
    const QByteArray& m_buffer;
};

} // namespace

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo::exists(path);
}

FileEncoding fileEncodingOf(QByteArrayView head) {
    if (head.isEmpty())
        return FileEncoding::SystemCodePage;
    const auto first = static_cast<unsigned char>(head[0]);
    if (first == 0xFE && head.size() >= 2 && static_cast<unsigned char>(head[1]) == 0xFF)
        return FileEncoding::Utf16BigEndian;
    if (first == 0xFF || first == 0xFE)
        return FileEncoding::Utf16LittleEndian;
    return FileEncoding::SystemCodePage;
}

TextFileReader::TextFileReader(const QString& path, qint64 blockSize)
    : m_path(path)
    , m_file(path)
    , m_blockSize(std::max<qint64>(blockSize, 1)) {
    if (!fileExists(path))
        return;
    const QFileInfo info(path);
    if (info.isDir())
        throw Failure(QStringLiteral("%1: Is a directory").arg(path));
    // Checked before opening: a named pipe would block the open for ever, a device like /dev/zero never ends.
    if (!info.isFile())
        throw Failure(QStringLiteral("%1: not a regular file").arg(path));
    // Unbuffered: every block goes straight into the buffer below, with no copy in between.
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Failure(describe(m_file, path));
    m_size = m_file.size();
    // Room for a block after the few bytes of a character cut short by the previous one.
    m_buffer.resize(m_blockSize + 4);
    // The encoding is told by the first bytes; a short read must not hide them.
    while (!m_atEnd && m_filled < 4)
        fill();
    m_encoding = fileEncodingOf(QByteArrayView(m_buffer.constData(), m_filled));
}

bool TextFileReader::fill() {
    const qint64 room = std::min<qint64>(m_blockSize, m_buffer.size() - m_filled);
    const qint64 n = m_file.read(m_buffer.data() + m_filled, room);
    if (n < 0)
        fail();
    m_filled += n;
    m_atEnd = n == 0;
    return n > 0;
}

void TextFileReader::fail() const {
    throw Failure(describe(m_file, m_path));
}

void TextFileReader::writeTo(ByteSink& sink) {
    if (!exists())
        return;
    if (isEmpty())
        return sink.write(kEmptyFileText);
    if (m_encoding == FileEncoding::SystemCodePage)
        writeSystemCodePage(sink);
    else
        writeDecoded(sink);
}

void TextFileReader::writeSystemCodePage(ByteSink& sink) {
    RecodedToSink out(sink, m_buffer);
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
    QStringDecoder decoder(qtEncoding(m_encoding), QStringConverter::Flag::ConvertInitialBom);
    qint64 total = 0;
    QString text;
    QChar highSurrogate; // a pair's first half at a block's end waits for its second
    for (;;) {
        total += m_filled;
        text = decoder.decode(QByteArrayView(m_buffer.constData(), m_filled));
        if (!highSurrogate.isNull())
            text.prepend(std::exchange(highSurrogate, QChar()));
        if (!text.isEmpty() && text.back().isHighSurrogate()) {
            highSurrogate = text.back();
            text.chop(1);
        }
        sink.write(encodeSystemCodePage(text));
        m_filled = 0;
        if (m_atEnd || !fill())
            break;
    }
    text.clear();
    if (!highSurrogate.isNull())
        text.append(highSurrogate);
    if (total % unitSize(m_encoding) != 0)
        text.append(QChar::ReplacementCharacter); // the final odd byte
    if (!text.isEmpty())
        sink.write(encodeSystemCodePage(text));
}

QString decodeFileText(const QByteArray& bytes) {
    const FileEncoding encoding = fileEncodingOf(bytes);
    return encoding == FileEncoding::SystemCodePage ? decodeSystemCodePage(bytes) : decodeUtf16(bytes, encoding);
}

QString readTextFile(const QString& path) {
    // The encoded text is UTF-8 through and through, so decoding it again gives the file's characters.
    return decodeSystemCodePage(readTextFileEncoded(path));
}

QByteArray readTextFileEncoded(const QString& path) {
    TextFileReader reader(path);
    QByteArray text;
    text.reserve(reader.size());
    ByteArraySink sink(text);
    reader.writeTo(sink);
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

void writeFileAtomically(const QString& path, const std::function<void(ByteSink&)>& produce) {
    QSaveFile file(path);
    // Writing through the existing file would lose it on failure; the rename keeps the old one until the end.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw WriteFailure(describe(file, path));
    FileSink sink(file, path);
    // A failure leaves the new file unfinished: QSaveFile removes it when it goes.
    produce(sink);
    // QSaveFile syncs the new file to disk before it takes the target's place.
    if (!file.commit())
        throw WriteFailure(describe(file, path));
}

} // namespace corvanta
