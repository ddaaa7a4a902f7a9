#pragma once

#include "joinhost.h"
#include "joinreport.h"

class QProgressBar;
class QRadioButton;

namespace corvanta {

class BusyPointer;
class FileListView;
class MainWindow;

/// The main window as the join's host: the file list, the Append button, the busy pointer, the progress bar, the
/// message boxes and the hand-off into the results window, which the main window loads on first use.
class MainJoinHost final : public JoinHost {
public:
    MainJoinHost(MainWindow& window, BusyPointer& busyPointer, FileListView& list, QRadioButton& appendButton,
                 QProgressBar& progressBar);

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
    JoinObserver& joinObserver() override;

    /// Runs the join, telling \a report what it does; true when it reached the results window.
    bool joinFilesReporting(JoinReport& report);

    /// Steps of the progress bar per percent: the bar counts in hundredths, so fractional progress shows.
    static constexpr int progressScale = 100;

private:
    MainWindow& m_window;
    BusyPointer& m_busyPointer;
    FileListView& m_list;
    QRadioButton& m_appendButton;
    QProgressBar& m_progressBar;
    JoinReport* m_report = nullptr; // only while joinFilesReporting() runs
    bool m_resultsShown = false;
};

} // namespace corvanta
