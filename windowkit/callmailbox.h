#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

namespace corvanta {

/// Carries calls from other threads to the thread this object lives in, where they run one by one in the order
/// they were posted, each in an event of its own (so a call may open a modal box and the next still comes after).
/// Qt's queued calls do the same, but their functor crosses over inside Qt under a lock that ThreadSanitizer cannot
/// see: every capture then looks like a race, and a real race would hide among them. Here the call crosses under a
/// std::mutex, and a queued call by name, which Qt builds and frees itself, only says that one is waiting.
class CallMailbox : public QObject {
    Q_OBJECT

public:
    explicit CallMailbox(QObject* parent = nullptr);
    ~CallMailbox() override;

    /// Queues \a call; from any thread. The threads that post must have ended before this object goes: calls still
    /// queued then never run.
    void post(std::function<void()> call);

private:
    Q_INVOKABLE void runNextCall();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls; // guarded by m_mutex; one queued runNextCall() for each
};

} // namespace corvanta
