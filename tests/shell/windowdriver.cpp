#include "windowdriver.h"

#include "filelistview.h"
#include "form2.h"
#include "tabcontrol.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace corvanta;

Form1Options DesktopFreeOptions::form1Options() const {
    Form1Options options;
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

void startOnFirstRun(std::unique_ptr<QTemporaryDir>& files, std::unique_ptr<Form1>& window) {
    clearProgramSettings();
    files = std::make_unique<QTemporaryDir>();
    QVERIFY(files->isValid());
    openMainWindow(window);
}

void openMainWindow(std::unique_ptr<Form1>& window, const DesktopFreeOptions& options) {
    window.reset();
    window = std::make_unique<Form1>(options.form1Options());
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

void chooseMenuItem(Form1* window, const char* menuName, const char* itemName) {
    QMenuBar* bar = window->menuBar();
    auto* menu = window->findChild<QMenu*>(QLatin1String(menuName));
    auto* item = window->findChild<QAction*>(QLatin1String(itemName));
    QVERIFY2(menu && item && item->isEnabled() && menu->actions().contains(item), itemName);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    QTRY_VERIFY(menu->isVisible());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    QTRY_VERIFY(!menu->isVisible());
}

void clickTab(Form1* window, int index) {
    TabControl* tabs = tabControl(window);
    QVERIFY(tabs);
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    QCOMPARE(tabs->currentIndex(), index);
}

TabControl* tabControl(const Form1* window) {
    return window->findChild<TabControl*>(QStringLiteral("TabControl1"));
}

QRadioButton* optionButton(const Form1* window, const char* name) {
    return window->findChild<QRadioButton*>(QLatin1String(name));
}

QPoint rowPoint(const FileListView& list, int row) {
    QTreeWidgetItem* item = list.topLevelItem(row);
    return item ? list.visualItemRect(item).center() : QPoint(10, 10);
}

QList<Form2*> resultsWindows() {
    QList<Form2*> found;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows)
        if (auto* form = qobject_cast<Form2*>(window))
            found << form;
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
