#include "engine/text/codepage.h"

#include "engine/text/utf8check.h"

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

constexpr qsizetype kIncomplete = -1;

// Length of the valid UTF-8 sequence starting at \a p, 0 when the byte there does not start one, or kIncomplete
// when the bytes up to \a end begin one that more bytes could complete.
qsizetype utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80)
        return 1;
    // A byte past the end counts as a continuation here; the end is checked once the prefix is known to be valid.
    auto cont = [&](qsizetype i) { return p + i >= end || (p[i] & 0xC0) == 0x80; };
    const auto complete = [&](qsizetype length) { return end - p >= length ? length : kIncomplete; };
    const bool second = p + 1 < end;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return cont(1) ? complete(2) : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2))
            return 0;
        if (second && b0 == 0xE0 && p[1] < 0xA0)
            return 0; // overlong
        if (second && b0 == 0xED && p[1] >= 0xA0)
            return 0; // surrogate
        return complete(3);
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3))
            return 0;
        if (second && b0 == 0xF0 && p[1] < 0x90)
            return 0; // overlong
        if (second && b0 == 0xF4 && p[1] >= 0x90)
            return 0; // past U+10FFFF
        return complete(4);
    }
    return 0;
}

// The length of \a block without a sequence at its end that is cut short (whether or not the rest is valid).
qsizetype completeLength(QByteArrayView block) {
    for (qsizetype back = 1; back <= 3 && back <= block.size(); ++back) {
        const auto byte = static_cast<unsigned char>(block[block.size() - back]);
        if (byte < 0x80)
            break;
        if (byte < 0xC0)
            continue; // a continuation: its lead byte is further back
        const qsizetype needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        return needed > back ? block.size() - back : block.size();
    }
    return block.size();
}

// The length of the valid sequence at \a p, counting one that the end cuts short as invalid.
qsizetype wholeSequenceLength(const unsigned char* p, const unsigned char* end) {
    const qsizetype n = utf8SequenceLength(p, end);
    return n == kIncomplete ? 0 : n;
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
    return isWellFormedUtf8(bytes);
}

qsizetype recodeSystemCodePageBlock(QByteArrayView block, bool atEnd, RecodedText& out) {
    const auto begin = reinterpret_cast<const unsigned char*>(block.data());
    const auto end = begin + block.size();
    const unsigned char* kept = begin; // start of the run of valid bytes not handed on yet
    const unsigned char* p = begin;
    // Nearly every block is valid UTF-8 as a whole, up to a character that its end cuts short: one fast check
    // then passes it on, and only the few bytes at the end are looked at one by one.
    const qsizetype whole = atEnd ? block.size() : completeLength(block);
    if (isWellFormedUtf8(block.first(whole)))
        p += whole;
    while ((p = skipAscii(p, end)) < end) {
        const qsizetype n = utf8SequenceLength(p, end);
        if (n > 0) {
            p += n;
            continue;
        }
        if (n == kIncomplete && !atEnd)
            break;
        if (p > kept)
            out.keep(kept - begin, p - begin);
        const char16_t c = cp1252(*p);
        char utf8[3];
        const qsizetype length = c < 0x800 ? 2 : 3; // every byte here is 0x80 or above
        if (length == 2) {
            utf8[0] = char(0xC0 | (c >> 6));
            utf8[1] = char(0x80 | (c & 0x3F));
        } else {
            utf8[0] = char(0xE0 | (c >> 12));
            utf8[1] = char(0x80 | ((c >> 6) & 0x3F));
            utf8[2] = char(0x80 | (c & 0x3F));
        }
        out.add(QByteArrayView(utf8, length));
        kept = ++p;
    }
    if (p > kept)
        out.keep(kept - begin, p - begin);
    return p - begin;
}

QString decodeSystemCodePage(QByteArrayView bytes) {
    if (isValidUtf8(bytes))
        return decodeUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto end = p + bytes.size();
    while (p < end) {
        const qsizetype n = wholeSequenceLength(p, end);
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
    replaceLoneSurrogates(repaired);
    return repaired.toUtf8();
}

bool replaceLoneSurrogates(QString& text) {
    bool replaced = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (text[i].isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
            replaced = true;
        }
    }
    return replaced;
}

QByteArray recodeSystemCodePage(const QByteArray& bytes) {
    if (isValidUtf8(bytes))
        return bytes;
    class Collector final : public RecodedText {
    public:
        Collector(const QByteArray& in, QByteArray& out)
            : m_in(in)
            , m_out(out) {}
        void keep(qsizetype from, qsizetype to) override { m_out.append(m_in.constData() + from, to - from); }
        void add(QByteArrayView bytes) override { m_out.append(bytes); }

    private:
        const QByteArray& m_in;
        QByteArray& m_out;
    };
    QByteArray recoded;
    recoded.reserve(bytes.size() + bytes.size() / 2);
    Collector collector(bytes, recoded);
    recodeSystemCodePageBlock(bytes, true, collector);
    return recoded;
}

} // namespace corvanta
