#include "shell/backgroundjoin.h"

#include "engine/join/joincommand.h"
#include "shell/mainjoinhost.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

namespace corvanta {

namespace {

/// The join's host on the join's thread: every call runs on the window's thread, through the window's own host,
/// while the join's thread waits for it. Once the join is asked to stop, calls that have not begun are dropped
/// (the window may be going) and a query answers as an empty list would.
class CarryingHost final : public JoinHost {
public:
    CarryingHost(MainJoinHost& target, CallMailbox& windowThread, std::stop_token stop)
        : m_target(target)
        , m_windowThread(windowThread)
        , m_stop(std::move(stop)) {}

    int itemCount() const override {
        int count = 0;
        carry([&] { count = m_target.itemCount(); });
        return count;
    }
    QString itemText(int index) const override {
        QString text;
        carry([&] { text = m_target.itemText(index); });
        return text;
    }
    bool appendSelected() const override {
        bool append = false;
        carry([&] { append = m_target.appendSelected(); });
        return append;
    }
    bool combineSelected() const override {
        bool combine = false;
        carry([&] { combine = m_target.combineSelected(); });
        return combine;
    }
    bool uniqueNodes() const override {
        bool unique = false;
        carry([&] { unique = m_target.uniqueNodes(); });
        return unique;
    }
    QString wrapRootName() const override {
        QString name;
        carry([&] { name = m_target.wrapRootName(); });
        return name;
    }
    bool skipBadInputs() const override {
        bool skip = false;
        carry([&] { skip = m_target.skipBadInputs(); });
        return skip;
    }
    void setBusyPointer(bool busy) override {
        carry([&] { m_target.setBusyPointer(busy); });
    }
    void setProgress(double percent) override {
        carry([&] { m_target.setProgress(percent); });
    }
    void showMessage(const QString& text, Icon icon) override {
        carry([&] { m_target.showMessage(text, icon); });
    }
    void showErrorReport(const QString& text) override {
        carry([&] { m_target.showErrorReport(text); });
    }
    void setResultsText(const JoinedText& text) override {
        // Opened here: reading a result of many megabytes through once for its index would hold up the window's
        // thread for a good while. The window then reads only what it shows.
        std::shared_ptr<const TextStore> store = text.store(m_stop);
        carry([&] { m_target.setResultsStore(std::move(store)); });
    }
    void showResults() override {
        carry([&] { m_target.showResults(); });
    }
    void hideMain() override {
        carry([&] { m_target.hideMain(); });
    }
    // Not carried: it is told of every node, and the window reads it only after the join has ended.
    JoinObserver& joinObserver() override { return m_target.joinObserver(); }

private:
    void carry(const std::function<void()>& call) const;

