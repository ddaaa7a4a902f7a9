#include "inputprefetcher.h"

#include "textfile.h"

#include <utility>

namespace corvanta {

InputPrefetcher::InputPrefetcher(QStringList paths, int depth, const SkippableNames* skippable)
    : m_paths(std::move(paths))
    , m_depth(depth)
    , m_skippable(skippable) {
    if (m_depth > 0 && m_paths.size() > 1)
        m_worker = std::jthread([this](const std::stop_token& stop) { work(stop); });
}

InputPrefetcher::~InputPrefetcher() {
    cancel();
}

void InputPrefetcher::cancel() {
    if (!m_worker.joinable())
        return;
    m_worker.request_stop(); // wakes the wait in work() and ends a parse in progress
    m_worker.join();
    m_ready.clear();
}

PreparedInput InputPrefetcher::takeNext() {
    if (!m_worker.joinable()) {
        const qsizetype index = m_taken++;
        return prepare(m_paths.value(index), {}, index > 0 ? m_skippable : nullptr);
    }
    std::unique_lock lock(m_mutex);
    if (m_taken == 0) {
        // The first input is read here while the worker reads the second, so that both cores work from the start.
        m_taken = 1;
        lock.unlock();
        m_changed.notify_all();
        return prepare(m_paths.at(0));
    }
    m_changed.wait(lock, [&] { return !m_ready.empty(); });
    PreparedInput input = std::move(m_ready.front());
    m_ready.pop_front();
    m_readyBytes -= input.textSize;
    ++m_taken;
    // The worker is woken once half the inputs ahead are gone, not for each one: small inputs would otherwise
    // cost a switch between the threads apiece.
    const bool wake = m_ready.size() <= std::size_t(m_depth / 2) || m_readyBytes < kAheadBytes / 2;
    lock.unlock();
    if (wake)
        m_changed.notify_all();
    return input;
}

void InputPrefetcher::work(const std::stop_token& stop) {
    for (qsizetype next = 1; next < m_paths.size(); ++next) {
        {
            // Input next may be prepared while the join holds input m_taken - 1: the one after it always, more up
            // to depth inputs ahead of it while their text stays within the budget.
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(lock, stop, [&] {
                    return next <= m_taken || (next < m_taken + m_depth && m_readyBytes < kAheadBytes);
                }))
                return;
        }
        PreparedInput input = prepare(m_paths.at(next), stop, m_skippable);
        if (stop.stop_requested())
            return;
        {
            const std::lock_guard lock(m_mutex);
            m_readyBytes += input.textSize;
            m_ready.push_back(std::move(input));
        }
        m_changed.notify_all();
    }
}

PreparedInput InputPrefetcher::prepare(const QString& path, const std::stop_token& stop,
                                       const SkippableNames* skippable) {
    PreparedInput input;
    QByteArray text; // stays empty when the input cannot be read: the parser then reports it
    try {
        text = readTextFileEncoded(path);
    } catch (...) {
        input.readFailure = std::current_exception();
    }
    input.textSize = text.size();
    try {
        input.parsed = parseXml(std::move(text), path, stop, skippable);
    } catch (...) {
        input.parseFailure = std::current_exception();
    }
    return input;
}

} // namespace corvanta
