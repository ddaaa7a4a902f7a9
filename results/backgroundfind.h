#pragma once

#include "engine/text/textstore.h"
#include "results/textsearch.h"
#include "windowkit/callmailbox.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <thread>

namespace corvanta {

/// Runs one find step over a stored text on a thread of its own, so that the window answers meanwhile. One step at
/// a time: starting another, or cancel(), stops the one running and waits for it (within one chunk of the search),
/// and a stopped step sends nothing.
class BackgroundFind : public QObject {
    Q_OBJECT

public:
    explicit BackgroundFind(QObject* parent = nullptr);
    /// Stops a running step and waits for it.
    ~BackgroundFind() override;

    /// Starts findStep() over \a text and returns at once.
    void start(std::shared_ptr<const TextStore> text, const QString& needle, qsizetype from, SearchDirection direction,
               Qt::CaseSensitivity cs);
    /// Stops the running step, if any; returns whether one was running.
    bool cancel();
    /// True from start() until found() or failed() has been sent, or the step was cancelled.
    bool isRunning() const { return m_running; }

signals:
    /// The step has ended where findStep() lands.
    void found(const corvanta::TextMatch& match);
    /// The step could not be done (memory ran out).
    void failed();

private:
    void onDone(quint64 run, std::optional<TextMatch> match);

    quint64 m_run = 0;      // the step whose end counts; read and written on this object's thread only
    bool m_running = false; // likewise
    // The text the step reads, held here until the step has been joined: the step only borrows it, so the store
    // never goes on the step's thread.
    std::shared_ptr<const TextStore> m_text;
    CallMailbox m_mailbox; // before the thread: it takes the step's end until the step has been joined
    std::jthread m_thread; // last: it goes first, stopping and joining the step while the rest is still there
};

} // namespace corvanta
