#include "results/textsearch.h"

#include "engine/text/failure.h"
#include "engine/text/textstore.h"

#include <QChar>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <vector>

namespace corvanta {

// Hand-written because QString's own search folds each character through the full Unicode tables and falls back
// to a rolling hash for short needles: about 0.3 s for a case-insensitive miss in 20 MB. Folding through one
// table of UTF-16 units and skipping ahead (Horspool) keeps a find step on such a text far under 0.1 s.

namespace {

const std::array<char16_t, 0x10000>& foldTable() {
    static const auto table = [] {
        std::array<char16_t, 0x10000> folded{};
        for (size_t unit = 0; unit < folded.size(); ++unit)
            folded[unit] = char16_t(QChar::toCaseFolded(char32_t(unit)));
        return folded;
    }();
    return table;
}

struct SameUnit {
    char16_t operator()(char16_t unit) const { return unit; }
};

struct FoldedUnit {
    const std::array<char16_t, 0x10000>& table = foldTable();
    char16_t operator()(char16_t unit) const { return table[unit]; }
};

template <typename Fold> bool sameText(const char16_t* text, const char16_t* pattern, qsizetype length, Fold fold) {
    for (qsizetype i = 0; i < length; ++i)
        if (fold(text[i]) != pattern[i])
            return false;
    return true;
}

// Horspool's shifts, looked up by the raw unit of the text so that the loop never folds: 0 marks a unit that folds
// to the pattern's unit compared first (its last, or its first going backward); \a repeat is the shift after such
// a candidate fails. Shifts are capped at 255, which only makes them shorter, so always safe.
struct Shifts {
    std::vector<quint8> byUnit = std::vector<quint8>(0x10000);
    qsizetype repeat = 1;
};

template <typename Fold> Shifts shiftsFor(const std::vector<char16_t>& pattern, bool backward, Fold fold) {
    const auto length = qsizetype(pattern.size());
    const auto cap = quint8(std::min<qsizetype>(length, 255));
    std::vector<quint8> byFolded(0x10000, cap);
    // Later entries overwrite earlier ones with shorter shifts: the nearest occurrence in the pattern counts.
    if (backward) {
        for (qsizetype i = length - 1; i >= 1; --i)
            byFolded[pattern[size_t(i)]] = quint8(std::min<qsizetype>(i, cap));
    } else {
        for (qsizetype i = 0; i + 1 < length; ++i)
            byFolded[pattern[size_t(i)]] = quint8(std::min<qsizetype>(length - 1 - i, cap));
    }
    const char16_t compared = backward ? pattern.front() : pattern.back();
    Shifts shifts;
    shifts.repeat = byFolded[compared];
    for (size_t unit = 0; unit < shifts.byUnit.size(); ++unit) {
        const char16_t folded = fold(char16_t(unit));
        shifts.byUnit[unit] = folded == compared ? 0 : byFolded[folded];
    }
    return shifts;
}

template <typename Fold>
qsizetype searchForward(QStringView haystack, const std::vector<char16_t>& pattern, Fold fold) {
    const char16_t* text = haystack.utf16();
    const auto length = qsizetype(pattern.size());
    const qsizetype last = haystack.size() - length; // the last place a match can start
    if (last < 0)
        return -1;
    const Shifts shifts = shiftsFor(pattern, false, fold);
    const quint8* shift = shifts.byUnit.data();
    for (qsizetype at = 0; at <= last;) {
        if (const quint8 step = shift[text[at + length - 1]]; step != 0)
            at += step;
        else if (sameText(text + at, pattern.data(), length - 1, fold))
            return at;
        else
            at += shifts.repeat;
    }
    return -1;
}

template <typename Fold>
qsizetype searchBackward(QStringView haystack, const std::vector<char16_t>& pattern, Fold fold) {
    const char16_t* text = haystack.utf16();
    const auto length = qsizetype(pattern.size());
    if (length > haystack.size())
        return -1;
    const Shifts shifts = shiftsFor(pattern, true, fold);
    const quint8* shift = shifts.byUnit.data();
    for (qsizetype at = haystack.size() - length; at >= 0;) {
        if (const quint8 step = shift[text[at]]; step != 0)
            at -= step;
        else if (sameText(text + at + 1, pattern.data() + 1, length - 1, fold))
            return at;
        else
            at -= shifts.repeat;
    }
    return -1;
}

// The units that fold as \a unit does: itself alone when case counts.
std::vector<char16_t> unitsLike(char16_t unit, Qt::CaseSensitivity cs) {
    if (cs == Qt::CaseSensitive)
        return {unit};
    const auto& fold = foldTable();
    std::vector<char16_t> units;
    for (size_t other = 0; other < fold.size(); ++other)
        if (fold[other] == fold[unit])
            units.push_back(char16_t(other));
    return units;
}

// One unit: Qt scans for a single unit with vector instructions, once for each form it may take, each scan
// stopping where an earlier form was already found.
qsizetype unitOf(QStringView haystack, char16_t unit, Qt::CaseSensitivity cs) {
    qsizetype found = -1;
    for (const char16_t form : unitsLike(unit, cs)) {
        const QStringView rest = found < 0 ? haystack : haystack.first(found);
        if (const qsizetype at = rest.indexOf(QChar(form)); at >= 0)
            found = at;
    }
    return found;
}

// QStringView::lastIndexOf(QChar) steps back one unit at a time; scanning fixed blocks forwards from the end is
// several times faster.
qsizetype lastUnitOf(QStringView haystack, char16_t unit, Qt::CaseSensitivity cs) {
    const std::vector<char16_t> forms = unitsLike(unit, cs);
    constexpr qsizetype block = 4096;
    for (qsizetype end = haystack.size(); end > 0;) {
        const qsizetype start = std::max<qsizetype>(0, end - block);
        const QStringView part = haystack.sliced(start, end - start);
        qsizetype found = -1;
        for (const char16_t form : forms)
            for (qsizetype at = part.indexOf(QChar(form), found + 1); at >= 0; at = part.indexOf(QChar(form), at + 1))
                found = at;
        if (found >= 0)
            return start + found;
        end = start;
    }
    return -1;
}

bool hasSurrogate(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isSurrogate(); });
}

