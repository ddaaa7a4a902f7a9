#include "engine/join/errorreport.h"
#include "engine/join/joincommand.h"
#include "filelist/filelistview.h"
#include "results/resultswindow.h"
#include "shell/mainjoinhost.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "shell/tabcontrol.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/modalhelper.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"
#include "windowkit/windowkit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>

using namespace corvanta;

namespace {

// The results window once a join has loaded it.
ResultsWindow* loadedResultsWindow() {
    return resultsWindows().value(0);
}

QString stored(const char* key) {
    return programSettings().value(QLatin1String(key)).toString();
}

void store(const char* key, const QString& value) {
    QSettings raw = programSettings();
    raw.setValue(QLatin1String(key), value);
    raw.sync();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() { startOnFirstRun(m_folders, m_window); }

    void cleanup() { m_window.reset(); }

    // --- start-up and look ---

    void firstRunStartsInMergeOnTheFilesTabCentred() {
        QCOMPARE(m_window->objectName(), QStringLiteral("Form1"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Corvanta"));
        QVERIFY(mergeButton()->isChecked());
        QVERIFY(!appendButton()->isChecked());
        QCOMPARE(tabs()->currentIndex(), 0);
        QCOMPARE(tabs()->tabText(0), QStringLiteral("Files"));
        QCOMPARE(tabs()->tabText(1), QStringLiteral("Options"));
        QCOMPARE(list()->headerItem()->text(0), QStringLiteral("XML Files"));
        QCOMPARE(list()->columnCount(), 1);
        QCOMPARE(m_window->size(), QSize(twipsToPixels(8160), twipsToPixels(8040)));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(qAbs(m_window->frameGeometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(m_window->frameGeometry().center().y() - screen.center().y()) <= 1);
        // Nothing is written at start-up.
        QVERIFY(programSettings().allKeys().isEmpty());
    }

    void storedGeometryIsNeverReadBack() {
        store("Left", "0");
        store("Top", "0");
        store("Width", "3000");
        store("Height", "3000");
        reopenWindow();
        QCOMPARE(m_window->size(), QSize(twipsToPixels(8160), twipsToPixels(8040)));
        QVERIFY(m_window->pos() != QPoint(0, 0));
    }

    void toolbarStandardHasFourButtonsInOrder() {
        auto* bar = m_window->findChild<QToolBar*>(QStringLiteral("Standard"));
        QVERIFY(bar);
        QCOMPARE(bar->windowTitle(), QStringLiteral("Standard"));
        QCOMPARE(m_window->toolBarArea(bar), Qt::TopToolBarArea);
        QCOMPARE(bar->width(), m_window->width());
        QCOMPARE(bar->iconSize(), QSize(48, 48));
        QCOMPARE(bar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QStringList captions;
        QStringList names;
        for (QAction* action : bar->actions()) {
            captions << action->text();
            names << action->objectName();
            auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
            QVERIFY(button);
            QCOMPARE(button->width(), 100);
            QCOMPARE(button->font().family(), QStringLiteral("Calibri"));
            QCOMPARE(button->font().pointSizeF(), 11.0);
        }
        QCOMPARE(captions, (QStringList{"Add Files", "Add Folder", "Clear List", "Start Joining"}));
        QCOMPARE(names, (QStringList{"addFilesAction", "addFolderAction", "clearListAction", menu::startJoining}));
        // The File menu's item is the button's own action: the two change together.
        QVERIFY(m_window->findChild<QMenu*>(menu::file)->actions().contains(bar->actions().last()));
        QVERIFY(bar->x() < tabs()->mapTo(m_window.get(), QPoint()).x() + 1);
        QVERIFY(bar->geometry().bottom() < tabs()->mapTo(m_window.get(), QPoint()).y());
    }

    void menusListTheirItemsWithAccessKeysAndSeparators_data() {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("File")
            << menu::file << "&File"
            << QStringList{"A&dd Files", "Add &Folder", "-",           "Clear Selected Files", "Clear All Files",
                           "-",          "&Open List…", "&Save List…", "&Check Files",         "Start Joining",
                           "-",          "&Exit"};
        QTest::newRow("Options") << menu::options << "&Options" << QStringList{"Show Files Tab", "Show Options Tab"};
        QTest::newRow("Help") << menu::help << "&Help"
                              << QStringList{"Help", "Load Sample/Example Files", "Watch Old Demo Video", "-",
                                             "FAQ",  "Visit Tavrino Main Page"};
    }

    void menusListTheirItemsWithAccessKeysAndSeparators() {
        QFETCH(QString, menu);
        QFETCH(QString, title);
        QFETCH(QStringList, items);
        auto* popup = m_window->findChild<QMenu*>(menu);
        QVERIFY(popup);
        QCOMPARE(popup->title(), title);
        QStringList texts;
        for (QAction* action : popup->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            QVERIFY(action->shortcut().isEmpty());
        }
        QCOMPARE(texts, items);
        QCOMPARE(popup->font().family(), QStringLiteral("Calibri"));
        const QList<QAction*> barMenus = m_window->menuBar()->actions();
        QCOMPARE(barMenus.size(), 3);
        QCOMPARE(barMenus.at(0)->text(), QStringLiteral("&File"));
        QCOMPARE(barMenus.at(1)->text(), QStringLiteral("&Options"));
        QCOMPARE(barMenus.at(2)->text(), QStringLiteral("&Help"));
    }

    void optionsTabHoldsTheFrameWithMergeAboveAppend() {
        clickTab(m_window.get(), 1);
        QVERIFY(frame()->isVisible());
        QCOMPARE(frame()->title(), QStringLiteral("Options"));
        QCOMPARE(mergeButton()->text(), QStringLiteral("Merge files so that nodes are shared"));
        QCOMPARE(appendButton()->text(), QStringLiteral("Append files one after another"));
        QVERIFY(mergeButton()->geometry().bottom() < appendButton()->geometry().top());
        QVERIFY(mergeButton()->y() > frame()->fontMetrics().height()); // clear of the caption
        QCOMPARE(combineButton()->text(), QStringLiteral("Combine files under one root element"));
        QCOMPARE(uniqueCheckBox()->text(), QStringLiteral("Leave out repeated nodes"));
        // One row each, in this order, none overlapping, all inside the frame.
        QVERIFY(appendButton()->geometry().bottom() < combineButton()->geometry().top());
        QVERIFY(combineButton()->geometry().bottom() < uniqueCheckBox()->geometry().top());
        QVERIFY(uniqueCheckBox()->x() > combineButton()->x());
        QVERIFY(uniqueCheckBox()->geometry().bottom() < frame()->height());
        const QPoint frameCorner = frame()->mapTo(tabs(), QPoint());
        QVERIFY(!list()->isVisible());
        clickTab(m_window.get(), 0);
        QCOMPARE(list()->mapTo(tabs(), QPoint()), frameCorner); // each tab's content stands in the same place
        QCOMPARE(list()->toolTip(), QStringLiteral("Drag and drop files here. Drag files up and down to change "
                                                   "order. Double-click item to remove it."));
    }

    // --- layout on resize ---

    void layoutFollowsTheWindowSize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("design size") << QSize(twipsToPixels(8160), twipsToPixels(8040));
        QTest::newRow("larger") << QSize(900, 700);
        QTest::newRow("smaller") << QSize(420, 330);
    }

    void layoutFollowsTheWindowSize() {
        QFETCH(QSize, size);
        m_window->resize(size);
        QTRY_COMPARE(m_window->size(), size);

        // The tab control and the progress bar below it span the window with even margins, under the bars.
        const QRect tabPlace = placeInWindow(tabs()), barPlace = placeInWindow(progressBar());
        QVERIFY(tabPlace.top() >= m_window->centralWidget()->y());
        QCOMPARE(tabPlace.left(), m_window->width() - 1 - tabPlace.right());
        QVERIFY(tabPlace.width() > m_window->width() * 9 / 10);
        QCOMPARE(barPlace.left(), tabPlace.left());
        QCOMPARE(barPlace.width(), tabPlace.width());
        QVERIFY(barPlace.top() > tabPlace.bottom());
        QVERIFY(m_window->rect().contains(barPlace));
        // The list fills most of its page, and its one column fits in it.
        const QRect listPlace = placeInWindow(list());
        QVERIFY(tabPlace.contains(listPlace));
        QVERIFY(listPlace.width() > tabPlace.width() * 4 / 5);
        QVERIFY(listPlace.height() > tabPlace.height() / 2);
        QVERIFY(list()->columnWidth(0) < list()->viewport()->width());
        QVERIFY(list()->columnWidth(0) > list()->viewport()->width() * 4 / 5);
        // The options frame, on its tab, holds every mode whatever the size, as wide as the list's page allows.
        clickTab(m_window.get(), 1);
        const QRect framePlace = placeInWindow(frame());
        QVERIFY(tabPlace.contains(framePlace));
        QVERIFY(framePlace.contains(placeInWindow(uniqueCheckBox())));
        QVERIFY(framePlace.width() > tabPlace.width() * 4 / 5);
    }

    void aWindowTooLowForTheTabsStillFollowsItsWidth() {
        const QSize tabBefore = tabs()->size();
        const int listMargins = tabs()->width() - list()->width();
        const QSize size(360, 130);
        m_window->resize(size);
        QTRY_COMPARE(m_window->size(), size);

        // Too low to shrink the tabs: they keep their height, and everything still follows the width.
        QCOMPARE(tabs()->height(), tabBefore.height());
        QVERIFY(tabs()->width() < tabBefore.width());
        QCOMPARE(placeInWindow(tabs()).left(), m_window->width() - 1 - placeInWindow(tabs()).right());
        QCOMPARE(tabs()->width() - list()->width(), listMargins);
        QCOMPARE(progressBar()->width(), tabs()->width());
    }

    void nothingIsLaidOutWhileMinimized() {
        m_window->resize(800, 650);
        QTRY_COMPARE(m_window->size(), QSize(800, 650));
        const QSize laidOut = tabs()->size();
        m_window->resize(600, 500);
        QTRY_COMPARE(m_window->size(), QSize(600, 500));
        const QSize before = tabs()->size();

        m_window->showMinimized();
        QTRY_VERIFY(m_window->isMinimized());
        m_window->resize(800, 650);
        QCOMPARE(tabs()->size(), before);
        m_window->showNormal();
        QTRY_VERIFY(!m_window->isMinimized());
        QTRY_COMPARE(tabs()->size(), laidOut);
    }

    // --- commands ---

    void clearListFromToolbarAndMenu_data() {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("toolbar Clear List") << false;
        QTest::newRow("File menu Clear All Files") << true;
    }

    void clearListFromToolbarAndMenu() {
        QFETCH(bool, fromMenu);
        list()->appendItem("/a.xml");
        list()->appendItem("/b.xml");
        if (fromMenu)
            chooseMenuItem(m_window.get(), menu::file, menu::clearAll);
        else
            clickToolButton(m_window.get(), toolbar::clearListButton);
        QCOMPARE(list()->itemCount(), 0);
    }

    void clearSelectedFilesFromTheMenu_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("none selected") << QList<int>{} << QStringList{"/a.xml", "/b.xml", "/c.xml"};
        QTest::newRow("all selected") << QList<int>{0, 1, 2} << QStringList{};
        QTest::newRow("some selected") << QList<int>{0, 2} << QStringList{"/b.xml"};
    }

    void clearSelectedFilesFromTheMenu() {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, expected);
        for (const char* path : {"/a.xml", "/b.xml", "/c.xml"})
            list()->appendItem(QString::fromLatin1(path));
        for (int row : selected)
            QTest::mouseClick(list()->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(row));
        chooseMenuItem(m_window.get(), menu::file, menu::clearSelected);
        QCOMPARE(list()->itemTexts(), expected);
    }

    void dragReordersTheWindowsList() {
        for (const char* path : {"/A", "/B", "/C", "/D"})
            list()->appendItem(QString::fromLatin1(path));
        QTest::mousePress(list()->viewport(), Qt::LeftButton, {}, rowPoint(0));
        for (int row : {1, 2, 3})
            QTest::mouseMove(list()->viewport(), rowPoint(row));
        QTest::mouseRelease(list()->viewport(), Qt::LeftButton, {}, rowPoint(3));
        QCOMPARE(list()->itemTexts(), (QStringList{"/B", "/C", "/D", "/A"}));
    }

    // Scripts and screen readers find the commands by these names; with the window idle, each is there and enabled.
    void everyCommandIsFoundByItsNameAndEnabledWhenIdle_data() {
        QTest::addColumn<QString>("menuName");
        QTest::addColumn<QStringList>("itemNames");
        QTest::newRow("File") << QString(menu::file)
                              << QStringList{menu::addFiles,   menu::addFolder,    menu::clearSelected,
                                             menu::clearAll,   menu::openList,     menu::saveList,
                                             menu::checkFiles, menu::startJoining, menu::exit};
        QTest::newRow("Options") << QString(menu::options) << QStringList{menu::showFilesTab, menu::showOptionsTab};
        QTest::newRow("Help") << QString(menu::help)
                              << QStringList{menu::helpHint, menu::loadSamples, menu::demoVideo, menu::faq,
                                             menu::mainPage};
    }

    void everyCommandIsFoundByItsNameAndEnabledWhenIdle() {
        QFETCH(QString, menuName);
        QFETCH(QStringList, itemNames);
        QStringList found;
        for (QAction* action : m_window->findChild<QMenu*>(menuName)->actions())
            if (!action->isSeparator() && action->isEnabled())
                found << action->objectName();
        QCOMPARE(found, itemNames);
    }

    // --- Add Files ---

    void addFilesAppendsTheChosenFilesInTheDialogsOrder() {
        writeFiles({"a.xml", "b.xml", "c.xml"});
        list()->appendItem("/already/there.xml");
        QString title, activeFilter;
        QStringList filters, dialogOrder;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        bool qtDialog = false;
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            mode = dialog->fileMode();
            activeFilter = dialog->selectedNameFilter();
            qtDialog = dialog->testOption(QFileDialog::DontUseNativeDialog);
            typeFileNames(dialog, {"c.xml", "a.xml", "b.xml"});
            dialogOrder = dialog->selectedFiles();
            QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
        });
        clickToolButton(m_window.get(), toolbar::addFilesButton);
        QVERIFY(answerer.allAnswered());

        QCOMPARE(title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
        QCOMPARE(filters, (QStringList{"XML Files (*.xml)", "All Files (*.*)"}));
        QCOMPARE(activeFilter, QStringLiteral("XML Files (*.xml)"));
        QCOMPARE(mode, QFileDialog::ExistingFiles);
        QVERIFY(qtDialog);
        QCOMPARE(dialogOrder, (QStringList{path("c.xml"), path("a.xml"), path("b.xml")}));
        QCOMPARE(list()->itemTexts(), QStringList{"/already/there.xml"} + dialogOrder);
    }

    void addFilesTwiceAddsTheSameFileTwice() {
        writeFiles({"a.xml"});
        QStringList preselected;
        for (int run = 0; run < 2; ++run) {
            ModalAnswerer answerer;
            answerer.handleFileDialog([&](QFileDialog* dialog) {
                const auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
                preselected << fileNameEdit(dialog)->text() +
                                   (view->selectionModel()->hasSelection() ? QStringLiteral("(selection)") : QString());
                typeFileNames(dialog, {"a.xml"});
                QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
            });
            chooseMenuItem(m_window.get(), menu::file, menu::addFiles);
            QVERIFY(answerer.allAnswered());
        }
        QCOMPARE(list()->itemTexts(), (QStringList{path("a.xml"), path("a.xml")}));
        QCOMPARE(preselected, (QStringList{"", ""})); // nothing preselected on any showing
    }

    void addFilesCancelledLeavesTheListAsItWas() {
        writeFiles({"a.xml"});
        list()->appendItem("/x.xml");
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            typeFileNames(dialog, {"a.xml"});
            auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        });
        clickToolButton(m_window.get(), toolbar::addFilesButton);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(list()->itemTexts(), QStringList{"/x.xml"});
    }

    void allFilesFilterOffersFilesOfAnyName() {
        writeFiles({"a.xml", "notes.txt", "README"});
        QStringList shownWithXml, shownWithAll;
        QString activeFilter;
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            dialog->setDirectory(m_folders.path());
            shownWithXml = visibleNames(dialog);
            auto* filterBox = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            filterBox->setFocus();
            QTest::keyClick(filterBox, Qt::Key_Down);
            activeFilter = dialog->selectedNameFilter();
            shownWithAll = visibleNames(dialog);
            typeFileNames(dialog, {"README", "notes.txt"});
            QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
        });
        clickToolButton(m_window.get(), toolbar::addFilesButton);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(shownWithXml, QStringList{"a.xml"});
        QCOMPARE(activeFilter, QStringLiteral("All Files (*.*)"));
        QCOMPARE(shownWithAll, (QStringList{"README", "a.xml", "notes.txt"}));
        QCOMPARE(list()->itemTexts(), (QStringList{path("README"), path("notes.txt")}));
    }

    void accessKeysOpenTheFileMenuAndAddFiles() {
        ModalAnswerer answerer;
        QString title;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            title = dialog->windowTitle();
            dialog->reject();
        });
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::AltModifier);
        auto* fileMenu = m_window->findChild<QMenu*>(QLatin1String(menu::file));
        QTRY_VERIFY(fileMenu->isVisible());
        QTest::keyClick(fileMenu, Qt::Key_D);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(title, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
    }

    // --- settings ---

    void modeAndTabAreRestoredAfterARestart_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<bool>("append");
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("storedOption1Option2Tab");
        QTest::newRow("Append, left on the Options tab")
            << QStringList{"tab 1", "Option1"} << true << 1 << QStringList{"1", "0", "1"};
        QTest::newRow("Append then Merge, back on Files")
            << QStringList{"tab 1", "Option1", "Option2", "tab 0"} << false << 0 << QStringList{"0", "1", "0"};
        QTest::newRow("Merge clicked while selected")
            << QStringList{"tab 1", "Option2"} << false << 1 << QStringList{"0", "1", "1"};
        QTest::newRow("Show Options Tab from the menu")
            << QStringList{QStringLiteral("menu ") + menu::showOptionsTab} << false << 1 << QStringList{"", "", "1"};
        QTest::newRow("Show Options Tab, then Show Files Tab")
            << QStringList{QStringLiteral("menu ") + menu::showOptionsTab, QStringLiteral("menu ") + menu::showFilesTab}
            << false << 0 << QStringList{"", "", "0"};
    }

    void modeAndTabAreRestoredAfterARestart() {
        QFETCH(QStringList, clicks);
        QFETCH(bool, append);
        QFETCH(int, tab);
        QFETCH(QStringList, storedOption1Option2Tab);
        for (const QString& click : clicks) {
            if (click.startsWith("tab "))
                clickTab(m_window.get(), click.mid(4).toInt());
            else if (click.startsWith("menu "))
                chooseMenuItem(m_window.get(), menu::options, qPrintable(click.mid(5)));
            else
                QTest::mouseClick(m_window->findChild<QRadioButton*>(click), Qt::LeftButton);
        }
        QCOMPARE(QStringList({stored("Option1"), stored("Option2"), stored("TabControl1")}), storedOption1Option2Tab);

        reopenWindow();

        QCOMPARE(appendButton()->isChecked(), append);
        QCOMPARE(mergeButton()->isChecked(), !append);
        QCOMPARE(tabs()->currentIndex(), tab);
    }

    // A click on any mode writes all three; the box counts only while Combine is chosen.
    void combineAndItsBoxAreRemembered_data() {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("storedOption1Option2Option3Unique");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("Combine") << QStringList{"Option3"} << QStringList{"0", "0", "1", ""} << "Option3";
        QTest::newRow("Combine, its box, then Append")
            << QStringList{"Option3", "UniqueNodes", "Option1"} << QStringList{"1", "0", "0", "1"} << "Option1";
        QTest::newRow("Append, then Combine and its box twice")
            << QStringList{"Option1", "Option3", "UniqueNodes", "UniqueNodes"} << QStringList{"0", "0", "1", "0"}
            << "Option3";
    }

    void combineAndItsBoxAreRemembered() {
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, storedOption1Option2Option3Unique);
        QFETCH(QString, chosen);
        clickTab(m_window.get(), 1);
        QVERIFY(!uniqueCheckBox()->isEnabled());
        for (const QString& click : clicks)
            QTest::mouseClick(m_window->findChild<QAbstractButton*>(click), Qt::LeftButton);
        QCOMPARE(QStringList({stored("Option1"), stored("Option2"), stored("Option3"), stored("UniqueNodes")}),
                 storedOption1Option2Option3Unique);

        reopenWindow();

        QVERIFY(optionButton(m_window.get(), qPrintable(chosen))->isChecked());
        QCOMPARE(combineButton()->isChecked(), chosen == "Option3");
        QCOMPARE(uniqueCheckBox()->isEnabled(), chosen == "Option3");
        QCOMPARE(uniqueCheckBox()->isChecked(), storedOption1Option2Option3Unique.at(3) == "1");
    }

    // A settings file from before Combine has no Option3: the window starts as it did.
    void settingsWithoutOption3StartAsBefore_data() {
        QTest::addColumn<QString>("option1");
        QTest::addColumn<QString>("option2");
        QTest::newRow("Append") << "1"
                                << "0";
        QTest::newRow("Merge") << "0"
                               << "1";
    }

    void settingsWithoutOption3StartAsBefore() {
        QFETCH(QString, option1);
        QFETCH(QString, option2);
        store("Option1", option1);
        store("Option2", option2);
        reopenWindow();
        QCOMPARE(appendButton()->isChecked(), option1 == "1");
        QCOMPARE(mergeButton()->isChecked(), option2 == "1");
        QVERIFY(!combineButton()->isChecked());
        QVERIFY(!uniqueCheckBox()->isEnabled());
        QCOMPARE(stored("Option3"), QString());
    }

    void storedValuesThatAreNotNumbersReadAsDefaults() {
        store("Option1", "yes");
        store("Option2", "no");
        store("TabControl1", "Options");
        reopenWindow();
        QVERIFY(mergeButton()->isChecked());
        QVERIFY(!appendButton()->isChecked());
        QCOMPARE(tabs()->currentIndex(), 0);
    }

    void wrapControlsFollowAppendAndAreRemembered() {
        // A first run: off, with the default name, and unusable while Merge is chosen.
        QVERIFY(!wrapCheckBox()->isChecked());
        QCOMPARE(wrapRootEdit()->text(), QStringLiteral("files"));
        QVERIFY(!wrapCheckBox()->isEnabled());
        QVERIFY(!wrapRootEdit()->isEnabled());
        clickTab(m_window.get(), 1);
        QVERIFY(wrapCheckBox()->isVisible());
        QVERIFY(wrapCheckBox()->mapTo(tabs(), QPoint()).y() > frame()->mapTo(tabs(), QPoint(0, frame()->height())).y());

        QTest::mouseClick(appendButton(), Qt::LeftButton);
        QVERIFY(wrapCheckBox()->isEnabled());
        QVERIFY(!wrapRootEdit()->isEnabled()); // the name matters only while wrapping is on
        QTest::mouseClick(wrapCheckBox(), Qt::LeftButton);
        QVERIFY(wrapCheckBox()->isChecked());
        QVERIFY(wrapRootEdit()->isEnabled());
        QCOMPARE(stored("WrapAppended"), QStringLiteral("1"));

        wrapRootEdit()->setFocus();
        wrapRootEdit()->selectAll();
        QTest::keyClicks(wrapRootEdit(), QStringLiteral("catalogue"));
        QCOMPARE(stored("WrapRootName"), QStringLiteral("catalogue"));

        QTest::mouseClick(mergeButton(), Qt::LeftButton);
        QVERIFY(!wrapCheckBox()->isEnabled());
        QVERIFY(!wrapRootEdit()->isEnabled());
        QVERIFY(wrapCheckBox()->isChecked()); // kept for the next Append

        reopenWindow();
        QVERIFY(wrapCheckBox()->isChecked());
        QCOMPARE(wrapRootEdit()->text(), QStringLiteral("catalogue"));
        QVERIFY(!wrapCheckBox()->isEnabled());
        clickTab(m_window.get(), 1);
        QTest::mouseClick(appendButton(), Qt::LeftButton);
        QVERIFY(wrapRootEdit()->isEnabled());
        QTest::mouseClick(wrapCheckBox(), Qt::LeftButton);
        QCOMPARE(stored("WrapAppended"), QStringLiteral("0"));
        QVERIFY(!wrapRootEdit()->isEnabled());
    }

    void bothModesStoredOffLeaveNeitherSelected() {
        store("Option1", "0");
        store("Option2", "0");
        reopenWindow();
        QVERIFY(!mergeButton()->isChecked());
        QVERIFY(!appendButton()->isChecked());
    }

    void closingWritesTheGeometryOnlyInTheNormalState_data() {
        QTest::addColumn<Qt::WindowState>("state");
        QTest::addColumn<bool>("byExitItem");
        QTest::addColumn<bool>("written");
        QTest::newRow("normal, title bar") << Qt::WindowNoState << false << true;
        QTest::newRow("normal, Exit") << Qt::WindowNoState << true << true;
        QTest::newRow("maximized, title bar") << Qt::WindowMaximized << false << false;
        QTest::newRow("maximized, Exit") << Qt::WindowMaximized << true << false;
        QTest::newRow("minimized, title bar") << Qt::WindowMinimized << false << false;
    }

    void closingWritesTheGeometryOnlyInTheNormalState() {
        QFETCH(Qt::WindowState, state);
        QFETCH(bool, byExitItem);
        QFETCH(bool, written);
        store("Height", "999");
        m_window->setGeometry(70, 50, 600, 520);
        m_window->setWindowState(state);
        QTRY_COMPARE(m_window->windowState(), state);
        const QRect frame = m_window->frameGeometry();

        if (byExitItem)
            chooseMenuItem(m_window.get(), menu::file, menu::exit);
        else
            QVERIFY(m_window->close());

        QVERIFY(!m_window->isVisible());
        const auto twips = [](int pixels) { return QString::number(qRound(pixelsToTwips(pixels))); };
        QCOMPARE(stored("Left"), written ? twips(frame.x()) : QString());
        QCOMPARE(stored("Top"), written ? twips(frame.y()) : QString());
        QCOMPARE(stored("Width"), written ? twips(frame.width()) : QString());
        QCOMPARE(stored("Height"), written ? twips(frame.height()) : QStringLiteral("999"));
    }

    void exitEndsTheProgram() {
        QTimer::singleShot(0, this, [this] { chooseMenuItem(m_window.get(), menu::file, menu::exit); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(99); }); // a guard, should the exit not happen
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!m_window->isVisible());
        QVERIFY(!stored("Width").isEmpty());
    }

    // --- the pointer ---

    void movesOverTheBackgroundResetThePointerUnlessBusy_data() {
        QTest::addColumn<QString>("over");
        QTest::newRow("window background") << "centralWidget";
        QTest::newRow("Frame1") << "Frame1";
        QTest::newRow("ListView1") << "ListView1";
    }

    void movesOverTheBackgroundResetThePointerUnlessBusy() {
        QFETCH(QString, over);
        if (over == "Frame1")
            clickTab(m_window.get(), 1);
        auto* target = m_window->findChild<QWidget*>(over);
        QWidget* receiver = over == "ListView1" ? list()->viewport() : target;
        const QPoint inside(receiver->width() / 2, receiver->height() - 4);

        m_window->setCursor(Qt::WaitCursor);
        QTest::mouseMove(receiver, inside);
        QCOMPARE(m_window->cursor().shape(), Qt::WaitCursor);

        m_window->setCursor(Qt::CrossCursor);
        QTest::mouseMove(receiver, inside + QPoint(1, 0));
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    // --- the join from the window ---

    void joinOfAnEmptyListSaysNoFilesAdded() {
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        clickStartJoiningAndWait(m_window.get());
        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        checkBox(answerer.seen().at(0), "Corvanta", "No files added.", QMessageBox::NoIcon);
        QCOMPARE(progressBar()->value(), 0);
    }

    void appendJoinShowsFractionalProgressAndTheBusyPointer() {
        writeFiles({"a.xml", "b.xml", "c.xml"});
        addFilesThroughDialog({"a.xml", "b.xml", "c.xml"});
        clickTab(m_window.get(), 1);
        QTest::mouseClick(appendButton(), Qt::LeftButton);
        QList<int> values;
        QList<Qt::CursorShape> pointers;
        connect(progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            values << value;
            pointers << m_window->cursor().shape();
        });

        clickStartJoiningAndWait(m_window.get());

        QCOMPARE(values, (QList<int>{3333, 6667, 10000, 0}));
        QCOMPARE(pointers, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::WaitCursor, Qt::WaitCursor, Qt::ArrowCursor}));
        QCOMPARE(progressBar()->text(), QStringLiteral("0%"));
        ResultsWindow* results = loadedResultsWindow();
        QVERIFY(results && results->isVisible());
        QCOMPARE(results->resultsText(), QStringLiteral("<a/>\n<b/>\n<c/>\n"));
        QVERIFY(!m_window->isVisible());
        QCOMPARE(list()->itemTexts(), (QStringList{path("a.xml"), path("b.xml"), path("c.xml")}));
    }

    void unreadableInputShowsTheApplicationErrorReport() {
        writeFiles({"b.xml"});
        QDir().mkpath(path("folder.xml"));
        list()->appendItem(path("folder.xml"));
        addFilesThroughDialog({"b.xml"});
        clickTab(m_window.get(), 1);
        QTest::mouseClick(appendButton(), Qt::LeftButton);
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        const SeenBox report = answerer.seen().at(0);
        QCOMPARE(report.title, QStringLiteral("Application Error"));
        QCOMPARE(report.icon, QMessageBox::Warning);
        QCOMPARE(report.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QString tail = QStringLiteral("\nin Quorvel5/20/2014.Form1.Start at line 118\n\n"
                                            "Please email screenshot of this message to ") +
                             supportAddress() + QStringLiteral("\nfile1: ") + path("folder.xml");
        QVERIFY2(report.text.endsWith(tail), qPrintable(report.text));
        QVERIFY(!report.text.startsWith(QLatin1Char('\n'))); // the failure's description comes first
        QVERIFY(loadedResultsWindow());
        QCOMPARE(loadedResultsWindow()->resultsText(), QStringLiteral("<b/>\n"));
    }

    // The report says why the working folder could not be made, then the join fails.
    void missingTempFolderIsReportedThenJoinFail() {
        writeFiles({"a.xml"});
        addFilesThroughDialog({"a.xml"});
        clickTab(m_window.get(), 1);
        QTest::mouseClick(appendButton(), Qt::LeftButton);
        qputenv("TEMP", path("no/such/folder").toLocal8Bit());
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 2);
        const SeenBox& report = answerer.seen().at(0);
        QCOMPARE(report.title, QStringLiteral("Application Error"));
        QCOMPARE(report.icon, QMessageBox::Warning);
        QVERIFY2(report.text.startsWith(QStringLiteral("Cannot make a working folder in %1: No such file or "
                                                       "directory\nin Quorvel5/20/2014.Form1.Start at line 104\n")
                                            .arg(path("no/such/folder"))),
                 qPrintable(report.text));
        checkBox(answerer.seen().at(1), "Corvanta", "Join Fail.", QMessageBox::Warning);
        QVERIFY(!loadedResultsWindow());
        QVERIFY(m_window->isVisible());
        QCOMPARE(list()->itemTexts(), QStringList{path("a.xml")});
    }

    void messagesWithLineBreaksShowTheirLines_data() {
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("parse error, CR LF") << int(JoinHost::Icon::None)
                                            << "Error reading /d/b.xml\r\nerror:Premature end of data\r\nLine:1\r\n"
                                               "position:9"
                                            << "Error reading /d/b.xml\nerror:Premature end of data\nLine:1\n"
                                               "position:9";
        QTest::newRow("warning, lone CR and a blank line") << int(JoinHost::Icon::Warning) << "first\r\rthird"
                                                           << "first\n\nthird";
    }

    // The join's messages reach the window's host; the boxes show the same lines with LF breaks.
    void messagesWithLineBreaksShowTheirLines() {
        QFETCH(int, icon);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        BusyPointer busyPointer(*m_window);
        MainJoinHost host(*m_window, busyPointer, *list(), *appendButton(), *progressBar());
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        host.showMessage(text, JoinHost::Icon(icon));
        QVERIFY(answerer.allAnswered());
        checkBox(answerer.seen().at(0), "Corvanta", qPrintable(shown),
                 icon == int(JoinHost::Icon::Warning) ? QMessageBox::Warning : QMessageBox::NoIcon);
    }

    void mergeStructureDifferenceIsReported() {
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path("b.xml"), "<s><x/></s>");
        addFilesThroughDialog({"a.xml", "b.xml"});
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        checkBox(answerer.seen().at(0), "Corvanta", "XML files do not have same structure, join aborted.",
                 QMessageBox::NoIcon);
        QVERIFY(m_window->isVisible());
        QCOMPARE(progressBar()->value(), 0);
    }

    void mergeParseErrorIsReportedThenTheStructureMessage() {
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path("bad.xml"), "<r><x></r>");
        addFilesThroughDialog({"a.xml", "bad.xml"});
        ModalAnswerer answerer;
        for (int box = 0; box < 4; ++box)
            answerer.answerMessage(QMessageBox::Ok);

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        const QList<SeenBox> seen = answerer.seen();
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen.at(0).title, QStringLiteral("Corvanta"));
        QCOMPARE(seen.at(0).icon, QMessageBox::NoIcon);
        const QRegularExpression parseError(QStringLiteral("^Error reading %1\nerror:.+\nLine:\\d+\nposition:\\d+$")
                                                .arg(QRegularExpression::escape(path("bad.xml"))));
        QVERIFY2(parseError.match(seen.at(0).text).hasMatch(), qPrintable(seen.at(0).text));
        for (int step : {142, 144}) {
            const SeenBox& report = seen.at(step == 142 ? 1 : 2);
            QCOMPARE(report.title, QStringLiteral("Application Error"));
            QCOMPARE(report.icon, QMessageBox::Warning);
            QVERIFY(report.text.endsWith(
                QStringLiteral("at line %1\n\nPlease email screenshot of this message to ").arg(step) +
                supportAddress() + QStringLiteral("\nfile1: ")));
        }
        checkBox(seen.at(3), "Corvanta", "XML files do not have same structure, join aborted.", QMessageBox::NoIcon);
    }

