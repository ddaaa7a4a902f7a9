#pragma once

#include "tests/support/testfiles.h"

// Drives the real main window in tests as a person would, on options that never reach the desktop.
#include "shell/mainwindow.h"
#include "tests/support/recordingshell.h"

#include <QCoreApplication>
#include <QList>
#include <QPoint>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

class QFileDialog;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace corvanta {
class FileListView;
class ResultsWindow;
class TabControl;
} // namespace corvanta

/// What a test's main window reaches outside itself. The shell is always a recorder, so nothing a window does
/// opens a browser or a file manager; the default draw of 1 never makes the start-up visit. A test that inspects
/// one of them passes its own (`{.shell = m_shell}`).
struct DesktopFreeOptions {
    std::shared_ptr<RecordingShell> shell = std::make_shared<RecordingShell>();
    std::shared_ptr<corvanta::StartupDraw> startupDraw = std::make_shared<FixedDraw>(1);
    QString programFolder = QCoreApplication::applicationDirPath();

    /// The window's options made of these parts.
    corvanta::MainWindowOptions mainWindowOptions() const;
};

/// The program's settings store as the program itself opens it, to read or write keys by their stored names.
QSettings programSettings();
/// Empties the program's settings store, so that a window starts as on a first run.
void clearProgramSettings();

/// Starts a test as on a first run: empties the settings store, makes \a folders anew and opens a fresh main window
/// in \a window.
void startOnFirstRun(TestFolders& folders, std::unique_ptr<corvanta::MainWindow>& window);

/// Replaces \a window (the old one goes first) with a fresh, shown main window on \a options and waits until it
/// is exposed.
void openMainWindow(std::unique_ptr<corvanta::MainWindow>& window, const DesktopFreeOptions& options = {});

/// Clicks the toolbar button \a name of \a window: a button's object name on the main window, an action's on the
/// results window. Fails when the button is missing, hidden or disabled.
void clickToolButton(QWidget* window, const char* name);
/// Clicks "Start Joining" on \a window, then handles events (boxes are answered meanwhile) until the join has ended.
void clickStartJoiningAndWait(corvanta::MainWindow* window);
/// Opens the menu \a menuName with a click on its title, then clicks its item \a itemName, as a person does.
/// Fails when either is missing or the item is disabled or belongs to another menu.
void chooseMenuItem(corvanta::MainWindow* window, const char* menuName, const char* itemName);
/// Clicks the tab at \a index of the main window and checks that it is then the current one.
void clickTab(corvanta::MainWindow* window, int index);

/// The main window's tab control (`TabControl1`).
corvanta::TabControl* tabControl(const corvanta::MainWindow* window);
/// The option button \a name (`Option1` Append, `Option2` Merge) of the main window.
QRadioButton* optionButton(const corvanta::MainWindow* window, const char* name);
/// The middle of row \a row of \a list, or a point near its top left when there is no such row.
QPoint rowPoint(const corvanta::FileListView& list, int row);
/// Every results window there is; each is a window of its own, not a child of the main window.
QList<corvanta::ResultsWindow*> resultsWindows();

/// The file name box of a Qt file dialog.
QLineEdit* fileNameEdit(QFileDialog* dialog);
/// Shows \a folder in \a dialog and types \a names into its file name box, quoted when there are several.
void typeFileNames(QFileDialog* dialog, const QString& folder, const QStringList& names);
