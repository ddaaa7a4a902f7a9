#pragma once

#include "joinhost.h"

class QMainWindow;
class QProgressBar;
class QRadioButton;

namespace corvanta {

class BusyPointer;
class FileListView;

/// The results window as a finished join sees it: it takes the joined text and shows itself. The results window
/// implements it; the main window hands over to it through MainJoinHost.
class ResultsWindowPort {
public:
    virtual ~ResultsWindowPort() = default;
    /// Replaces the results text whole.
    virtual void setResultsText(const QString& text) = 0;
    /// Shows the results window.
    virtual void showResults() = 0;
};

/// The main window as the join's host: the file list, the Append button, the busy pointer, the progress bar, the
/// message boxes and the hand-off into the results window.
class MainJoinHost final : public JoinHost {
public:
    MainJoinHost(QMainWindow& window, BusyPointer& busyPointer, FileListView& list, QRadioButton& appendButton,
                 QProgressBar& progressBar);

    /// Where finished joins go; without one (\a port null) a finished join leaves the main window as it is.
    void setResultsWindow(ResultsWindowPort* port);

    int itemCount() const override;
    QString itemText(int index) const override;
    bool appendSelected() const override;
    void setBusyPointer(bool busy) override;
    void setProgress(double percent) override;
    void showMessage(const QString& text, Icon icon) override;
    void showErrorReport(const QString& text) override;
    void setResultsText(const JoinedText& text) override;
    void showResults() override;
    void hideMain() override;

    /// Steps of the progress bar per percent: the bar counts in hundredths, so fractional progress shows.
    static constexpr int progressScale = 100;

private:
    QMainWindow& m_window;
    BusyPointer& m_busyPointer;
    FileListView& m_list;
    QRadioButton& m_appendButton;
    QProgressBar& m_progressBar;
    ResultsWindowPort* m_results = nullptr;
};

} // namespace corvanta
