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
    if (QFileInfo(path).isDir())
        throw Failure(QStringLiteral("%1: Is a directory").arg(path));
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

QString decodeUtf16(const QByteArray& bytes) {
    const bool bigEndian = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
                           static_cast<unsigned char>(bytes[1]) == 0xFF;
    // By default Qt drops the byte-order mark; the text keeps it as U+FEFF.
    QStringDecoder decoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
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
    return encodeFileText(readTextFileBytes(path));
}

int appendBytes(const QString& path, const QByteArray& bytes) {
    if (path.isEmpty())
        return QFileDevice::OpenError;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return file.error();
    if (file.write(bytes) != bytes.size())
        return file.error() != QFileDevice::NoError ? file.error() : QFileDevice::WriteError;
    if (!file.flush())
        return file.error();
    return QFileDevice::NoError;
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
    if (!file.open(QIODevice::WriteOnly))
        throw Failure(describe(file, path));
    if (file.write(bytes) != bytes.size()) {
        const QString reason = describe(file, path);
        file.cancelWriting();
        throw Failure(reason);
    }
    if (!file.commit())
        throw Failure(describe(file, path));
}

} // namespace corvanta
