#pragma once

#include "engine/files/folderscan.h"
#include "shell/busypointer.h"
#include "shell/shellopener.h"
#include "shell/startupdraw.h"
#include "windowkit/settingsstore.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <memory>

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

namespace corvanta {

class AddFilesDialog;
class BackgroundJoin;
class FileListView;
class JoinReport;
struct ListCheck;
class ResultsWindow;
class MainJoinHost;
class TabControl;

/// Command ids of the main window's toolbar and menus.
namespace command {
inline constexpr int AddFiles = 1000;
inline constexpr int AddFolder = 1001;
inline constexpr int StartJoining = 1002;
inline constexpr int ClearList = 1003;
inline constexpr int Help = 1004;
} // namespace command

/// What the main window reaches outside itself. Each part has the program's own default; tests replace them.
struct MainWindowOptions {
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

    /// True while a join or check started here runs; the windows then take no input and this one runs no command.
    bool isJoining() const;

public slots:
    /// Runs the command \a id of the toolbar or menus; unknown ids do nothing.
    void runCommand(int id);
    void addFiles();
    /// Appends the XML files of a chosen folder and of every folder below it, level by level, while the window
    /// stays usable.
    void addFolder();
    void clearList();
    void removeSelectedItems();
    /// Starts the join over the file list, in the mode of the option buttons, and returns at once: the join runs
    /// on a thread of its own. Does nothing while a join runs. Once it has ended, each item tells what it
    /// contributed; when the join stopped on an item, that item alone is selected and marked.
    void startJoining();
    /// Reads and parses every listed file as Merge would, on threads of their own as the join runs; once that has
    /// ended, marks each item and says how many would stop a Merge. Does nothing while a join or check runs.
    void checkFiles();
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
    QAction* addCommand(QMenu* menu, const char* objectName, const QString& text, int id);
    QAction* addItem(QMenu* menu, const char* objectName, const QString& text, void (MainWindow::*slot)());

    bool askYesNo(const QString& question);
    void applySkin();
    void restoreJoinMode();
    void restoreTab();
    void updateWrapControls();

    void layOutControls();
    void endProgram();
    void onAppendChosen();
    void onMergeChosen();
    void onWrapToggled(bool wrap);
    void onWrapRootEdited(const QString& name);
    void onTabChanged(int index);
    void onFileDragOver(QDragMoveEvent* event);
    void onFileDrop(QDropEvent* event);
    void appendDropped(const QStringList& paths);
    void walk(const std::function<void(const PendingEvents&)>& scan);
    void onJoinFinished();
    void onCheckFinished(const ListCheck& check);
    void markJoinedItems(const JoinReport& report);
    void showFilesTab();
    void showOptionsTab();
    void resetPointer();

    MainWindowOptions m_options;
    SettingsStore m_settings;
    BusyPointer m_busyPointer{*this};
    TabControl* m_tabControl = nullptr;     // TabControl1
    FileListView* m_fileList = nullptr;     // ListView1
    QGroupBox* m_optionsFrame = nullptr;    // Frame1
    QRadioButton* m_mergeButton = nullptr;  // Option2
    QRadioButton* m_appendButton = nullptr; // Option1
    QCheckBox* m_wrapCheckBox = nullptr;
    QLabel* m_wrapRootLabel = nullptr;
    QLineEdit* m_wrapRootEdit = nullptr;
    QProgressBar* m_progressBar = nullptr;      // ProgressBar1
    AddFilesDialog* m_addFilesDialog = nullptr; // CommonDialog1
    std::unique_ptr<MainJoinHost> m_joinHost;
    // A window of its own, without a Qt parent; it goes with this one.
    std::unique_ptr<ResultsWindow> m_resultsWindow;
    std::unique_ptr<JoinReport> m_joinReport; // what the running join does, written by its thread
    // After the host and the windows it calls, so that a running join stops before they go.
    std::unique_ptr<BackgroundJoin> m_join;
    bool m_closed = false; // folder walks stop once the window has closed
};

} // namespace corvanta
