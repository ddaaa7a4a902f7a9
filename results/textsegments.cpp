#include "results/textsegments.h"

#include "engine/text/textstore.h"
#include "results/textrows.h"

#include <QChar>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace corvanta {

namespace {

bool breaksLine(QChar c) {
    return endsLine(c.unicode());
}

bool isCrLf(QStringView text, qsizetype at) {
    return at + 1 < text.size() && text[at] == u'\r' && text[at + 1] == u'\n';
}

// An offset between the CR and the LF of one line break stands for the break itself.
qsizetype outsideCrLf(QStringView text, qsizetype offset) {
    return offset > 0 && isCrLf(text, offset - 1) ? offset - 1 : offset;
}

// After a line break every one of these rules breaks, so a line (with its break) is always whole pieces.
QTextBoundaryFinder::BoundaryType finderType(TextUnit unit) {
    switch (unit) {
    case TextUnit::Word:
        return QTextBoundaryFinder::Word;
    case TextUnit::Sentence:
        return QTextBoundaryFinder::Sentence;
    default:
        return QTextBoundaryFinder::Grapheme;
    }
}

// Words are only the runs that start or end a word, so punctuation between two words stays one piece, as Qt's
// own text widgets tell assistive technology.
bool endsPiece(const QTextBoundaryFinder& finder, qsizetype length) {
    const qsizetype at = finder.position();
    if (at <= 0 || at >= length)
        return true;
    if (finder.type() != QTextBoundaryFinder::Word)
        return finder.isAtBoundary();
    return finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem);
}

TextSpan paragraphAt(QStringView text, qsizetype offset) {
    const qsizetype at = outsideCrLf(text, offset);
    qsizetype start = at;
    while (start > 0 && !breaksLine(text[start - 1]))
        --start;
    qsizetype end = at;
    while (end < text.size() && !breaksLine(text[end]))
        ++end;
    if (end < text.size())
        end += isCrLf(text, end) ? 2 : 1;
    return {start, end};
}

// Runs the boundary rules over a window around the offset: its line, but no more than `reach` characters either
// side. A piece that comes within a few characters of a window edge inside a line may have been cut there (the
// rules look at the characters around a boundary), so the window then grows.
TextSpan boundedPieceAt(QStringView text, qsizetype offset, TextUnit unit) {
    constexpr qsizetype margin = 16;
    const qsizetype size = text.size();
    const qsizetype at = outsideCrLf(text, offset);
    for (qsizetype reach = 256;; reach *= 8) {
        qsizetype from = at;
        const qsizetype lowest = std::max<qsizetype>(0, at - reach);
        while (from > lowest && !breaksLine(text[from - 1]))
            --from;
        const bool wholeStart = from == 0 || breaksLine(text[from - 1]);
        qsizetype to = at;
        const qsizetype highest = std::min(size, at + reach);
        while (to < highest && !breaksLine(text[to]))
            ++to;
        const bool wholeEnd = to == size || breaksLine(text[to]);
        if (to < size && breaksLine(text[to]))
            to += isCrLf(text, to) ? 2 : 1;

        const qsizetype length = to - from;
        QTextBoundaryFinder finder(finderType(unit), text.sliced(from, length));
        finder.setPosition(at - from);
        while (!endsPiece(finder, length))
            finder.toPreviousBoundary();
        const qsizetype start = finder.position();
        do
            finder.toNextBoundary();
        while (!endsPiece(finder, length));
        const qsizetype end = finder.position() < 0 ? length : finder.position();

        if ((wholeStart || start >= margin) && (wholeEnd || length - end >= margin))
            return {from + start, from + end};
    }
}

// The punctuation that Qt's editors treat as words of their own when the caret moves by words.
bool isWordSeparator(QChar c) {
    return QStringView(u".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\").contains(c);
}

bool isBlank(QChar c) {
    return c.isSpace();
}

} // namespace

TextSpan spanAt(QStringView text, qsizetype offset, TextUnit unit) {
    if (offset < 0 || offset > text.size())
        return {};
    if (unit == TextUnit::Paragraph)
        return paragraphAt(text, offset);
    if (offset == text.size())
        return {};
    return boundedPieceAt(text, offset, unit);
}

TextSpan spanBefore(QStringView text, qsizetype offset, TextUnit unit) {
    if (offset < 0 || offset > text.size())
        return {};
    const TextSpan here = spanAt(text, offset, unit);
    const qsizetype start = here.isValid() ? here.start : offset;
    return start > 0 ? spanAt(text, start - 1, unit) : TextSpan{};
}

TextSpan spanAfter(QStringView text, qsizetype offset, TextUnit unit) {
    const TextSpan here = spanAt(text, offset, unit);
    if (!here.isValid() || here.end == here.start)
        return {};
    // After a final line break comes one more, empty, paragraph.
    const TextSpan next = spanAt(text, here.end, unit);
    return next == here ? TextSpan{} : next;
}

qsizetype nextCharacter(QStringView text, qsizetype offset) {
    if (offset >= text.size())
        return text.size();
    return spanAt(text, std::max<qsizetype>(0, offset), TextUnit::Character).end;
}

qsizetype previousCharacter(QStringView text, qsizetype offset) {
    if (offset <= 0)
        return 0;
    return spanAt(text, std::min(offset, text.size()) - 1, TextUnit::Character).start;
}

