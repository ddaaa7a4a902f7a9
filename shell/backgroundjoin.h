#pragma once

#include "engine/report/inputcheck.h"
#include "windowkit/callmailbox.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <optional>
#include <stop_token>
#include <thread>

namespace corvanta {

class MainJoinHost;

/// Runs the join, or a check of the list, on a thread of its own, so that the windows keep painting and answering
/// the desktop meanwhile.
/// Every call the join makes of the main window is carried to the window's thread and waited for: the window sees
/// the calls in the join's order, and a message box holds the join until it is answered. The window disables its
/// controls meanwhile; the boxes the join shows take their input as always.
class BackgroundJoin : public QObject {
    Q_OBJECT

public:
    /// Joins through \a host, whose calls run on the thread this object lives in.
    explicit BackgroundJoin(MainJoinHost& host);
    /// Stops a running join after its current step and waits for it to end.
    ~BackgroundJoin() override;

    /// Starts a join over the window's list and returns at once; does nothing while a join or check runs.
    /// Returns whether it started one; when its thread cannot start for want of memory, it says so in a box.
    bool start();
    /// Starts checking \a paths as Merge would read them and returns at once, with the busy pointer held and the
    /// progress bar moving as the inputs are done; does nothing while a join or check runs. Returns whether it
    /// started; when its thread cannot start for want of memory, it says so in a box.
    bool startCheck(const QStringList& paths, CheckFor checkFor = CheckFor::Merge);
    /// True from start() or startCheck() until the work has ended and the window takes input again.
    bool isRunning() const;
    /// Asks a running join or check to end, without another call to the window; stopped() follows once it has.
    void requestStop();

signals:
    /// The join has ended by itself; the window takes input again.
    void finished();
    /// The check has ended with \a check; the window takes input again.
    void checkFinished(const corvanta::ListCheck& check);
    /// The join or check asked to stop has ended, in place of finished() or checkFinished(). What it left behind on
    /// the disk is gone; the window's own state is the window's to restore.
    void stopped();

private:
    /// False when the thread could not start for want of memory.
    bool launch(std::function<void(const std::stop_token&)> work);
    void onThreadDone();

    MainJoinHost& m_host;
    bool m_checking = false;
    bool m_stopRequested = false;
    std::optional<ListCheck> m_check; // written by the check's thread, read once it has ended
    bool m_checkFailed = false;       // likewise
    CallMailbox m_mailbox;            // the run's calls to this thread, until the run has been joined
    std::jthread m_thread;            // last: it goes first, stopping and joining the run while the rest is still there
};

} // namespace corvanta
