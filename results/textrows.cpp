#include "textrows.h"

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
    m_rows.clear();
    const char16_t* chars = text.utf16();
    const qsizetype size = text.size();
    qsizetype lineStart = 0;
    for (;;) {
        // A plain loop: QStringView::indexOf looks for one character, and a line ends at any of four.
        qsizetype lineEnd = lineStart;
        while (lineEnd < size && !endsLine(chars[lineEnd]))
            ++lineEnd;
        wrapLine(chars, lineStart, lineEnd, width, widths);
        if (lineEnd == size)
            break;
        const bool crlf = chars[lineEnd] == u'\r' && lineEnd + 1 < size && chars[lineEnd + 1] == u'\n';
        lineStart = lineEnd + (crlf ? 2 : 1);
    }
}

void TextRows::wrapLine(const char16_t* text, qsizetype start, qsizetype end, qreal width, CharWidths& widths) {
    qsizetype rowStart = start;
    qreal x = 0;
    qsizetype breakAt = -1; // just after the row's last space or tab
    qreal xAtBreak = 0;
    auto endRow = [&](qsizetype rowEnd) {
        m_rows.push_back({rowStart, rowEnd - rowStart});
        rowStart = rowEnd;
        breakAt = -1;
    };

    qsizetype i = start;
    while (i < end) {
        const char16_t c = text[i];
        const bool blank = c == u' ' || c == u'\t';
        qsizetype units = 1;
        qreal advance = 0;
        if (c == u'\t') {
            advance = widths.tab(x);
        } else if (QChar::isHighSurrogate(c) && i + 1 < end && QChar::isLowSurrogate(text[i + 1])) {
            units = 2;
            advance = widths.of(char32_t(QChar::surrogateToUcs4(c, text[i + 1])));
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
    if (rowStart < end || rowStart == start)
        m_rows.push_back({rowStart, end - rowStart});
}

qsizetype TextRows::rowOf(qsizetype offset) const {
    const auto after = std::upper_bound(m_rows.begin(), m_rows.end(), offset,
                                        [](qsizetype value, const TextRow& row) { return value < row.start; });
    return after == m_rows.begin() ? 0 : qsizetype(after - m_rows.begin()) - 1;
}

} // namespace corvanta
