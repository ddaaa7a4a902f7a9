#pragma once

#include "engine/files/folderscan.h"
#include "engine/text/textstore.h"
#include "shell/busypointer.h"
#include "shell/shellopener.h"
#include "shell/startupdraw.h"
#include "windowkit/settingsstore.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QAction;
class QCheckBox;
class QDragMoveEvent;
class QDropEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QRadioButton;
class QTimer;

namespace corvanta {

class AddFilesDialog;
class BackgroundJoin;
class BackgroundWalk;
class FileListView;
class JoinReport;
struct ListCheck;
class ResultsWindow;
class MainJoinHost;
class TabControl;

/// What the main window reaches outside itself. Each part has the program's own default; tests replace them.
struct MainWindowOptions {
    /// Files and folders to list at start, as Add Files and Add Folder add them; relative to the working folder.
    QStringList startPaths;
    /// The folder of the side files (badxml.jpg, Samples, Video, x/o.cjs), without a trailing separator.
    QString programFolder = QCoreApplication::applicationDirPath();
    /// Opens documents, folders and web pages.
    std::shared_ptr<ShellOpener> shell = std::make_shared<DesktopShellOpener>();
    /// The draw of the occasional start-up visit of the maker's main page.
    std::shared_ptr<StartupDraw> startupDraw = std::make_shared<RandomStartupDraw>();
};

/// The main window (`Form1`): the file list and the join options on two tabs, the toolbar "Standard" and the
/// menu bar that start every command, and the progress bar of the join. Restores the join mode and tab at start,
/// owns the results window that a finished join shows, and ends the program when closed.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    explicit MainWindow(MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// The results window (`Form2`), loaded on first use and kept, hidden or shown, until the program ends.
    ResultsWindow& resultsWindow();

    /// The file list, for commands that fill it.
    FileListView& fileList() const;
    /// The name of the root element that wraps appended files when Append is chosen and wrapping is on; empty
    /// otherwise.
    QString wrapRootName() const;
    /// True when Combine is the chosen join mode.
    bool combineSelected() const;
    /// True when Combine is chosen and leaves out repeated nodes.
    bool uniqueNodes() const;
    /// True when "Skip files that cannot be joined" is checked.
    bool skipBadFiles() const;

    /// What the window is busy with. While it is not idle, the commands and controls that would change the list or
    /// the options are disabled, and "Start Joining" is "Stop".
    enum class Activity { Idle, Joining, Checking, Scanning };
    bool isBusy() const;
    /// True while a join or check started here runs.
    bool isJoining() const;

    /// How long "Join stopped." stays in the progress bar's place.
    static constexpr int stoppedStatusMs = 4000;

public slots:
    void addFiles();
    /// Appends the XML files of a chosen folder and of every folder below it, level by level. The folders are
    /// walked on a thread of their own; the window is busy until the walk has ended or is stopped.
    void addFolder();
    void clearList();
    void removeSelectedItems();
    /// Starts the join over the file list, in the mode of the option buttons, and returns at once: the join runs
    /// on a thread of its own. Does nothing while a join runs. Once it has ended, each item tells what it
    /// contributed; when the join stopped on an item, that item alone is selected and marked.
    void startJoining();
    /// Replaces the list with the files of a saved list, asking first when the list is not empty; paths that no
    /// longer exist are left out and named in one box.
    void openList();
    /// Writes the list's paths to a file, one per line.
    void saveList();
    /// Reads and parses every listed file as Merge would, on threads of their own as the join runs; once that has
    /// ended, marks each item and says how many would stop a Merge. Does nothing while the window is busy.
    void checkFiles();
    /// Asks the running join, check or folder walk to stop. A join or check that has stopped leaves the list and
    /// the results window as they were before it started and says "Join stopped." in the progress bar's place; a
    /// walk keeps what it found. Does nothing while the window is idle.
    void stop();
    /// The usage hint; on Yes, opens the picture of a bad XML file.
    void showHelp();
    /// Appends the sample files to the list; on Yes, opens their folder.
    void loadSamples();
    void watchDemoVideo();
    void openFaq();
    void visitMainPage();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildWrapControls(QWidget* optionsPage);
    void buildMenus();
    void buildToolBar();
    QAction* addItem(QMenu* menu, const char* objectName, const QString& text, void (MainWindow::*slot)());
    QAction* addIdleItem(QMenu* menu, const char* objectName, const QString& text, void (MainWindow::*slot)());
    QAction* newIdleAction(const QString& text, const QString& icon, void (MainWindow::*slot)());

