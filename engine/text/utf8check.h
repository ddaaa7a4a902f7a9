#pragma once

#include <QByteArrayView>

namespace corvanta {

/// True when \a bytes are well-formed UTF-8 (no overlongs, surrogates or code points past U+10FFFF, nothing cut
/// short at the end). Vectorised where the processor allows: Append checks every byte it copies.
bool isWellFormedUtf8(QByteArrayView bytes);

} // namespace corvanta
