#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvanta {

/// The system code page: UTF-8 where the bytes are valid UTF-8, Windows-1252 for every byte that is not part of
/// a valid UTF-8 sequence, so legacy 8-bit files keep their accents.
QString decodeSystemCodePage(QByteArrayView bytes);

/// \a text in the system code page (UTF-8); a lone surrogate becomes U+FFFD.
QByteArray encodeSystemCodePage(QStringView text);

/// Replaces every surrogate of \a text that is not half of a pair with U+FFFD, as a written file would have it.
/// True when there was one.
bool replaceLoneSurrogates(QString& text);

/// The same bytes as encodeSystemCodePage(decodeSystemCodePage(bytes)), without the round trip when the bytes
/// are valid UTF-8 already.
QByteArray recodeSystemCodePage(const QByteArray& bytes);

/// Receives a text recoded by recodeSystemCodePageBlock().
class RecodedText {
public:
    virtual ~RecodedText() = default;
    /// Bytes \a from to \a to (exclusive) of the block pass as they are.
    virtual void keep(qsizetype from, qsizetype to) = 0;
    /// Recoded bytes that stand for bytes of the block.
    virtual void add(QByteArrayView bytes) = 0;
};

/// Recodes the next block of a text in the system code page to UTF-8, in order: valid UTF-8 passes as it is, every
/// other byte becomes the UTF-8 of its Windows-1252 character. Returns how many bytes of \a block were recoded;
/// the rest, a sequence cut short by the block's end, must come again at the start of the next block. With
/// \a atEnd nothing is left over. Block by block the result is the same as encodeSystemCodePage() of
/// decodeSystemCodePage() of the whole text.
qsizetype recodeSystemCodePageBlock(QByteArrayView block, bool atEnd, RecodedText& out);

/// True when \a bytes are well-formed UTF-8 (no overlongs, surrogates or code points past U+10FFFF).
bool isValidUtf8(QByteArrayView bytes);

} // namespace corvanta
