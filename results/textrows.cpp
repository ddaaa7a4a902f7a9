#include "results/textrows.h"

#include <QChar>
#include <algorithm>
#include <cmath>

namespace corvanta {

CharWidths::CharWidths(Measure measure, qreal tabStop)
    : m_measure(std::move(measure))
    , m_tabStop(tabStop > 0 ? tabStop : 1)
    , m_basic(0x10000, -1.0F) {}

qreal CharWidths::measureBasic(char16_t c) {
    const qreal width = std::max<qreal>(0, m_measure(QString(QChar(c))));
    m_basic[c] = float(width);
    return width;
}

qreal CharWidths::of(char32_t c) {
    const auto found = m_supplementary.constFind(c);
    if (found != m_supplementary.cend())
        return *found;
    const qreal width = std::max<qreal>(0, m_measure(QString::fromUcs4(&c, 1)));
    m_supplementary.insert(c, width);
    return width;
}

qreal CharWidths::tab(qreal x) const {
    return (std::floor(x / m_tabStop) + 1) * m_tabStop - x;
}

void TextRows::build(QStringView text, qreal width, CharWidths& widths) {
    restart(width);
    extend(text, text.size(), widths);
}

void TextRows::restart(qreal width, qsizetype from) {
    m_rows.clear();
    m_width = width;
    m_complete = false;
    m_next = m_lineStart = m_rowStart = from;
    m_x = 0;
    m_breakAt = -1;
    m_xAtBreak = 0;
}

void TextRows::extend(QStringView text, qsizetype characters, CharWidths& widths) {
    if (m_complete)
        return;
    const qsizetype limit = std::min(text.size(), m_next + std::max<qsizetype>(characters, 1));
    extendPiece(text, 0, text.size(), limit, widths);
}

void TextRows::extend(const TextStore& store, qsizetype characters, CharWidths& widths) {
    if (m_complete)
        return;
    const qsizetype size = store.size();
    const qsizetype limit = std::min(size, m_next + std::max<qsizetype>(characters, 1));
    // A surrogate pair may take wrapping one unit past the limit, and a CR LF after it two more.
    const qsizetype pieceEnd = std::min(size, limit + 3);
    extendPiece(store.mid(m_next, pieceEnd - m_next), m_next, size, limit, widths);
}

void TextRows::extendPiece(QStringView piece, qsizetype base, qsizetype size, qsizetype limit, CharWidths& widths) {
    const char16_t* data = piece.utf16();
    const auto chars = [data, base](qsizetype at) { return data[at - base]; };
    // Locals, not members, in the loop: it runs once per character.
    const qreal width = m_width;
    qsizetype i = m_next;
    qsizetype lineStart = m_lineStart;
    qsizetype rowStart = m_rowStart;
    qreal x = m_x;
    qsizetype breakAt = m_breakAt;
    qreal xAtBreak = m_xAtBreak;
    auto endRow = [&](qsizetype rowEnd) {
        m_rows.push_back({rowStart, rowEnd - rowStart});
        rowStart = rowEnd;
        breakAt = -1;
    };
    // A line's last row is pushed even when empty, unless whitespace hanging at the end of the row before took
    // the line's last character.
    auto endLine = [&](qsizetype lineEnd) {
        if (rowStart < lineEnd || rowStart == lineStart)
            m_rows.push_back({rowStart, lineEnd - rowStart});
    };
    auto breakLine = [&] {
        endLine(i);
        const bool crlf = chars(i) == u'\r' && i + 1 < size && chars(i + 1) == u'\n';
        i += crlf ? 2 : 1;
        lineStart = rowStart = i;
        x = 0;
        breakAt = -1;
    };

    while (i < limit) {
        const char16_t c = chars(i);
        if (endsLine(c)) {
            breakLine();
            continue;
        }
        const bool blank = c == u' ' || c == u'\t';
        qsizetype units = 1;
        qreal advance = 0;
        if (c == u'\t') {
            advance = widths.tab(x);
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(chars(i + 1))) {
            units = 2;
            advance = widths.of(char32_t(QChar::surrogateToUcs4(c, chars(i + 1))));
        } else {
            advance = widths.of(c);
        }

        if (x + advance > width && i > rowStart) {
            if (blank) {
                endRow(i + 1);
                x = 0;
                ++i;
            } else if (breakAt > rowStart) {
                // The word moves to the next row whole; measure this character again from its new position.
                endRow(breakAt);
                x -= xAtBreak;
            } else {
                endRow(i);
                x = 0;
            }
            continue;
        }

        x += advance;
        i += units;
        if (blank) {
            breakAt = i;
            xAtBreak = x;
        }
    }
    // Never stop on a line break: whitespace hanging at the end of a row may have taken its line's last character,
    // and then no row would start where the finished rows end.
    if (i < size && endsLine(chars(i)))
        breakLine();
    if (i >= size) {
        endLine(size);
        rowStart = size;
        m_complete = true;
    }
    m_next = i;
    m_lineStart = lineStart;
    m_rowStart = rowStart;
    m_x = x;
    m_breakAt = breakAt;
    m_xAtBreak = xAtBreak;
}

qsizetype TextRows::rowOf(qsizetype offset) const {
    const auto after = std::upper_bound(m_rows.begin(), m_rows.end(), offset,
                                        [](qsizetype value, const TextRow& row) { return value < row.start; });
    return after == m_rows.begin() ? 0 : qsizetype(after - m_rows.begin()) - 1;
}

} // namespace corvanta