    bool askYesNo(const QString& question);
    void applySkin();
    void restoreJoinMode();
    void restoreTab();
    void updateWrapControls();

    void layOutControls();
    void endProgram();
    void onAppendChosen();
    void onMergeChosen();
    void onCombineChosen();
    void writeJoinMode();
    void buildCombineControls();
    void onWrapToggled(bool wrap);
    void onWrapRootEdited(const QString& name);
    void onTabChanged(int index);
    void onFileDragOver(QDragMoveEvent* event);
    void onFileDrop(QDropEvent* event);
    void startWalk(std::function<void(const std::stop_token&, const FoundFiles&)> walk, bool busyPointer);
    void onWalkFinished();
    void appendStartPaths(const QStringList& paths);
    void onJoinFinished();
    void onCheckFinished(const ListCheck& check);
    void onWorkStopped();
    void setActivity(Activity activity);
    /// Enables and disables every command and control for the activity at hand: the one place that does.
    void updateCommands();
    void showStoppedStatus();
    void hideStatus();
    void rememberResultsWindow();
    void restoreResultsWindow();
    void markJoinedItems(const JoinReport& report);
    void showFilesTab();
    void showOptionsTab();
    void resetPointer();

    MainWindowOptions m_options;
    SettingsStore m_settings;
    BusyPointer m_busyPointer{*this};
    TabControl* m_tabControl = nullptr;      // TabControl1
    FileListView* m_fileList = nullptr;      // ListView1
    QGroupBox* m_optionsFrame = nullptr;     // Frame1
    QRadioButton* m_mergeButton = nullptr;   // Option2
    QRadioButton* m_appendButton = nullptr;  // Option1
    QRadioButton* m_combineButton = nullptr; // Option3
    QCheckBox* m_uniqueCheckBox = nullptr;   // UniqueNodes
    QCheckBox* m_wrapCheckBox = nullptr;
    QCheckBox* m_skipBadFilesCheckBox = nullptr; // SkipBadFiles
    QLabel* m_wrapRootLabel = nullptr;
    QLineEdit* m_wrapRootEdit = nullptr;
    QProgressBar* m_progressBar = nullptr; // ProgressBar1
    QLabel* m_statusLine = nullptr;        // in the progress bar's place for a while after a stop
    QTimer* m_statusTimer = nullptr;
    QAction* m_startAction = nullptr;     // "Start Joining", "Stop" while busy
    QList<QAction*> m_idleActions;        // enabled only while the window is idle
    Activity m_activity = Activity::Idle; // what the window shows; the work's own state is in m_join and m_walk
    bool m_walkHoldsPointer = false;
    // The results window as a join found it, to put back when the join is stopped.
    struct ResultsBefore {
        std::shared_ptr<const TextStore> text;
        bool visible = false;
    };
    std::optional<ResultsBefore> m_resultsBefore;
    AddFilesDialog* m_addFilesDialog = nullptr; // CommonDialog1
    std::unique_ptr<MainJoinHost> m_joinHost;
    // A window of its own, without a Qt parent; it goes with this one.
    std::unique_ptr<ResultsWindow> m_resultsWindow;
    std::unique_ptr<JoinReport> m_joinReport; // what the running join does, written by its thread
    // After the host and the windows it calls, so that a running join stops before they go.
    std::unique_ptr<BackgroundJoin> m_join;
    std::unique_ptr<BackgroundWalk> m_walk;
    bool m_closed = false; // a join or walk stopped by the close leaves the window as it is
};

} // namespace corvanta
