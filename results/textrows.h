#pragma once

#include "engine/text/textstore.h"

#include <QChar>
#include <QHash>
#include <QString>
#include <QStringView>
#include <deque>
#include <functional>
#include <vector>

namespace corvanta {

/// Advance widths of the characters of one font, each measured once. Wrapping a text of many megabytes then costs
/// a table look-up per character instead of shaping the whole text.
class CharWidths {
public:
    /// Measures one character, given as one UTF-16 unit or a surrogate pair.
    using Measure = std::function<qreal(const QString& character)>;

    /// \a tabStop is the distance between tab stops, measured from the start of a row.
    CharWidths(Measure measure, qreal tabStop);

    /// Advance of \a c (a character of the Basic Multilingual Plane).
    qreal of(char16_t c) {
        const float cached = m_basic[c];
        return cached >= 0 ? cached : measureBasic(c);
    }
    /// Advance of a character outside the Basic Multilingual Plane.
    qreal of(char32_t c);
    /// Advance of a tab that starts at \a x: up to the next tab stop after \a x.
    qreal tab(qreal x) const;

private:
    qreal measureBasic(char16_t c);

    Measure m_measure;
    qreal m_tabStop;
    std::vector<float> m_basic; // negative: not measured yet
    QHash<char32_t, qreal> m_supplementary;
};

/// Whether \a c ends a line: LF, CR (alone or before LF) and the Unicode line and paragraph separators; text
/// layout ends a line at the two separators as well, so a row never holds one. Inline: wrapping calls it for every
/// character.
inline bool endsLine(char16_t c) {
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

/// One display row: a piece of one line of the text, without its line break.
struct TextRow {
    qsizetype start = 0;
    qsizetype length = 0;

    friend bool operator==(const TextRow&, const TextRow&) = default;
};

/// The display rows of a text for a given width. Lines end at LF, CR LF, a lone CR or a Unicode line or paragraph
/// separator; a line wider than the width
/// is wrapped after its last space or tab that fits, or between characters when a word alone is too wide.
/// Whitespace that does not fit hangs at the end of its row. Every line has at least one row, so a text that ends
/// with a line break ends with an empty row.
///
/// The rows can be built a piece at a time (restart(), then extend() until isComplete()), so that a text of many
/// megabytes never holds up its caller for long; meanwhile the finished rows cover the text up to coveredEnd().
class TextRows {
public:
    /// Rebuilds the rows of \a text for rows \a width wide, all at once.
    void build(QStringView text, qreal width, CharWidths& widths);
    /// Forgets every row: wrapping starts again at the text's start, for rows \a width wide; or at \a from, which
    /// must start a line, for the rows of that line and those after it.
    void restart(qreal width, qsizetype from = 0);
    /// Wraps at least \a characters more characters of \a text (fewer at its end); \a text is the same text on every
    /// call since restart().
    void extend(QStringView text, qsizetype characters, CharWidths& widths);
    /// extend() over a text read from \a store, which fetches only the part wrapped now.
    void extend(const TextStore& store, qsizetype characters, CharWidths& widths);

    /// Whether every row of the text is built.
    bool isComplete() const { return m_complete; }
    /// Where the row being wrapped starts: every offset before it is in a finished row. The text's size once
    /// complete.
    qsizetype coveredEnd() const { return m_rowStart; }
    /// Whether the row that holds \a offset is built.
    bool holds(qsizetype offset) const {
        return offset >= 0 && (offset < m_rowStart || (m_complete && offset == m_rowStart));
    }
    /// Where the row after \a row starts, or would start: coveredEnd() after the last finished row.
    qsizetype nextStart(qsizetype row) const { return row + 1 < count() ? at(row + 1).start : m_rowStart; }
    /// Whether a row follows \a row, built or not yet.
    bool hasRowAfter(qsizetype row) const { return row + 1 < count() || !m_complete; }

    qsizetype count() const { return qsizetype(m_rows.size()); }
    const TextRow& at(qsizetype index) const { return m_rows[size_t(index)]; }
    /// Index of the row that holds \a offset; an offset on a line break belongs to the row before it. Meaningful
    /// only where holds() is true.
    qsizetype rowOf(qsizetype offset) const;

private:
    // Wraps up to \a limit; \a piece is the text from \a base on, far enough past \a limit for a look at the next
    // two units (or to the end of the text, \a size units long).
    void extendPiece(QStringView piece, qsizetype base, qsizetype size, qsizetype limit, CharWidths& widths);

    // Not a vector: growing one of millions of rows would copy them all at once, long enough to stall the window.
    std::deque<TextRow> m_rows{TextRow{}};
    qreal m_width = 1;
    bool m_complete = true;
    // Where wrapping goes on: the character it looks at next, and the line and row that character is in.
    qsizetype m_next = 0;
    qsizetype m_lineStart = 0;
    qsizetype m_rowStart = 0;
    qreal m_x = 0;            // width of the row so far
    qsizetype m_breakAt = -1; // just after the row's last space or tab
    qreal m_xAtBreak = 0;
};

} // namespace corvanta
