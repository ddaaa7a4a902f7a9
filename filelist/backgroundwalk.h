#pragma once

#include "engine/files/folderscan.h"
#include "windowkit/callmailbox.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <stop_token>
#include <thread>

namespace corvanta {

/// Walks folders on a thread of its own, so that the window paints and answers meanwhile and no command can run in
/// the middle of a walk. What the walk finds comes back as signals on the thread this object lives in.
class BackgroundWalk : public QObject {
    Q_OBJECT

public:
    /// A walk: hands what it finds to its second argument, batch by batch, and returns soon after the stop is asked.
    using Walk = std::function<void(const std::stop_token&, const FoundFiles&)>;

    explicit BackgroundWalk(QObject* parent = nullptr);
    /// Stops a running walk and waits for it: within one folder entry.
    ~BackgroundWalk() override;

    /// Starts \a walk and returns at once; does nothing while a walk runs. Returns whether it started.
    bool start(Walk walk);
    /// True from start() until finished() has been sent.
    bool isRunning() const;
    /// Asks a running walk to end; what it finds from now on is not sent.
    void requestStop();

signals:
    /// Paths the walk found, in its order.
    void found(const QStringList& paths);
    /// The walk has ended, to its end or stopped.
    void finished();

private:
    void onThreadDone();

    bool m_stopRequested = false; // read and written on this object's thread only
    CallMailbox m_mailbox;        // before the thread: it takes the walk's calls until the walk has been joined
    std::jthread m_thread;        // last: it goes first, stopping and joining the walk while the rest is still there
};

} // namespace corvanta