qsizetype nextWord(QStringView text, qsizetype offset) {
    const qsizetype size = text.size();
    qsizetype at = std::clamp<qsizetype>(offset, 0, size);
    if (at < size && isWordSeparator(text[at])) {
        while (at < size && isWordSeparator(text[at]))
            ++at;
    } else {
        while (at < size && !isBlank(text[at]) && !isWordSeparator(text[at]))
            ++at;
    }
    while (at < size && isBlank(text[at]))
        ++at;
    return at;
}

qsizetype previousWord(QStringView text, qsizetype offset) {
    qsizetype at = std::clamp<qsizetype>(offset, 0, text.size());
    while (at > 0 && isBlank(text[at - 1]))
        --at;
    if (at > 0 && isWordSeparator(text[at - 1])) {
        while (at > 0 && isWordSeparator(text[at - 1]))
            --at;
    } else {
        while (at > 0 && !isBlank(text[at - 1]) && !isWordSeparator(text[at - 1]))
            --at;
    }
    return at;
}

namespace {

// Units fetched either side of an offset at first; a piece that comes this near a window edge that is not the
// text's may have been cut there, and the window grows.
constexpr qsizetype kFirstReach = 4096;
constexpr qsizetype kEdgeMargin = 16;

// Where the line that holds \a at starts: just after the line break before it.
qsizetype lineStartBefore(const TextStore& text, qsizetype at) {
    while (at > 0) {
        const TextStore::Piece piece = text.pieceAt(at - 1);
        for (qsizetype i = at - 1; i >= piece.start; --i)
            if (breaksLine(piece.text[i - piece.start]))
                return i + 1;
        at = piece.start;
    }
    return 0;
}

// Where the line that holds \a at ends: at its line break, or the text's end.
qsizetype lineEndFrom(const TextStore& text, qsizetype at) {
    while (at < text.size()) {
        const TextStore::Piece piece = text.pieceAt(at);
        for (qsizetype i = at; i < piece.end(); ++i)
            if (breaksLine(piece.text[i - piece.start]))
                return i;
        at = piece.end();
    }
    return text.size();
}

bool isCrLf(const TextStore& text, qsizetype at) {
    return text.at(at) == u'\r' && text.at(at + 1) == u'\n';
}

// An offset between the CR and the LF of one line break stands for the break itself.
qsizetype outsideCrLf(const TextStore& text, qsizetype offset) {
    return offset > 0 && isCrLf(text, offset - 1) ? offset - 1 : offset;
}

} // namespace

TextSpan spanAt(const TextStore& text, qsizetype offset, TextUnit unit) {
    const qsizetype size = text.size();
    if (offset < 0 || offset > size)
        return {};
    if (unit == TextUnit::Paragraph) {
        const qsizetype at = outsideCrLf(text, offset);
        qsizetype end = lineEndFrom(text, at);
        if (end < size)
            end += isCrLf(text, end) ? 2 : 1;
        return {lineStartBefore(text, at), end};
    }
    if (offset == size)
        return {};
    for (qsizetype reach = kFirstReach;; reach *= 8) {
        const qsizetype from = std::max<qsizetype>(0, offset - reach);
        const qsizetype to = std::min(size, offset + reach);
        const QString window = text.mid(from, to - from);
        const TextSpan span = spanAt(window, offset - from, unit);
        const bool wholeStart = from == 0 || span.start >= kEdgeMargin;
        const bool wholeEnd = to == size || window.size() - span.end >= kEdgeMargin;
        if (!span.isValid())
            return {};
        if (wholeStart && wholeEnd)
            return {from + span.start, from + span.end};
    }
}

TextSpan spanBefore(const TextStore& text, qsizetype offset, TextUnit unit) {
    if (offset < 0 || offset > text.size())
        return {};
    const TextSpan here = spanAt(text, offset, unit);
    const qsizetype start = here.isValid() ? here.start : offset;
    return start > 0 ? spanAt(text, start - 1, unit) : TextSpan{};
}

TextSpan spanAfter(const TextStore& text, qsizetype offset, TextUnit unit) {
    const TextSpan here = spanAt(text, offset, unit);
    if (!here.isValid() || here.end == here.start)
        return {};
    const TextSpan next = spanAt(text, here.end, unit);
    return next == here ? TextSpan{} : next;
}

qsizetype nextCharacter(const TextStore& text, qsizetype offset) {
    if (offset >= text.size())
        return text.size();
    return spanAt(text, std::max<qsizetype>(0, offset), TextUnit::Character).end;
}

qsizetype previousCharacter(const TextStore& text, qsizetype offset) {
    if (offset <= 0)
        return 0;
    return spanAt(text, std::min(offset, text.size()) - 1, TextUnit::Character).start;
}

qsizetype nextWord(const TextStore& text, qsizetype offset) {
    const qsizetype size = text.size();
    const qsizetype at = std::clamp<qsizetype>(offset, 0, size);
    for (qsizetype reach = kFirstReach;; reach *= 8) {
        const qsizetype to = std::min(size, at + reach);
        const qsizetype next = at + nextWord(text.mid(at, to - at), 0);
        if (next < to || to == size)
            return next;
    }
}

qsizetype previousWord(const TextStore& text, qsizetype offset) {
    const qsizetype at = std::clamp<qsizetype>(offset, 0, text.size());
    for (qsizetype reach = kFirstReach;; reach *= 8) {
        const qsizetype from = std::max<qsizetype>(0, at - reach);
        const qsizetype previous = from + previousWord(text.mid(from, at - from), at - from);
        if (previous > from || from == 0)
            return previous;
    }
}

qsizetype paragraphStart(const TextStore& text, qsizetype offset) {
    return lineStartBefore(text, outsideCrLf(text, std::clamp<qsizetype>(offset, 0, text.size())));
}

} // namespace corvanta
