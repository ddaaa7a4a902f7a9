#pragma once

#include <QStringView>

namespace corvanta {
class TextStore;
}

namespace corvanta {

/// A piece of a text from \a start up to \a end; both are -1 when there is no such piece.
struct TextSpan {
    qsizetype start = -1;
    qsizetype end = -1;

    bool isValid() const { return start >= 0; }
    friend bool operator==(const TextSpan&, const TextSpan&) = default;
};

/// How a text divides into pieces for reading and selecting, by Unicode's rules for characters (grapheme
/// clusters, so a surrogate pair or CR LF is one), words and sentences; a paragraph is a line of the text with
/// its line break.
enum class TextUnit { Character, Word, Sentence, Paragraph };

/// Every function here looks only at the text near the offset: the line that holds it, or at most a few thousand
/// characters of it when the line is long, so a text of many megabytes costs no more than a short one.

/// The piece of \a unit that holds \a offset. At the end of the text: the last paragraph (empty after a final line
/// break), and no character, word or sentence.
TextSpan spanAt(QStringView text, qsizetype offset, TextUnit unit);
/// The piece of \a unit just before the one at \a offset (the last piece when \a offset is the end).
TextSpan spanBefore(QStringView text, qsizetype offset, TextUnit unit);
/// The piece of \a unit just after the one at \a offset.
TextSpan spanAfter(QStringView text, qsizetype offset, TextUnit unit);

/// The caret offset one character (grapheme cluster) after or before \a offset.
qsizetype nextCharacter(QStringView text, qsizetype offset);
qsizetype previousCharacter(QStringView text, qsizetype offset);
/// Where a caret moving by words stops, as in Qt's editors: a run of letters and digits or a run of punctuation
/// is one word, and the whitespace after a word (line breaks included) belongs to it.
qsizetype nextWord(QStringView text, qsizetype offset);
qsizetype previousWord(QStringView text, qsizetype offset);

/// The same over a text read from a store: each fetches only the text near the offset, growing it where a piece
/// comes near its edge; a paragraph is found by walking the store's blocks to the line's ends.
TextSpan spanAt(const TextStore& text, qsizetype offset, TextUnit unit);
TextSpan spanBefore(const TextStore& text, qsizetype offset, TextUnit unit);
TextSpan spanAfter(const TextStore& text, qsizetype offset, TextUnit unit);
qsizetype nextCharacter(const TextStore& text, qsizetype offset);
qsizetype previousCharacter(const TextStore& text, qsizetype offset);
qsizetype nextWord(const TextStore& text, qsizetype offset);
qsizetype previousWord(const TextStore& text, qsizetype offset);
/// Where the paragraph that holds \a offset starts: spanAt()'s start, without the walk to its end.
qsizetype paragraphStart(const TextStore& text, qsizetype offset);

} // namespace corvanta
