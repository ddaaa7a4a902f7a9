#pragma once

#include "engine/join/joinhost.h"
#include "engine/report/joinreport.h"
#include "engine/text/textstore.h"

class QProgressBar;
class QRadioButton;

namespace corvanta {

class BusyPointer;
class FileListView;
class MainWindow;

/// The main window as the join's host: the file list, the Append button, the busy pointer, the progress bar, the
/// message boxes and the hand-off into the results window, which the main window loads on first use. Used on the
/// window's thread only.
class MainJoinHost final : public JoinHost {
public:
    MainJoinHost(MainWindow& window, BusyPointer& busyPointer, FileListView& list, QRadioButton& appendButton,
                 QProgressBar& progressBar);

    int itemCount() const override;
    QString itemText(int index) const override;
    bool appendSelected() const override;
    QString wrapRootName() const override;
    bool combineSelected() const override;
    bool uniqueNodes() const override;
    bool skipBadInputs() const override;
    void setBusyPointer(bool busy) override;
    void setProgress(double percent) override;
    void showMessage(const QString& text, Icon icon) override;
    void showErrorReport(const QString& text) override;
    void setResultsText(const JoinedText& text) override;
    /// Hand-off of a text read beforehand.
    void setResultsText(const QString& text);
    void setResultsStore(std::shared_ptr<const TextStore> text);
    void showResults() override;
    void hideMain() override;
    JoinObserver& joinObserver() override;

    /// The next join tells \a report what it does. The join's thread writes it; read it only once the join has
    /// ended.
    void startReport(JoinReport& report);
    /// Ends the report of the join that has ended; true when that join reached the results window.
    bool finishReport();

    /// Lets go of the busy pointer as often as the join took it and did not let go (a join that was stopped).
    void releaseBusyPointer();

    /// Steps of the progress bar per percent: the bar counts in hundredths, so fractional progress shows.
    static constexpr int progressScale = 100;

private:
    MainWindow& m_window;
    BusyPointer& m_busyPointer;
    FileListView& m_list;
    QRadioButton& m_appendButton;
    QProgressBar& m_progressBar;
    int m_busyHolds = 0;            // only the join's own: other work may hold the pointer as well
    JoinReport* m_report = nullptr; // only while a reported join runs
    bool m_resultsShown = false;
};

} // namespace corvanta