    MainJoinHost& m_target;
    CallMailbox& m_windowThread;
    std::stop_token m_stop;
};

void CarryingHost::carry(const std::function<void()>& call) const {
    if (m_stop.stop_requested())
        return;
    enum class State { Queued, Running, Done, Dropped };
    struct Handover {
        std::mutex mutex;
        std::condition_variable_any changed;
        State state = State::Queued;
        std::exception_ptr failure;
    };
    // Shared: a dropped call's event may still be delivered, or destroyed unseen, after this function returned.
    const auto handover = std::make_shared<Handover>();
    // Not a blocking queued connection: that wait could not be given up, and a window that waits for this thread
    // to stop while this thread waits for the window would never end.
    m_windowThread.post([handover, &call, stop = m_stop] {
        {
            const std::lock_guard lock(handover->mutex);
            // Its caller has gone, or is about to: a window that asked the join to stop hears no more of it.
            if (handover->state == State::Dropped || stop.stop_requested()) {
                handover->state = State::Dropped;
                return;
            }
            handover->state = State::Running;
        }
        std::exception_ptr failure;
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
        // Told under the lock: the join's thread frees the handover once it sees Done, and the lock orders that
        // after this call.
        const std::lock_guard lock(handover->mutex);
        handover->failure = failure;
        handover->state = State::Done;
        handover->changed.notify_all();
    });

    std::unique_lock lock(handover->mutex);
    if (!handover->changed.wait(lock, m_stop, [&] { return handover->state == State::Done; })) {
        if (handover->state != State::Running) {
            handover->state = State::Dropped;
            return;
        }
        // A call under way uses this thread's values: it must end first. It is the window's own, say a box, and
        // ends with the window's event loop.
        handover->changed.wait(lock, [&] { return handover->state == State::Done; });
    }
    if (handover->failure)
        std::rethrow_exception(handover->failure);
}

} // namespace

BackgroundJoin::BackgroundJoin(MainJoinHost& host)
    : m_host(host) {}

BackgroundJoin::~BackgroundJoin() = default;

bool BackgroundJoin::start() {
    if (isRunning())
        return false;
    m_checking = false;
    m_stopRequested = false;
    const bool launched = launch([this](const std::stop_token& stop) {
        CarryingHost host(m_host, m_mailbox, stop);
        joinFiles(host, stop);
    });
    if (!launched)
        m_host.showMessage(QStringLiteral("There was not enough memory to finish the join."), JoinHost::Icon::Warning);
    return launched;
}

bool BackgroundJoin::startCheck(const QStringList& paths, CheckFor checkFor) {
    if (isRunning())
        return false;
    m_checking = true;
    m_stopRequested = false;
    m_check.reset();
    m_checkFailed = false;
    m_host.setBusyPointer(true);
    const bool launched = launch([this, paths, checkFor](const std::stop_token& stop) {
        struct Stopped {};
        const double count = double(paths.size());
        try {
            ListCheck check = checkInputs(
                paths,
                [&](int index, const InputCheck&) {
                    if (stop.stop_requested())
                        throw Stopped{}; // the workers end after the input they hold
                    // Not waited for, unlike the join's calls: the check asks nothing of the window.
                    m_mailbox.post([this, percent = (index + 1) * 100.0 / count] { m_host.setProgress(percent); });
                },
                checkFor, stop);
            if (stop.stop_requested())
                return; // what was checked before the stop is no answer
            m_check = std::move(check);
        } catch (const Stopped&) {
            return;
        } catch (const std::bad_alloc&) {
            m_checkFailed = true; // read once the thread has ended
        } catch (const std::system_error&) {
            m_checkFailed = true; // the workers could not start: no memory for their stacks
        }
    });
    if (launched)
        return true;
    m_host.releaseBusyPointer();
    m_host.showMessage(QStringLiteral("There was not enough memory to finish the check."), JoinHost::Icon::Warning);
    return false;
}

bool BackgroundJoin::launch(std::function<void(const std::stop_token&)> work) {
    try {
        m_thread = std::jthread([this, work = std::move(work)](const std::stop_token& stop) {
            work(stop);
            m_mailbox.post([this] { onThreadDone(); });
        });
        return true;
    } catch (const std::system_error&) {
        return false; // no memory for the thread's stack
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool BackgroundJoin::isRunning() const {
    return m_thread.joinable();
}

void BackgroundJoin::requestStop() {
    if (!isRunning())
        return;
    m_stopRequested = true;
    m_thread.request_stop();
}

void BackgroundJoin::onThreadDone() {
    if (m_thread.joinable())
        m_thread.join();
    // A join that was stopped may still hold the pointer; a check holds it until here.
    m_host.releaseBusyPointer();
    if (std::exchange(m_stopRequested, false)) {
        m_check.reset();
        emit stopped();
        return;
    }
    if (!m_checking) {
        emit finished();
        return;
    }
    m_host.setProgress(0);
    if (std::optional<ListCheck> check = std::exchange(m_check, std::nullopt))
        emit checkFinished(*check);
    else if (m_checkFailed)
        m_host.showMessage(QStringLiteral("There was not enough memory to finish the check."), JoinHost::Icon::Warning);
}

} // namespace corvanta
