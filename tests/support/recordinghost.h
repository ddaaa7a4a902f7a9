#pragma once

#include "engine/join/joinhost.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

/// A join host over a plain list of paths that records, in order, everything the join shows or does.
class RecordingHost final : public corvanta::JoinHost {
public:
    explicit RecordingHost(QStringList paths = {}, bool appendMode = false)
        : items(std::move(paths))
        , append(appendMode) {}

    int itemCount() const override { return int(items.size()); }
    QString itemText(int index) const override { return items.at(index - 1); }
    bool appendSelected() const override { return append; }
    bool combineSelected() const override { return combine; }
    bool skipBadInputs() const override { return keepGoing; }
    QString wrapRootName() const override { return wrapRoot; }
    void setBusyPointer(bool busy) override;
    void setProgress(double percent) override;
    void showMessage(const QString& text, Icon icon) override;
    void showErrorReport(const QString& text) override;
    void setResultsText(const corvanta::JoinedText& text) override;
    void showResults() override;
    void hideMain() override;
    corvanta::JoinObserver& joinObserver() override { return observer ? *observer : JoinHost::joinObserver(); }

    /// Messages and reports in the order shown; reports start with "report:", warnings with "warning:".
    QStringList messages() const;
    /// Only the error reports' texts.
    QStringList reports() const;
    /// True when the run reached the results window.
    bool handedOff() const { return resultsShown; }
    /// Records \a event, then tells onEvent, on the thread that called.
    void note(const QString& event);

    QStringList items;
    bool append;
    /// Told what the join does, when set.
    corvanta::JoinObserver* observer = nullptr;
    QString wrapRoot;
    bool keepGoing = false;
    bool combine = false;

    /// Told of each event as it is recorded: a test may stop the join there.
    std::function<void(const QString& event)> onEvent;

    QStringList events; // "busy", "idle", "progress 25", "message ...", "results", "hide", ...
    std::vector<double> progress;
    QString resultsText;
    bool resultsShown = false;
    bool mainHidden = false;
};
