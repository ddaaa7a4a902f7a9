#include "engine/join/inputprefetcher.h"

#include "engine/text/failure.h"
#include "engine/text/textfile.h"

#include <algorithm>
#include <utility>

namespace corvanta {

namespace {

// One input is prepared per core of a two-core machine; the merging thread mostly waits for them. Two workers
// rather than one and the waiting join: a join busy parsing an input ahead holds back the merge of the one it
// waited for, and with it the start of the next large input.
constexpr int kParseThreads = 2;

// The join is woken once this much text is ready: below it, a switch between threads could cost as much as the
// merge it lets start.
constexpr qsizetype kWakeBytes = InputPrefetcher::kAheadBytes / 8;

} // namespace

InputPrefetcher::InputPrefetcher(QStringList paths, int depth, const SkippableNames* skippable, TakerFor takerFor,
                                 const std::stop_token& stop)
    : m_paths(std::move(paths))
    , m_depth(std::max(depth, 0))
    , m_skippable(skippable)
    , m_takerFor(std::move(takerFor)) {
    // Runs on the thread that asks the join to stop, or here when it has asked already.
    m_forward.emplace(stop, [this] { m_stop.request_stop(); });
    if (m_depth == 0 || m_paths.size() < 2)
        return;
    // Before any worker starts: libxml2 sets its globals up on the first thread to use it, unguarded, and this
    // thread writes with libxml2 while the workers parse.
    setUpLibxml2();
    // Made here, on the owning thread: a worker that found no memory for a slot could only end the process.
    m_slots.resize(size_t(std::min<qsizetype>(m_depth, m_paths.size())));
    // The first input is the taker's: it counts as started and being prepared from the start, so that the workers
    // begin with the second one and leave a core to it.
    m_started = 1;
    m_preparing = 1;
    try {
        for (int i = 0; i < kParseThreads; ++i)
            m_workers.emplace_back([this, i] { work(i); });
    } catch (...) {
        cancel(); // a thread that did start must not wait for a stop that never comes
        throw;
    }
}

InputPrefetcher::~InputPrefetcher() {
    cancel();
}

void InputPrefetcher::cancel() {
    m_stop.request_stop(); // wakes the waits in work() and ends the parses in progress
    for (std::jthread& worker : m_workers)
        if (worker.joinable())
            worker.join();
    for (std::optional<PreparedInput>& slot : m_slots)
        slot.reset();
}

void InputPrefetcher::setAheadBytes(qsizetype bytes) {
    std::unique_lock lock(m_mutex);
    m_aheadBytes = bytes;
    const bool wake = workersShouldWake();
    lock.unlock();
    if (wake)
        m_workerWake.notify_all();
}

bool InputPrefetcher::mayStartNext() const {
    const qsizetype next = m_started;
    return next < m_paths.size() && m_preparing < kParseThreads && next < m_taken + m_depth &&
           (next == m_taken || m_readyBytes < m_aheadBytes);
}

// Waiting workers are woken in batches, once half the depth is free again and the texts waiting take at most half
// the budget, so that small inputs do not cost a switch between threads apiece; but at once when the next input is
// not in flight, as the join will wait for it.
bool InputPrefetcher::workersShouldWake() const {
    if (m_waitingWorkers == 0 || !mayStartNext())
        return false;
    const qsizetype batch = std::max<qsizetype>(1, m_depth / 2);
    return m_started == m_taken || (m_taken + m_depth - m_started >= batch && m_readyBytes <= m_aheadBytes / 2);
}

// The join goes on once its next input is ready and either half the depth is ready (in any order: a large input
// being parsed right after the next must not hold it back), or enough text to be worth a switch, or nothing more
// is being prepared.
bool InputPrefetcher::takerMayGo() const {
    if (m_started == m_taken || !slotOf(m_taken))
        return false;
    if (m_takeSoonest || m_preparing == 0 || m_readyBytes >= kWakeBytes)
        return true;
    const qsizetype batch = std::max<qsizetype>(1, m_depth / 2);
    qsizetype ready = 0;
    for (qsizetype index = m_taken; index < m_started; ++index)
        ready += slotOf(index).has_value() ? 1 : 0;
    return ready >= batch;
}

PreparedInput InputPrefetcher::takeNext(bool soonest) {
    const std::stop_token stop = m_stop.get_token();
    if (m_workers.empty() || m_taken >= m_paths.size()) {
        const qsizetype index = m_taken++;
        return prepare(m_paths.value(index), stop, index > 0 ? m_skippable : nullptr, m_takerFor, index);
    }
    std::unique_lock lock(m_mutex);
    if (m_taken == 0) {
        // The first input is read here while a worker reads the second, so that both cores work from the start.
        m_taken = 1; // its slot stays empty
        bool wake = workersShouldWake();
        lock.unlock();
        if (wake)
            m_workerWake.notify_all();
        PreparedInput first = prepare(m_paths.at(0), stop, nullptr, m_takerFor, 0);
        lock.lock();
        --m_preparing; // frees a core for the input after next
        wake = workersShouldWake();
        lock.unlock();
        if (wake)
            m_workerWake.notify_all();
        return first;
    }
    m_takeSoonest = soonest;
    if (m_started == m_taken || !slotOf(m_taken)) { // the next input may not even have been started
        // The taker's core is free while it waits: an input that may start starts now, not with the next batch.
        if (m_waitingWorkers > 0 && mayStartNext()) {
            lock.unlock();
            m_workerWake.notify_all();
            lock.lock();
        }
        while (!takerMayGo() && !stop.stop_requested()) {
            m_takerWaiting = true; // a worker clears it when it wakes the taker
            m_takerWake.wait(lock, stop, [&] { return !m_takerWaiting; });
        }
        m_takerWaiting = false;
        if (!takerMayGo()) {
            PreparedInput stopped;
            stopped.readFailure = std::make_exception_ptr(StopRequested{});
            return stopped;
        }
    }
    PreparedInput input = std::move(*slotOf(m_taken));
    slotOf(m_taken).reset();
    m_readyBytes -= input.textSize;
    ++m_taken;
    const bool wake = workersShouldWake();
    lock.unlock();
    if (wake)
        m_workerWake.notify_all();
    return input;
}

void InputPrefetcher::work(int worker) {
    const std::stop_token stop = m_stop.get_token();
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_waitingWorkers;
        // With nothing in progress, the worker that finished last starts the next input: the memory freed of the
        // documents it parsed is its allocator's to reuse at once, where the other worker's would take fresh memory.
        const bool go = m_workerWake.wait(lock, stop, [&] {
            return m_started == m_paths.size() || (mayStartNext() && (m_preparing > 0 || worker == m_lastWorker));
        });
        --m_waitingWorkers;
        if (!go || m_started == m_paths.size())
            return;
        const qsizetype index = m_started++;
        ++m_preparing;
        if (m_started == m_paths.size() || mayStartNext())
            m_workerWake.notify_all(); // the other worker has nothing left to wait for, or an input to start
        lock.unlock();
        PreparedInput input;
        std::unique_ptr<TextFileReader> reader = open(m_paths.at(index), stop, input);
        lock.lock();
        m_readyBytes += input.textSize; // counted from now on, so that no other large input starts meanwhile
        wakeTakerIfItMayGo(lock);       // the bytes alone may let it go on
        lock.unlock();
        // On this thread, never escaping it: what the factory throws is the input's failure, for the join to report.
        ElementTaker* taker = takerOf(m_takerFor, index, input);
        if (!input.parseFailure)
            parse(reader, m_paths.at(index), stop, m_skippable, taker, input);
        reader.reset();
        lock.lock();
        --m_preparing;
        m_lastWorker = worker;
        if (stop.stop_requested())
            return;
        slotOf(index) = std::move(input);
        wakeTakerIfItMayGo(lock);
    }
}