private:
    void reopenWindow() { openMainWindow(m_window); }

    TabControl* tabs() const { return tabControl(m_window.get()); }
    FileListView* list() const { return &m_window->fileList(); }
    QGroupBox* frame() const { return m_window->findChild<QGroupBox*>(QStringLiteral("Frame1")); }
    QRadioButton* appendButton() const { return optionButton(m_window.get(), "Option1"); }
    QRadioButton* mergeButton() const { return optionButton(m_window.get(), "Option2"); }
    QRadioButton* combineButton() const { return optionButton(m_window.get(), "Option3"); }
    QCheckBox* uniqueCheckBox() const { return m_window->findChild<QCheckBox*>(QStringLiteral("UniqueNodes")); }
    QCheckBox* wrapCheckBox() const { return m_window->findChild<QCheckBox*>(QStringLiteral("wrapCheckBox")); }
    QLineEdit* wrapRootEdit() const { return m_window->findChild<QLineEdit*>(QStringLiteral("wrapRootEdit")); }
    QProgressBar* progressBar() const { return m_window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1")); }

    QString path(const QString& name) const { return m_folders.filePath(name); }

    QRect placeInWindow(const QWidget* widget) const {
        return QRect(widget->mapTo(m_window.get(), QPoint()), widget->size());
    }

    void writeFiles(const QStringList& names) {
        for (const QString& name : names)
            writeFile(path(name), "<" + QFileInfo(name).baseName().toUtf8() + "/>\n");
    }

    QPoint rowPoint(int row) const { return ::rowPoint(*list(), row); }

    void typeFileNames(QFileDialog* dialog, const QStringList& names) {
        ::typeFileNames(dialog, m_folders.path(), names);
    }

    static QStringList visibleNames(QFileDialog* dialog) {
        auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        QStringList names;
        // The folder is read in the background; wait until its entries are there.
        if (!QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) > 0; }, 3000))
            qWarning("the dialog shows no files");
        QTest::qWait(50);
        for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row)
            names << view->model()->index(row, 0, view->rootIndex()).data().toString();
        names.sort();
        return names;
    }

    void addFilesThroughDialog(const QStringList& names) {
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            typeFileNames(dialog, names);
            QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
        });
        clickToolButton(m_window.get(), toolbar::addFilesButton);
        QVERIFY(answerer.allAnswered());
    }

    static void checkBox(const SeenBox& box, const char* title, const char* text, QMessageBox::Icon icon) {
        QCOMPARE(box.title, QLatin1String(title));
        QCOMPARE(box.text, QLatin1String(text));
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    TestFolders m_folders;
    std::unique_ptr<MainWindow> m_window;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
