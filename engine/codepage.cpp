#include "codepage.h"

#include <QStringDecoder>
#include <array>
#include <cstring>

namespace corvanta {

namespace {

// Windows-1252 for 0x80..0x9F; the five bytes it leaves undefined map to the C1 control of the same value, as
// Windows does. Qt has no codec for the mixed UTF-8/Windows-1252 reading, so this part is done by hand.
constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t cp1252(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

// Length of the valid UTF-8 sequence starting at \a p, or 0 when the byte there does not start one.
qsizetype utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80)
        return 1;
    auto cont = [&](qsizetype i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(1) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (b0 == 0xE0 && p[1] < 0xA0)
            return 0; // overlong
        if (b0 == 0xED && p[1] >= 0xA0)
            return 0; // surrogate
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (b0 == 0xF0 && p[1] < 0x90)
            return 0; // overlong
        if (b0 == 0xF4 && p[1] >= 0x90)
            return 0; // past U+10FFFF
        return 4;
    }
    return 0;
}

const unsigned char* skipAscii(const unsigned char* p, const unsigned char* end) {
    while (end - p >= 8) {
        quint64 block;
        std::memcpy(&block, p, sizeof block);
        if (block & 0x8080808080808080ULL)
            break;
        p += 8;
    }
    while (p < end && *p < 0x80)
        ++p;
    return p;
}

// Qt's UTF-8 decoder drops a leading byte-order mark; the text keeps it as U+FEFF.
QString decodeUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool hasLoneSurrogate(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

} // namespace

bool isValidUtf8(QByteArrayView bytes) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    while ((p = skipAscii(p, end)) < end) {
        const qsizetype n = utf8SequenceLength(p, end);
        if (n == 0)
            return false;
        p += n;
    }
    return true;
}

QString decodeSystemCodePage(QByteArrayView bytes) {
    if (isValidUtf8(bytes))
        return decodeUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    while (p < end) {
        const qsizetype n = utf8SequenceLength(p, end);
        if (n == 0) {
            text.append(QChar(cp1252(*p)));
            ++p;
        } else {
            text.append(decodeUtf8(QByteArrayView(p, n)));
            p += n;
        }
    }
    return text;
}

QByteArray encodeSystemCodePage(QStringView text) {
    if (!hasLoneSurrogate(text))
        return text.toUtf8();
    // Qt writes a lone surrogate as '?'; the file gets U+FFFD instead.
    QString repaired = text.toString();
    for (qsizetype i = 0; i < repaired.size(); ++i) {
        if (repaired[i].isHighSurrogate() && i + 1 < repaired.size() && repaired[i + 1].isLowSurrogate())
            ++i;
        else if (repaired[i].isSurrogate())
            repaired[i] = QChar::ReplacementCharacter;
    }
    return repaired.toUtf8();
}

QByteArray recodeSystemCodePage(const QByteArray& bytes) {
    if (isValidUtf8(bytes))
        return bytes;
    return encodeSystemCodePage(decodeSystemCodePage(bytes));
}

} // namespace corvanta
