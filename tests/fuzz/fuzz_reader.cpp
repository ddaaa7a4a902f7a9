// The reader: any bytes become text by the file encoding rules, and the text written out is valid UTF-8.
#include "engine/text/bytesink.h"
#include "engine/text/codepage.h"
#include "engine/text/failure.h"
#include "engine/text/textfile.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QByteArrayView>

using namespace corvanta;

namespace {

bool startsWith(const QByteArray& bytes, QByteArrayView prefix) {
    return bytes.startsWith(prefix);
}

void checkEncodingRules(const QByteArray& bytes, const QString& text, const QByteArray& encoded) {
    const qsizetype size = bytes.size();
    const char16_t first = text.isEmpty() ? 0 : text.front().unicode();
    if (startsWith(bytes, QByteArrayView("\xFF\xFE\0\0", 4)) || startsWith(bytes, QByteArrayView("\0\0\xFE\xFF", 4))) {
        fuzz::check(first == 0xFEFF, "UTF-32 keeps its byte-order mark as U+FEFF");
        fuzz::check(text.toUcs4().size() == (size + 3) / 4, "UTF-32: one character per unit, one for a partial unit");
    } else if (startsWith(bytes, "\xFF") || startsWith(bytes, "\xFE")) {
        if (startsWith(bytes, "\xFF\xFE") || startsWith(bytes, "\xFE\xFF"))
            fuzz::check(first == 0xFEFF, "UTF-16 keeps its byte-order mark as U+FEFF");
        fuzz::check(text.size() == (size + 1) / 2, "UTF-16: one code unit per two bytes, one for an odd last byte");
        if (size % 2 != 0)
            fuzz::check(text.back() == QChar::ReplacementCharacter, "an odd last byte of UTF-16 reads as U+FFFD");
    } else if (isValidUtf8(bytes) || foreignDeclaredEncoding(bytes).isEmpty()) {
        fuzz::check(text.size() <= size, "the code page makes at most one code unit of each byte");
        if (isValidUtf8(bytes))
            fuzz::check(encoded == bytes, "valid UTF-8 passes through byte for byte");
        else
            fuzz::check(!text.contains(QChar::ReplacementCharacter) || bytes.contains("\xEF\xBF\xBD"),
                        "a byte that is no UTF-8 reads as its Windows-1252 character, never as U+FFFD");
        bool ascii = true;
        for (const char byte : bytes)
            ascii = ascii && static_cast<unsigned char>(byte) < 0x80;
        if (ascii)
            fuzz::check(text == QLatin1String(bytes), "ASCII reads as itself");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = fuzz::bytesOf(data, size);

    // A text that the reader refuses is refused by every routine alike, for the same reason.
    QString text;
    try {
        text = decodeFileText(bytes);
    } catch (const Failure& refusal) {
        const QString path = fuzz::writeInputs({bytes}, QStringLiteral("reader")).front();
        const auto reason = [](const auto& read) {
            try {
                read();
            } catch (const Failure& failure) {
                return failure.description();
            }
            return QString();
        };
        fuzz::check(reason([&] { readTextFileEncoded(path); }) == refusal.description(),
                    "readTextFileEncoded() refuses what decodeFileText() refuses");
        for (const qint64 blockSize : {1, 3, 64}) {
            NullSink nothing;
            fuzz::check(reason([&] { TextFileReader(path, blockSize).writeTo(nothing); }) == refusal.description(),
                        "the block-wise reader refuses what decodeFileText() refuses");
        }
        return 0;
    }
    const QByteArray encoded = encodeSystemCodePage(text);

    fuzz::check(!fuzz::hasLoneSurrogate(text), "the reader yields valid UTF-16");
    fuzz::check(isValidUtf8(encoded), "the text is written as valid UTF-8");
    fuzz::check(encoded == text.toUtf8(), "the written bytes are the text in UTF-8");
    checkEncodingRules(bytes, text, encoded);

    // The file routines read what the in-memory ones decode; a zero-length file reads as "empty file".
    const QString path = fuzz::writeInputs({bytes}, QStringLiteral("reader")).front();
    const QString expected = bytes.isEmpty() ? QStringLiteral("empty file") : text;
    fuzz::check(readTextFile(path) == expected, "readTextFile() decodes the file as decodeFileText() does");
    fuzz::check(readTextFileEncoded(path) == expected.toUtf8(), "readTextFileEncoded() is readTextFile() in UTF-8");

    // Block ends that cut characters, surrogate pairs and invalid sequences must not change the text.
    for (const qint64 blockSize : {1, 3, 5, 64}) {
        QByteArray streamed;
        ByteArraySink sink(streamed);
        TextFileReader(path, blockSize).writeTo(sink);
        fuzz::check(streamed == expected.toUtf8(), "the block-wise reader gives the whole text at any block size");
    }
    return 0;
}
