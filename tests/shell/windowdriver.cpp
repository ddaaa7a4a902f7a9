#include "tests/shell/windowdriver.h"

#include "filelist/filelistview.h"
#include "results/resultswindow.h"
#include "shell/menunames.h"
#include "shell/tabcontrol.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace corvanta;

MainWindowOptions DesktopFreeOptions::mainWindowOptions() const {
    MainWindowOptions options;
    options.programFolder = programFolder;
    options.shell = shell;
    options.startupDraw = startupDraw;
    return options;
}

QSettings programSettings() {
    return QSettings(QStringLiteral("Tavrino"), QStringLiteral("Corvanta"));
}

void clearProgramSettings() {
    QSettings settings = programSettings();
    settings.clear();
    settings.sync();
}

void startOnFirstRun(TestFolders& folders, std::unique_ptr<MainWindow>& window) {
    clearProgramSettings();
    folders.renew();
    openMainWindow(window);
}

void openMainWindow(std::unique_ptr<MainWindow>& window, const DesktopFreeOptions& options) {
    window.reset();
    window = std::make_unique<MainWindow>(options.mainWindowOptions());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void clickToolButton(QWidget* window, const char* name) {
    auto* button = window->findChild<QToolButton*>(QLatin1String(name));
    if (!button) {
        auto* bar = window->findChild<QToolBar*>(QStringLiteral("Standard"));
        auto* action = window->findChild<QAction*>(QLatin1String(name));
        button = bar && action ? qobject_cast<QToolButton*>(bar->widgetForAction(action)) : nullptr;
    }
    QVERIFY2(button && button->isVisible() && button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

void clickStartJoiningAndWait(MainWindow* window) {
    clickToolButton(window, toolbar::startJoiningButton);
    QVERIFY2(QTest::qWaitFor([window] { return !window->isJoining(); }, 60000), "the join did not end");
}

void chooseMenuItem(MainWindow* window, const char* menuName, const char* itemName) {
    QMenuBar* bar = window->menuBar();
    auto* menu = window->findChild<QMenu*>(QLatin1String(menuName));
    auto* item = window->findChild<QAction*>(QLatin1String(itemName));
    QVERIFY2(menu && item && item->isEnabled() && menu->actions().contains(item), itemName);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    QTRY_VERIFY(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    QTRY_VERIFY(!menu->isVisible());
}

void clickTab(MainWindow* window, int index) {
    TabControl* tabs = tabControl(window);
    QVERIFY(tabs);
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(tabs->currentIndex(), index);
}

TabControl* tabControl(const MainWindow* window) {
    return window->findChild<TabControl*>(QStringLiteral("TabControl1"));
}

QRadioButton* optionButton(const MainWindow* window, const char* name) {
    return window->findChild<QRadioButton*>(QLatin1String(name));
}

QPoint rowPoint(const FileListView& list, int row) {
    QTreeWidgetItem* item = list.topLevelItem(row);
    return item ? list.visualItemRect(item).center() : QPoint(10, 10);
}

QList<ResultsWindow*> resultsWindows() {
    QList<ResultsWindow*> found;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        if (auto* results = qobject_cast<ResultsWindow*>(window))
            found << results;
    return found;
}

QLineEdit* fileNameEdit(QFileDialog* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

void typeFileNames(QFileDialog* dialog, const QString& folder, const QStringList& names) {
    dialog->setDirectory(folder);
    QStringList quoted;
    for (const QString& name : names)
        quoted << (names.size() > 1 ? QLatin1Char('"') + name + QLatin1Char('"') : name);
    fileNameEdit(dialog)->setText(quoted.join(QLatin1Char(' ')));
}
