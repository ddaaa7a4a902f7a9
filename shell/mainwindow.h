#pragma once

#include "busypointer.h"
#include "folderscan.h"
#include "settingsstore.h"
#include "shellopener.h"
#include "startupdraw.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <memory>

class QAction;
class QDragMoveEvent;
class QDropEvent;
class QGroupBox;
class QMenu;
class QProgressBar;
class QRadioButton;
class QToolBar;

namespace corvanta {

class AddFilesDialog;
class FileListView;
class Form2;
class MainJoinHost;
class TabControl;

/// Command ids of the main window's toolbar and menus.
namespace command {
inline constexpr int AddFiles = 1000;
inline constexpr int AddFolder = 1001;
inline constexpr int Start = 1002;
inline constexpr int ClearList = 1003;
inline constexpr int Help = 1004;
} // namespace command

/// What the main window reaches outside itself. Each part has the program's own default; tests replace them.
struct Form1Options {
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
class Form1 : public QMainWindow {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    explicit Form1(Form1Options options, QWidget* parent = nullptr);
    ~Form1() override;

    /// The results window (`Form2`), loaded on first use and kept, hidden or shown, until the program ends.
    Form2& resultsWindow();

    /// The file list, for commands that fill it.
    FileListView& fileList() const;

public slots:
    /// Runs the command \a id of the toolbar or menus; unknown ids do nothing.
    void CommandBars_Execute(int id);
    void AddFiles();
    /// Appends the XML files of a chosen folder and of every folder below it, level by level, while the window
    /// stays usable.
    void AddFolder();
    void ClearList();
    void ClearSelected();
    /// The join over the file list, in the mode of the option buttons.
    void Start();
    /// The usage hint; on Yes, opens the picture of a bad XML file.
    void Help();
    /// Appends the sample files to the list; on Yes, opens their folder.
    void LoadSamples();
    void WatchDemoVideo();
    void OpenFaq();
    void VisitMainPage();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void CreateStaticBar();
    QAction* addCommand(QMenu* menu, const char* objectName, const QString& text, int id);
    QAction* addItem(QMenu* menu, const char* objectName, const QString& text, void (Form1::*slot)());

    bool askYesNo(const QString& question);
    void ApplySkin();
    void RandomMainPageVisit();
    void restoreJoinMode();
    void restoreTab();

    void Form_Resize();
    void Form_Unload();
    void Option1_Click();
    void Option2_Click();
    void TabControl1_SelectedChanged(int index);
    void ListView1_OLEDragOver(QDragMoveEvent* event);
    void ListView1_OLEDragDrop(QDropEvent* event);
    void appendDropped(const QStringList& paths);
    void walk(const std::function<void(const PendingEvents&)>& scan);
    void showFilesTab();
    void showOptionsTab();
    void resetPointer();

    Form1Options m_options;
    SettingsStore m_settings;
    BusyPointer m_busyPointer{*this};
    TabControl* m_tabControl = nullptr;         // TabControl1
    FileListView* m_fileList = nullptr;         // ListView1
    QGroupBox* m_optionsFrame = nullptr;        // Frame1
    QRadioButton* m_mergeButton = nullptr;      // Option2
    QRadioButton* m_appendButton = nullptr;     // Option1
    QProgressBar* m_progressBar = nullptr;      // ProgressBar1
    AddFilesDialog* m_addFilesDialog = nullptr; // CommonDialog1
    QToolBar* m_standardBar = nullptr;
    std::unique_ptr<MainJoinHost> m_joinHost;
    // A window of its own, without a Qt parent; it goes with this one.
    std::unique_ptr<Form2> m_resultsWindow;
    bool m_centredWithFrame = false;
    bool m_closed = false; // folder walks stop once the window has closed
};

} // namespace corvanta