std::optional<PreparedInput>& InputPrefetcher::slotOf(qsizetype index) {
    return m_slots[size_t(index % qsizetype(m_slots.size()))];
}

const std::optional<PreparedInput>& InputPrefetcher::slotOf(qsizetype index) const {
    return m_slots[size_t(index % qsizetype(m_slots.size()))];
}

void InputPrefetcher::wakeTakerIfItMayGo(std::unique_lock<std::mutex>& lock) {
    if (!m_takerWaiting || !takerMayGo())
        return;
    m_takerWaiting = false; // one wake is enough
    // Woken under the lock, the taker would only block on it again. It cannot miss the wake: it looks at
    // m_takerWaiting under the lock before it sleeps.
    lock.unlock();
    m_takerWake.notify_one();
    lock.lock();
}

PreparedInput InputPrefetcher::prepare(const QString& path, const std::stop_token& stop,
                                       const SkippableNames* skippable, const TakerFor& takerFor, qsizetype index) {
    PreparedInput input;
    std::unique_ptr<TextFileReader> reader = open(path, stop, input);
    ElementTaker* taker = takerOf(takerFor, index, input);
    if (!input.parseFailure)
        parse(reader, path, stop, skippable, taker, input);
    return input;
}

ElementTaker* InputPrefetcher::takerOf(const TakerFor& takerFor, qsizetype index, PreparedInput& input) {
    try {
        return takerFor ? takerFor(index, input.textSize) : nullptr;
    } catch (...) {
        input.parseFailure = std::current_exception();
        return nullptr;
    }
}

std::unique_ptr<TextFileReader> InputPrefetcher::open(const QString& path, const std::stop_token& stop,
                                                      PreparedInput& input) {
    try {
        auto reader = std::make_unique<TextFileReader>(path, kStreamBlockSize, stop);
        input.textSize = reader->size();
        return reader;
    } catch (...) {
        input.readFailure = std::current_exception();
        return nullptr; // the text then counts as empty: the parser reports it, after the read failure
    }
}

void InputPrefetcher::parse(std::unique_ptr<TextFileReader>& reader, const QString& path, const std::stop_token& stop,
                            const SkippableNames* skippable, ElementTaker* taker, PreparedInput& input) {
    // A failure to read is told as the file's, wherever in the parse it comes.
    std::exception_ptr readFailure;
    const auto reading = [&](const auto& read) {
        try {
            return read();
        } catch (...) {
            readFailure = std::current_exception();
            throw;
        }
    };
    const auto nextPiece = [&] { return reading([&] { return reader ? reader->nextPiece() : QByteArrayView(); }); };
    bool opened = true; // the first pass reads from the reader already open
    const auto open = [&]() -> TextPieces {
        if (!std::exchange(opened, false) && reader)
            reader = reading([&] { return std::make_unique<TextFileReader>(path, kStreamBlockSize, stop); });
        return nextPiece;
    };
    try {
        input.parsed = parseXml(open, path, stop, skippable, taker);
        // How the text was read is known once all of it was: the rest of a text that failed early is read too.
        while (!stop.stop_requested() && !nextPiece().isEmpty()) {
        }
        if (reader)
            input.reading = reader->reading();
    } catch (...) {
        (readFailure ? input.readFailure : input.parseFailure) = std::current_exception();
    }
    // A text cut short by the stop was never read whole: what was made of it means nothing.
    if (stop.stop_requested())
        input.readFailure = std::make_exception_ptr(StopRequested{});
}

} // namespace corvanta
