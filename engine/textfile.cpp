#include "textfile.h"

#include "codepage.h"
#include "failure.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

namespace corvanta {

namespace {

const QString kEmptyFileText = QStringLiteral("empty file");

QString describe(const QFileDevice& file, const QString& path) {
    return QStringLiteral("%1: %2").arg(path, file.errorString());
}

// The whole content of an existing path; throws when it cannot be read (a folder, no access, an I/O error).
QByteArray readAll(const QString& path) {
    QFile file(path);
    const QFileInfo info(path);
    if (info.isDir())
        throw Failure(QStringLiteral("%1: Is a directory").arg(path));
    // Checked before opening: a named pipe would block the open for ever, a device like /dev/zero never ends.
    if (!info.isFile())
        throw Failure(QStringLiteral("%1: not a regular file").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(describe(file, path));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(describe(file, path));
    return bytes;
}

bool isUtf16(const QByteArray& bytes) {
    const auto first = static_cast<unsigned char>(bytes.front());
    return first == 0xFF || first == 0xFE;
}

bool isUtf16BigEndian(const QByteArray& bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
           static_cast<unsigned char>(bytes[1]) == 0xFF;
}

QString decodeUtf16(const QByteArray& bytes) {
    // By default Qt drops the byte-order mark; the text keeps it as U+FEFF.
    QStringDecoder decoder(isUtf16BigEndian(bytes) ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                           QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (bytes.size() % 2 != 0)
        text.append(QChar::ReplacementCharacter); // the final odd byte
    return text;
}

} // namespace

bool fileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo::exists(path);
}

QString decodeFileText(const QByteArray& bytes) {
    return !bytes.isEmpty() && isUtf16(bytes) ? decodeUtf16(bytes) : decodeSystemCodePage(bytes);
}

QByteArray encodeFileText(const QByteArray& bytes) {
    return !bytes.isEmpty() && isUtf16(bytes) ? encodeSystemCodePage(decodeUtf16(bytes)) : recodeSystemCodePage(bytes);
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
    if (isUtf16(bytes))
        reading = isUtf16BigEndian(bytes) ? TextReading::Utf16BE : TextReading::Utf16LE;
    else
        // Valid sequences come out as they went in and every other byte grows to two or three bytes, so the
        // sizes tell without a second pass over the text.
        reading = encoded.size() == bytes.size() ? TextReading::Utf8 : TextReading::Windows1252;
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
