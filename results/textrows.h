#pragma once

#include <QChar>
#include <QHash>
#include <QString>
#include <QStringView>
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
class TextRows {
public:
    /// Rebuilds the rows of \a text for rows \a width wide.
    void build(QStringView text, qreal width, CharWidths& widths);

    qsizetype count() const { return qsizetype(m_rows.size()); }
    const TextRow& at(qsizetype index) const { return m_rows[size_t(index)]; }
    /// Index of the row that holds \a offset; an offset on a line break belongs to the row before it.
    qsizetype rowOf(qsizetype offset) const;

private:
    void wrapLine(const char16_t* text, qsizetype start, qsizetype end, qreal width, CharWidths& widths);

    std::vector<TextRow> m_rows{TextRow{}};
};

} // namespace corvanta
