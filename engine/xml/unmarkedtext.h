#pragma once

#include "engine/xml/xmlparser.h"

#include <QByteArray>
#include <QByteArrayView>
#include <utility>

namespace corvanta {

/// True when \a text starts with an XML declaration.
inline bool startsWithDeclaration(QByteArrayView text) {
    return text.size() > 5 && text.startsWith("<?xml") &&
           (text[5] == ' ' || text[5] == '\t' || text[5] == '\r' || text[5] == '\n');
}

/// A text's pieces without its leading byte-order mark, with its first bytes at hand before any is parsed.
class UnmarkedText {
public:
    explicit UnmarkedText(TextPieces pieces)
        : m_pieces(std::move(pieces))
        , m_head(m_pieces()) {
        // A byte-order mark and "<?xml " fit in the first nine bytes; a piece shorter than that is rare.
        constexpr qsizetype kHeadBytes = 9;
        if (!m_head.isEmpty() && m_head.size() < kHeadBytes) {
            m_gathered = m_head.toByteArray();
            for (QByteArrayView more; m_gathered.size() < kHeadBytes && !(more = m_pieces()).isEmpty();)
                m_gathered += more;
            m_head = m_gathered;
        }
        if (m_head.startsWith("\xEF\xBB\xBF"))
            m_head = m_head.sliced(3);
    }

    bool hasDeclaration() const { return startsWithDeclaration(m_head); }

    /// True when the text starts as UTF-16 does: with its byte-order mark, or a zero byte in its first two.
    bool startsLikeUtf16() const {
        return m_head.size() >= 2 && (m_head.startsWith("\xFF\xFE") || m_head.startsWith("\xFE\xFF") ||
                                      m_head[0] == '\0' || m_head[1] == '\0');
    }

    QByteArrayView operator()() {
        if (!std::exchange(m_headGiven, true) && !m_head.isEmpty())
            return m_head;
        return m_pieces();
    }

private:
    TextPieces m_pieces;
    QByteArrayView m_head;
    QByteArray m_gathered;
    bool m_headGiven = false;
};

} // namespace corvanta
