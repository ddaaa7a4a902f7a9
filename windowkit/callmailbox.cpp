#include "windowkit/callmailbox.h"

#include <utility>

namespace corvanta {

CallMailbox::CallMailbox(QObject* parent)
    : QObject(parent) {}

CallMailbox::~CallMailbox() = default;

void CallMailbox::post(std::function<void()> call) {
    {
        const std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    // By name: the functor or event of any other form would be made here, on the posting thread, and read on this
    // object's thread through a hand-off the sanitizer cannot see.
    [[maybe_unused]] const bool queued = QMetaObject::invokeMethod(this, "runNextCall", Qt::QueuedConnection);
    Q_ASSERT(queued);
}

void CallMailbox::runNextCall() {
    std::function<void()> call;
    {
        const std::lock_guard lock(m_mutex);
        if (m_calls.empty())
            return;
        call = std::move(m_calls.front());
        m_calls.pop_front();
    }
    call();
}

} // namespace corvanta
