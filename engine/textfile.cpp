#include "textfile.h"

#include "codepage.h"
#include "failure.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QtEndian>

namespace corvanta {

namespace {

const QString kEmptyFileText = QStringLiteral("empty file");

QString describe(const QFileDevice& file, const QString& path) {
    return QStringLiteral("%1: %2").arg(path, file.errorString());
}

// The whole content of an existing path; throws when it cannot be read (a folder, no access, an I/O error). The
// description is the system's reason alone: the report names the file on a line of its own.
QByteArray readAll(const QString& path) {
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir())
        throw Failure(QStringLiteral("Is a directory"));
    // Checked before opening: a named pipe would block the open for ever, a device like /dev/zero never ends.
    if (!info.isFile())
        throw Failure(QStringLiteral("not a regular file"));
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(file.errorString());
    return bytes;
}

enum class Wide { None, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

// UTF-32 by its byte-order mark; UTF-16 for any other first byte 0xFF or 0xFE (big-endian only with its mark).
Wide wideEncoding(QByteArrayView bytes) {
    if (bytes.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)))
        return Wide::Utf32LE;
    if (bytes.startsWith(QByteArrayView("\0\0\xFE\xFF", 4)))
        return Wide::Utf32BE;
    if (bytes.startsWith("\xFE\xFF"))
        return Wide::Utf16BE;
    if (!bytes.isEmpty() &&
        (static_cast<unsigned char>(bytes.front()) == 0xFF || static_cast<unsigned char>(bytes.front()) == 0xFE))
        return Wide::Utf16LE;
    return Wide::None;
}

QString decodeUtf16(QByteArrayView bytes, bool bigEndian) {
    // By default Qt drops the byte-order mark; the text keeps it as U+FEFF.
    QStringDecoder decoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                           QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (bytes.size() % 2 != 0)
        text.append(QChar::ReplacementCharacter); // the final odd byte
    return text;
}

// By hand: Qt's UTF-32 decoder passes surrogates and values past U+10FFFF on as broken UTF-16.
QString decodeUtf32(QByteArrayView bytes, bool bigEndian) {
    QString text;
    text.reserve(bytes.size() / 4 + 1);
    for (qsizetype i = 0; i + 4 <= bytes.size(); i += 4) {
        const char32_t unit =
            bigEndian ? qFromBigEndian<quint32>(bytes.data() + i) : qFromLittleEndian<quint32>(bytes.data() + i);
        if (unit > 0x10FFFF || (unit >= 0xD800 && unit <= 0xDFFF))
            text.append(QChar::ReplacementCharacter);
        else
            text.append(QChar::fromUcs4(unit));
    }
    if (bytes.size() % 4 != 0)
        text.append(QChar::ReplacementCharacter); // the final incomplete unit
    return text;
}

QString decodeWide(QByteArrayView bytes, Wide encoding) {
    switch (encoding) {
    case Wide::Utf16LE:
    case Wide::Utf16BE:
        return decodeUtf16(bytes, encoding == Wide::Utf16BE);
    case Wide::Utf32LE:
    case Wide::Utf32BE:
        return decodeUtf32(bytes, encoding == Wide::Utf32BE);
    case Wide::None:
        break;
    }
    return decodeSystemCodePage(bytes);
}

} // namespace

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString decodeFileText(const QByteArray& bytes) {
    return decodeWide(bytes, wideEncoding(bytes));
}

QByteArray encodeFileText(const QByteArray& bytes) {
    const Wide encoding = wideEncoding(bytes);
    return encoding == Wide::None ? recodeSystemCodePage(bytes) : encodeSystemCodePage(decodeWide(bytes, encoding));
}

QByteArray readTextFileBytes(const QString& path) {
    if (!fileExists(path))
        return {};
    QByteArray bytes = readAll(path);
    if (bytes.isEmpty())
        return kEmptyFileText.toLatin1();
    return bytes;
}

QString readTextFile(const QString& path) {
    return decodeFileText(readTextFileBytes(path));
}

QByteArray readTextFileEncoded(const QString& path) {
    std::optional<TextReading> reading;
    return readTextFileEncoded(path, reading);
}

QByteArray readTextFileEncoded(const QString& path, std::optional<TextReading>& reading) {
    if (!fileExists(path)) {
        reading = TextReading::Missing;
        return {};
    }
    const QByteArray bytes = readAll(path);
    if (bytes.isEmpty()) {
        reading = TextReading::Empty;
        return kEmptyFileText.toLatin1();
    }
    QByteArray encoded = encodeFileText(bytes);
    switch (wideEncoding(bytes)) {
    case Wide::Utf16LE:
        reading = TextReading::Utf16LE;
        break;
    case Wide::Utf16BE:
        reading = TextReading::Utf16BE;
        break;
    case Wide::Utf32LE:
        reading = TextReading::Utf32LE;
        break;
    case Wide::Utf32BE:
        reading = TextReading::Utf32BE;
        break;
    case Wide::None:
        // Valid sequences come out as they went in and every other byte grows to two or three bytes, so the
        // sizes tell without a second pass over the text.
        reading = encoded.size() == bytes.size() ? TextReading::Utf8 : TextReading::Windows1252;
        break;
    }
    return encoded;
}

namespace {

struct AppendOutcome {
    QFileDevice::FileError error = QFileDevice::NoError;
    QString reason;
};

AppendOutcome appendChecked(const QString& path, const QByteArray& bytes) {
    if (path.isEmpty())
        return {QFileDevice::OpenError, QStringLiteral("No file name given")};
    QFile file(path);
    const auto failed = [&](QFileDevice::FileError fallback) {
        const QFileDevice::FileError error = file.error() != QFileDevice::NoError ? file.error() : fallback;
        return AppendOutcome{error, file.errorString()};
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return failed(QFileDevice::OpenError);
    if (!writeWhole(file, bytes))
        return failed(QFileDevice::WriteError);
    file.close();
    if (file.error() != QFileDevice::NoError)
        return failed(QFileDevice::WriteError);
    return {};
}

} // namespace

bool writeWhole(QFileDevice& file, QByteArrayView bytes) {
    while (!bytes.isEmpty()) {
        const qint64 written = file.write(bytes.data(), bytes.size());
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

int appendBytes(const QString& path, const QByteArray& bytes) {
    return appendChecked(path, bytes).error;
}

void appendToFile(const QString& path, const QByteArray& bytes) {
    const AppendOutcome outcome = appendChecked(path, bytes);
    if (outcome.error != QFileDevice::NoError)
        throw Failure(QStringLiteral("%1: %2").arg(path, outcome.reason));
}

void removeFile(const QString& path) {
    if (!QFileInfo(path).isDir())
        QFile::remove(path);
}

void writeTextFile(const QString& text, const QString& path) {
    writeFileAtomically(encodeSystemCodePage(text), path);
}

void writeFileAtomically(const QByteArray& bytes, const QString& path) {
    QSaveFile file(path);
    // Writing through the existing file would lose it on failure; the rename keeps the old one until the end.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Failure(describe(file, path));
    if (!writeWhole(file, bytes)) {
        const QString reason = describe(file, path);
        file.cancelWriting();
        throw Failure(reason);
    }
    if (!file.commit())
        throw Failure(describe(file, path));
}

} // namespace corvanta