template <bool Backward> qsizetype search(QStringView haystack, QStringView needle, Qt::CaseSensitivity cs) {
    if (needle.isEmpty())
        return -1;
    // The tables cost about as much as scanning 100,000 units, so short texts are left to QString. So are needles
    // with a character outside the Basic Multilingual Plane, which folds only with both of its units.
    constexpr qsizetype worthTables = 0x10000;
    if (haystack.size() < worthTables || (cs == Qt::CaseInsensitive && hasSurrogate(needle)))
        return Backward ? haystack.lastIndexOf(needle, -1, cs) : haystack.indexOf(needle, 0, cs);
    if (needle.size() == 1)
        return Backward ? lastUnitOf(haystack, needle.front().unicode(), cs)
                        : unitOf(haystack, needle.front().unicode(), cs);
    std::vector<char16_t> pattern(needle.utf16(), needle.utf16() + needle.size());
    if (cs == Qt::CaseSensitive)
        return Backward ? searchBackward(haystack, pattern, SameUnit()) : searchForward(haystack, pattern, SameUnit());
    const FoldedUnit fold;
    std::transform(pattern.begin(), pattern.end(), pattern.begin(), fold);
    return Backward ? searchBackward(haystack, pattern, fold) : searchForward(haystack, pattern, fold);
}

} // namespace

qsizetype indexOfText(QStringView haystack, QStringView needle, Qt::CaseSensitivity cs) {
    return search<false>(haystack, needle, cs);
}

qsizetype lastIndexOfText(QStringView haystack, QStringView needle, Qt::CaseSensitivity cs) {
    return search<true>(haystack, needle, cs);
}

