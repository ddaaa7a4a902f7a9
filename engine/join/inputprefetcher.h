#pragma once

#include "engine/text/textfile.h"
#include "engine/xml/xmlparser.h"

#include <QStringList>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

namespace corvanta {

/// One input as Merge loads it, with what went wrong on the way, to be reported when the join reaches it.
struct PreparedInput {
    /// Why the file could not be read; its text then counts as empty.
    std::exception_ptr readFailure;
    /// How the file was read; Missing when there was no file, whose text then counts as empty.
    std::optional<TextReading> reading;
    /// Size of the file when it was opened, in bytes: its text is read as it is parsed, never held whole.
    qsizetype textSize = 0;
    /// Why the parser could not run at all (out of memory, or the taker could not be made); a text that does not
    /// parse is no failure.
    std::exception_ptr parseFailure;
    ParsedXml parsed;
};

/// Reads and parses the inputs of a Merge ahead of the join, on two threads at once, and hands them out strictly in
/// list order. Each text is read block by block as it is parsed. The first input is read on the thread that takes it,
/// while the second is read ahead.
///
/// The bound on the work ahead, counted from the inputs the join has taken: the next input may be in flight (being
/// prepared, or prepared and waiting) whatever its size; an input further ahead is started only while the files of
/// the inputs in flight that have been opened total under kAheadBytes (or what setAheadBytes() said); at most two
/// inputs are being prepared at any time (the first one, on the taking thread, included); and no input is started
/// more than \a depth inputs ahead of the one taken last. So with kAheadBytes, besides the document being merged, at
/// most one large document is held at a time, while many small ones are parsed on both threads. With a depth of 1
/// only the next input is prepared ahead; with a depth of 0 nothing runs ahead: each input is read and parsed on the
/// taking thread when taken.
///
/// Destroying the prefetcher (or cancel()), or a request of the \a stop given to it, drops the work ahead at once:
/// a read or parse in progress ends at its next block, and a takeNext() waiting or called afterwards returns at
/// once an input whose read failed with StopRequested. An input's read or parse failure travels with it, to be reported
/// when the join reaches it. Inputs after the first are parsed without the second-level elements that \a skippable
/// names at the time they are parsed, and the taker that \a takerFor gives an input, if any, takes its second-level
/// elements as they are parsed.
class InputPrefetcher {
public:
    /// How much text may be in flight beyond the next input, unless setAheadBytes() says otherwise.
    static constexpr qsizetype kAheadBytes = qsizetype(8) << 20;
    /// What may be in flight once the inputs ahead are written as they are parsed rather than held as trees: each
    /// then holds a few blocks of its text and a few dozen bytes per element, so two large ones may be parsed at
    /// once.
    static constexpr qsizetype kWrittenAheadBytes = qsizetype(512) << 20;

    /// Gives the taker for the input at \a index in the list, whose text is \a textSize bytes long, or null. Called
    /// on the thread that parses the input, once its text is read; the taker must outlive the input's parse. What
    /// it throws travels with the input as its parseFailure, the input then left unparsed.
    using TakerFor = std::function<ElementTaker*(qsizetype index, qsizetype textSize)>;

    InputPrefetcher(QStringList paths, int depth, const SkippableNames* skippable = nullptr, TakerFor takerFor = {},
                    const std::stop_token& stop = {});
    ~InputPrefetcher();
    InputPrefetcher(const InputPrefetcher&) = delete;
    InputPrefetcher& operator=(const InputPrefetcher&) = delete;

    /// The next input in list order, waiting for it when it is not ready yet. A wait lasts until several inputs
    /// are ready (or nothing more is being prepared), so that small inputs cost few switches between threads.
    /// Call once per path. With \a soonest, the wait lasts only until the next input is ready: for a join whose
    /// inputs ahead may wait for the one it takes.
    PreparedInput takeNext(bool soonest = false);

    /// Stops the work ahead and waits for the threads; takeNext() must not be called afterwards.
    void cancel();

    /// Lets the texts in flight beyond the next input total \a bytes from now on: more than kAheadBytes where the
    /// inputs are no longer held as trees.
    void setAheadBytes(qsizetype bytes);

    /// Reads and parses the input at \a path, the one at \a index in the list, as Merge does.
    static PreparedInput prepare(const QString& path, const std::stop_token& stop = {},
                                 const SkippableNames* skippable = nullptr, const TakerFor& takerFor = {},
                                 qsizetype index = 0);

private:
    bool mayStartNext() const;
    bool workersShouldWake() const;
    bool takerMayGo() const;
    void work(int worker);
    void wakeTakerIfItMayGo(std::unique_lock<std::mutex>& lock);
    std::optional<PreparedInput>& slotOf(qsizetype index);
    const std::optional<PreparedInput>& slotOf(qsizetype index) const;
    static std::unique_ptr<TextFileReader> open(const QString& path, const std::stop_token& stop, PreparedInput& input);
    static ElementTaker* takerOf(const TakerFor& takerFor, qsizetype index, PreparedInput& input);
    static void parse(std::unique_ptr<TextFileReader>& reader, const QString& path, const std::stop_token& stop,
                      const SkippableNames* skippable, ElementTaker* taker, PreparedInput& input);

    const QStringList m_paths;
    const qsizetype m_depth;
    const SkippableNames* m_skippable;
    const TakerFor m_takerFor;
    // Requested by cancel() or, through m_forward, by the join's own stop; every wait and every parse hears it.
    std::stop_source m_stop;
    std::optional<std::stop_callback<std::function<void()>>> m_forward; // after m_stop: goes before it
    // Guards every member below it but m_workers. The workers and the taker hold it only to look at or change
    // these counts and slots, never while reading, parsing or calling m_takerFor.
    std::mutex m_mutex;
    std::condition_variable_any m_workerWake; // a worker may start an input
    std::condition_variable_any m_takerWake;  // the input the join waits for is ready
    // A ring of slots for the inputs from the next one to be taken up to the last one started: input i in slot
    // i % size, empty while being prepared. No more than m_depth inputs are ever in flight, so those never share
    // a slot; the first input, prepared by the taker, never uses its own. A slot is filled only by the worker that
    // started its input, and emptied only by the taker.
    std::vector<std::optional<PreparedInput>> m_slots;
    qsizetype m_readyBytes = 0; // the size of the texts in the slots, read or prepared
    qsizetype m_aheadBytes = kAheadBytes;
    qsizetype m_taken = 0;   // how many inputs the join has taken; written by the taker only, which reads it
                             // without the lock
    qsizetype m_started = 0; // how many inputs have been started
    int m_preparing = 0;     // how many inputs are being prepared, the taker's first one included
    int m_waitingWorkers = 0;
    int m_lastWorker = 0; // the worker that finished an input last
    // Set by the taker before it sleeps, cleared by whoever wakes it. Whatever makes takerMayGo() true (an input
    // ready, m_readyBytes growing, m_preparing falling) must wake the taker when it is set, else it sleeps on.
    bool m_takerWaiting = false;
    bool m_takeSoonest = false;          // what the taker's wait asked for
    std::vector<std::jthread> m_workers; // last: they start once every member above exists; only ever touched by
                                         // the owning thread
};

} // namespace corvanta
