#include "results/backgroundfind.h"

#include "engine/text/failure.h"

#include <utility>

namespace corvanta {

BackgroundFind::BackgroundFind(QObject* parent)
    : QObject(parent) {}

BackgroundFind::~BackgroundFind() = default;

void BackgroundFind::start(std::shared_ptr<const TextStore> text, const QString& needle, qsizetype from,
                           SearchDirection direction, Qt::CaseSensitivity cs) {
    cancel();
    m_running = true;
    const quint64 run = ++m_run;
    m_text = std::move(text);
    // The step reads the store past its cache, so it shares nothing the window changes; its end is carried to
    // this object's thread, where a step that has been overtaken meanwhile is told apart by its number.
    m_thread = std::jthread([this, run, text = m_text.get(), needle, from, direction, cs](const std::stop_token& stop) {
        std::optional<TextMatch> match;
        try {
            match = findStep(*text, needle, from, direction, cs, stop);
        } catch (const StopRequested&) {
            return;     // whoever stopped it wants nothing back
        } catch (...) { // NOLINT(bugprone-empty-catch): an empty match says it failed
        }
        m_mailbox.post([this, run, match] { onDone(run, match); });
    });
}

bool BackgroundFind::cancel() {
    ++m_run; // whatever the step has posted already is overtaken
    const bool running = std::exchange(m_running, false);
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
    m_text.reset();
    return running;
}

void BackgroundFind::onDone(quint64 run, std::optional<TextMatch> match) {
    if (run != m_run)
        return;
    if (m_thread.joinable())
        m_thread.join(); // it has nothing left to do but end
    m_text.reset();
    m_running = false;
    if (match)
        emit found(*match);
    else
        emit failed();
}

} // namespace corvanta