namespace {

// Units searched at a time in a store: large enough that the search tables cost little beside the scan, small
// enough to stay a few megabytes.
constexpr qsizetype kSearchChunk = qsizetype(1) << 21;

// One chunk of \a text, read past its cache: a walk through the text would push out the blocks the view uses.
QString chunkOf(const TextStore& text, qsizetype start, qsizetype end, const std::stop_token& stop) {
    if (stop.stop_requested())
        throw StopRequested{};
    return text.read(start, end - start);
}

// The first match that lies wholly in [from, to). Chunks overlap by the needle's length less one, so a match
// across a chunk's end is whole in the chunk where it starts.
qsizetype indexIn(const TextStore& text, QStringView needle, qsizetype from, qsizetype to, Qt::CaseSensitivity cs,
                  const std::stop_token& stop) {
    const qsizetype length = needle.size();
    for (qsizetype start = from; start + length <= to; start += kSearchChunk) {
        const qsizetype end = std::min(to, start + kSearchChunk + length - 1);
        if (const qsizetype at = indexOfText(chunkOf(text, start, end, stop), needle, cs); at >= 0)
            return start + at;
    }
    return -1;
}

// The last match that lies wholly in [from, to); the chunks overlap as in indexIn().
qsizetype lastIndexIn(const TextStore& text, QStringView needle, qsizetype from, qsizetype to, Qt::CaseSensitivity cs,
                      const std::stop_token& stop) {
    const qsizetype length = needle.size();
    for (qsizetype end = to; end - from >= length; end -= kSearchChunk) {
        const qsizetype start = std::max(from, end - kSearchChunk - length + 1);
        if (const qsizetype at = lastIndexOfText(chunkOf(text, start, end, stop), needle, cs); at >= 0)
            return start + at;
        if (start == from)
            break;
    }
    return -1;
}

// One step of find over a text of \a size units, wrapping round its end: \a first and \a last give the first and
// the last match that lies wholly in [from, to), or -1. The part searched after wrapping reaches just far enough to
// hold the matches the first part could not.
template <typename First, typename Last>
TextMatch wrappingStep(qsizetype size, qsizetype length, qsizetype from, SearchDirection direction, const First& first,
                       const Last& last) {
    if (length == 0 || length > size)
        return {};
    from = std::clamp<qsizetype>(from, 0, size);
    if (direction == SearchDirection::Forward) {
        if (const qsizetype at = first(from, size); at >= 0)
            return {at, false};
        if (const qsizetype at = first(0, std::min(size, from + length - 1)); at >= 0)
            return {at, true};
        return {};
    }
    if (const qsizetype at = last(0, from); at >= 0)
        return {at, false};
    if (const qsizetype at = last(std::max<qsizetype>(0, from - length + 1), size); at >= 0)
        return {at, true};
    return {};
}

} // namespace

TextMatch findStep(QStringView text, QStringView needle, qsizetype from, SearchDirection direction,
                   Qt::CaseSensitivity cs) {
    const auto within = [&](auto search) {
        return [&text, &needle, cs, search](qsizetype start, qsizetype end) {
            const qsizetype at = search(text.sliced(start, end - start), needle, cs);
            return at >= 0 ? start + at : -1;
        };
    };
    return wrappingStep(text.size(), needle.size(), from, direction, within(&indexOfText), within(&lastIndexOfText));
}

TextMatch findStep(const TextStore& text, QStringView needle, qsizetype from, SearchDirection direction,
                   Qt::CaseSensitivity cs, const std::stop_token& stop) {
    return wrappingStep(
        text.size(), needle.size(), from, direction,
        [&](qsizetype start, qsizetype end) { return indexIn(text, needle, start, end, cs, stop); },
        [&](qsizetype start, qsizetype end) { return lastIndexIn(text, needle, start, end, cs, stop); });
}

} // namespace corvanta
