#include "filelist/backgroundwalk.h"

#include <utility>

namespace corvanta {

BackgroundWalk::BackgroundWalk(QObject* parent)
    : QObject(parent) {}

BackgroundWalk::~BackgroundWalk() = default;

bool BackgroundWalk::start(Walk walk) {
    if (isRunning())
        return false;
    m_stopRequested = false;
    // Every batch and the end are carried to this object's thread: they arrive in the walk's order, and not at all
    // once it has gone.
    m_thread = std::jthread([this, walk = std::move(walk)](const std::stop_token& stop) {
        walk(stop, [this](const QStringList& paths) {
            m_mailbox.post([this, paths] {
                if (!m_stopRequested)
                    emit found(paths);
            });
        });
        m_mailbox.post([this] { onThreadDone(); });
    });
    return true;
}

bool BackgroundWalk::isRunning() const {
    return m_thread.joinable();
}

void BackgroundWalk::requestStop() {
    if (!isRunning())
        return;
    m_stopRequested = true;
    m_thread.request_stop();
}

void BackgroundWalk::onThreadDone() {
    if (m_thread.joinable())
        m_thread.join();
    emit finished();
}

} // namespace corvanta
