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

/// The same bytes as encodeSystemCodePage(decodeSystemCodePage(bytes)), without the round trip when the bytes
/// are valid UTF-8 already.
QByteArray recodeSystemCodePage(const QByteArray& bytes);

/// True when \a bytes are well-formed UTF-8 (no overlongs, surrogates or code points past U+10FFFF).
bool isValidUtf8(QByteArrayView bytes);

} // namespace corvanta
