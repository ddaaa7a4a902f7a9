#pragma once

#include "xmlparser.h"

#include <QStringList>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>

namespace corvanta {

/// One input as Merge loads it, with what went wrong on the way, to be reported when the join reaches it.
struct PreparedInput {
    /// Why the file could not be read; its text then counts as empty.
    std::exception_ptr readFailure;
    /// Size of the text that was parsed, in bytes.
    qsizetype textSize = 0;
    /// Why the parser could not run at all (out of memory); a text that does not parse is no failure.
    std::exception_ptr parseFailure;
    ParsedXml parsed;
};

/// Reads and parses the inputs of a Merge in list order on a thread of its own, at most \a depth inputs ahead of
/// the one the join has taken last, so that parsing the next input overlaps merging the current one while memory
/// stays bounded. Beyond the next input, inputs are read ahead only while the texts waiting stay under
/// kAheadBytes: large inputs are read one ahead, small ones many. The first input is read on the thread that
/// takes it, while the second is read ahead. With a depth of
/// 0 nothing runs ahead: each input is read and parsed when taken. Destroying the prefetcher (or cancel()) drops the
/// work ahead: a parse in progress ends at its next block. Inputs after the first are parsed without the second-level
/// elements that \a skippable names at that time.
class InputPrefetcher {
public:
    /// How much text may wait, read and parsed, beyond the next input.
    static constexpr qsizetype kAheadBytes = qsizetype(8) << 20;

    InputPrefetcher(QStringList paths, int depth, const SkippableNames* skippable = nullptr);
    ~InputPrefetcher();
    InputPrefetcher(const InputPrefetcher&) = delete;
    InputPrefetcher& operator=(const InputPrefetcher&) = delete;

    /// The next input in list order, waiting for it when it is not ready yet. Call once per path.
    PreparedInput takeNext();

    /// Stops the work ahead and waits for the thread; takeNext() must not be called afterwards.
    void cancel();

    /// Reads and parses the input at \a path as Merge does.
    static PreparedInput prepare(const QString& path, const std::stop_token& stop = {},
                                 const SkippableNames* skippable = nullptr);

private:
    void work(const std::stop_token& stop);

    const QStringList m_paths;
    const qsizetype m_depth;
    const SkippableNames* m_skippable;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<PreparedInput> m_ready; // the inputs after the last one taken, in order
    qsizetype m_readyBytes = 0;        // the size of their texts
    qsizetype m_taken = 0;             // how many inputs the join has taken
    std::jthread m_worker;             // last: it starts once every member above exists
};

} // namespace corvanta
