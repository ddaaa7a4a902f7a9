#pragma once

#include <QStringView>
#include <Qt>
#include <stop_token>

namespace corvanta {

class TextStore;

/// Index of the first occurrence of \a needle in \a haystack, or -1. Case-insensitive search compares simple case
/// foldings, as QString does, and an empty needle is never found.
qsizetype indexOfText(QStringView haystack, QStringView needle, Qt::CaseSensitivity cs);
/// Index of the last occurrence of \a needle in \a haystack, or -1; otherwise as indexOfText().
qsizetype lastIndexOfText(QStringView haystack, QStringView needle, Qt::CaseSensitivity cs);

/// Where one step of a plain-text search landed.
struct TextMatch {
    qsizetype start = -1; ///< -1 when the needle occurs nowhere
    bool wrapped = false; ///< the search passed an end of the text and went on from the other one
};

enum class SearchDirection { Forward, Backward };

/// One find step in \a text from the caret offset \a from: forward, the first match that starts at or after
/// \a from; backward, the last one that ends at or before it. Without such a match the search wraps around and
/// looks at the rest of the text, so every occurrence is found by one step or another.
TextMatch findStep(QStringView text, QStringView needle, qsizetype from, SearchDirection direction,
                   Qt::CaseSensitivity cs);

/// findStep() in a text read from \a text a few megabytes at a time, past its cache (TextStore::read()), so from any
/// thread. Throws StopRequested before the next few megabytes once \a stop is requested.
TextMatch findStep(const TextStore& text, QStringView needle, qsizetype from, SearchDirection direction,
                   Qt::CaseSensitivity cs, const std::stop_token& stop = {});

} // namespace corvanta
