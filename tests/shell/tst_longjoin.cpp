// A join of large files from the real main window: the window keeps handling its events while the join runs on a
// thread of its own, shows its controls disabled meanwhile, Stop ends the join, and a close ends it and the program.
#include "filelist/filelistview.h"
#include "results/resultswindow.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "shell/tabcontrol.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/eventcounter.h"
#include "tests/support/modalhelper.h"
#include "tests/support/testfiles.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <memory>

using namespace corvanta;

namespace {

// Enough for the join to take a good while in a debug build: four inputs of about 4 MB.
constexpr int recordsPerInput = 20000;

// Input \a part of a set that merges: the same root and top-level nodes in each, and records of distinct names,
// each part starting half its records past the one before, so half of its names are new.
QByteArray largeInput(int part) {
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<archive>\n  <meta><source>part " +
                      QByteArray::number(part) + "</source></meta>\n  <records>\n";
    text.reserve(qsizetype(recordsPerInput) * 220);
    for (int k = 0; k < recordsPerInput; ++k) {
        const QByteArray number = QByteArray::number(part * recordsPerInput / 2 + k).rightJustified(7, '0');
        text += "    <rec" + number + " id=\"" + number + "\" kind=\"caf\xc3\xa9\">\n      <title>Record " + number +
                " of part " + QByteArray::number(part) +
                "</title>\n      <amount currency=\"EUR\">12.50</amount>\n      <description>alpha bravo "
                "charlie &amp; delta echo foxtrot golf hotel india</description>\n    </rec" +
                number + ">\n";
    }
    return text + "  </records>\n</archive>\n";
}

// What the window shows as the join goes: each progress value with the pointer then, and how many timer ticks and
// paints the test's event loop had handled by that moment.
struct ProgressSeen {
    int value;
    Qt::CursorShape pointer;
    int ticks;
    int paints;
};

// Counts the message boxes and results windows shown anywhere in the application.
class ShowCounter : public QObject {
public:
    int boxes = 0;
    int results = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            boxes += qobject_cast<QMessageBox*>(watched) != nullptr;
            results += qobject_cast<ResultsWindow*>(watched) != nullptr;
        }
        return false;
    }
};

} // namespace

class TestLongJoin : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_inputs.isValid());
        for (int part = 0; part < 4; ++part) {
            m_large << m_inputs.filePath(QStringLiteral("large-%1.xml").arg(part));
            writeFile(m_large.last(), largeInput(part));
        }
        m_malformed = m_inputs.filePath(QStringLiteral("malformed.xml"));
        writeFile(m_malformed, "<archive><meta></archive>");
    }

    void init() {
        startOnFirstRun(m_folders, m_window);
        m_seen.clear();
        m_ticks = 0;
        m_tick.setInterval(10);
        // Each tick asks the options frame, on the tab a join starts from, to repaint: its paints show that the
        // window paints while the join runs.
        QWidget* frame = m_window->findChild<QWidget*>(QStringLiteral("Frame1"));
        connect(&m_tick, &QTimer::timeout, this, [this, frame] {
            ++m_ticks;
            frame->update();
        });
        frame->installEventFilter(&m_framePaints);
        connect(progressBar(), &QProgressBar::valueChanged, this, [this](int value) {
            m_seen.push_back({value, m_window->cursor().shape(), m_ticks, m_framePaints.count});
        });
        m_tick.start();
    }

    void cleanup() {
        m_tick.stop();
        m_tick.disconnect();
        m_window.reset();
        QVERIFY(resultsWindows().isEmpty());
    }

    void windowKeepsHandlingEventsWhileAMergeRuns() {
        fillList(m_large);
        chooseMerge();

        clickToolButton(m_window.get(), toolbar::startJoiningButton);
        QVERIFY(m_window->isJoining()); // the click's handler has returned; the join goes on
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 120000));

        QCOMPARE(values(), (QList<int>{2500, 5000, 7500, 10000, 0}));
        QCOMPARE(pointers(), (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::WaitCursor, Qt::WaitCursor, Qt::WaitCursor,
                                                     Qt::ArrowCursor}));
        // Between the first input's progress and the last one's, the test's timers fired and the list repainted.
        QVERIFY2(m_seen.at(3).ticks > m_seen.at(0).ticks, "no timer fired during the join");
        QVERIFY2(m_seen.at(3).paints > m_seen.at(0).paints, "the window did not paint during the join");

        ResultsWindow* results = resultsWindows().value(0);
        QVERIFY(results && results->isVisible());
        QVERIFY(!m_window->isVisible());
        const QString joined = results->resultsText();
        QCOMPARE(joined.count(QStringLiteral("<title>")), recordsPerInput * 5 / 2); // every distinct name once
        QVERIFY(joined.contains(QStringLiteral("<rec%1 ").arg(recordsPerInput * 5 / 2 - 1, 7, 10, QLatin1Char('0'))));
        QCOMPARE(workingFolderEntries(), QStringList());
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    void startReturnsAtOnceWhicheverWayItComes_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("mouse") << "mouse";
        QTest::newRow("keyboard") << "keyboard";
        QTest::newRow("accessibility action") << "accessibility";
    }

    void startReturnsAtOnceWhicheverWayItComes() {
        QFETCH(QString, way);
        fillList(m_large);
        chooseMerge();
        QToolButton* start = startButton();

        if (way == "mouse") {
            QTest::mouseClick(start, Qt::LeftButton);
        } else if (way == "keyboard") {
            start->setFocus();
            QTest::keyClick(start, Qt::Key_Space);
        } else {
            QAccessibleInterface* button = QAccessible::queryAccessibleInterface(start);
            QVERIFY(button && button->actionInterface());
            button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        }

        // The trigger has returned, and the test's own event loop runs while the join does.
        QVERIFY(QTest::qWaitFor([this] { return m_window->isJoining(); }, 5000));
        const int ticks = m_ticks;
        QVERIFY(QTest::qWaitFor([this, ticks] { return m_ticks > ticks + 2 || !m_window->isJoining(); }, 5000));
        QVERIFY2(m_window->isJoining(), "the join ended before the event loop turned");
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 120000));
        QCOMPARE(values(), (QList<int>{2500, 5000, 7500, 10000, 0}));
        QCOMPARE(resultsWindows().size(), 1);
        QVERIFY(resultsWindows().at(0)->isVisible());
    }

    // The parse error of the second input shows on the window's thread and holds the join until it is answered;
    // then the join goes on with its reports and the structure stop, as it always has.
    void parseErrorBoxHoldsTheJoinUntilAnswered() {
        fillList({m_large.at(0), m_malformed, m_large.at(2)});
        chooseMerge();
        // The box runs its own event loop: it is watched and answered from a timer, as a person would.
        ModalAnswerer answerer;
        QPointer<QMessageBox> box;
        QString text;
        QList<int> valuesShown, valuesAnswered;
        bool joiningAnswered = false, sameBoxAnswered = false;
        QElapsedTimer shownFor;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* modal = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box && modal) {
                box = modal;
                text = modal->text();
                valuesShown = values();
                shownFor.start();
            } else if (box && shownFor.elapsed() >= 200) { // nothing moves on while the box waits
                watch.stop();
                sameBoxAnswered = QApplication::activeModalWidget() == box;
                joiningAnswered = m_window->isJoining();
                valuesAnswered = values();
                for (int answer = 0; answer < 3; ++answer)
                    answerer.answerMessage(QMessageBox::Ok);
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            }
        });
        watch.start(10);

        clickToolButton(m_window.get(), toolbar::startJoiningButton);
        QVERIFY(QTest::qWaitFor([&] { return !watch.isActive() && !m_window->isJoining(); }, 120000));
        QVERIFY(answerer.allAnswered());

        QVERIFY2(text.startsWith(QStringLiteral("Error reading ") + m_malformed + QLatin1Char('\n')), qPrintable(text));
        QCOMPARE(valuesShown, (QList<int>{3333, 6667}));
        QVERIFY(sameBoxAnswered);
        QVERIFY(joiningAnswered);
        QCOMPARE(valuesAnswered, valuesShown);
        const QList<SeenBox> seen = answerer.seen();
        QCOMPARE(seen.size(), 3);
        for (int i : {0, 1}) {
            QCOMPARE(seen.at(i).title, QStringLiteral("Application Error"));
            QVERIFY(seen.at(i).text.contains(QStringLiteral(" at line %1\n").arg(i == 0 ? 142 : 144)));
        }
        QCOMPARE(seen.at(2).text, QStringLiteral("XML files do not have same structure, join aborted."));
        QCOMPARE(values(), (QList<int>{3333, 6667, 0}));
        QCOMPARE(pointers().first(), Qt::WaitCursor);
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(m_window->isVisible());
        QVERIFY(resultsWindows().isEmpty());
        QCOMPARE(workingFolderEntries(), QStringList());
    }

    void closingTheWindowDuringAJoinEndsItAndTheProgram_data() {
        QTest::addColumn<bool>("append");
        QTest::addColumn<bool>("windowStays"); // the program goes on handling events with the window still there
        QTest::newRow("Merge, window destroyed at once") << false << false;
        QTest::newRow("Merge, window kept") << false << true;
        QTest::newRow("Append, window destroyed at once") << true << false;
        QTest::newRow("Append, window kept") << true << true;
    }

    // The close stops the join after its current step; no box asks anything and no result shows. Once the join's
    // thread has ended (a window that goes waits for it) nothing of the join is left in the temporary folder, and
    // the window lets go of the busy pointer.
    void closingTheWindowDuringAJoinEndsItAndTheProgram() {
        QFETCH(bool, append);
        QFETCH(bool, windowStays);
        fillList(m_large);
        clickTab(m_window.get(), 1);
        QTest::mouseClick(optionButton(m_window.get(), append ? "Option1" : "Option2"), Qt::LeftButton);
        ShowCounter shown;
        qApp->installEventFilter(&shown);
        qsizetype foldersAtClose = -1;
        connect(progressBar(), &QProgressBar::valueChanged, this, [this, &foldersAtClose](int value) {
            if (value != 5000)
                return;
            foldersAtClose = workingFolderEntries().size();
            QTimer::singleShot(0, m_window.get(), [this] { m_window->close(); });
        });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(120000);

        QTimer::singleShot(0, this, [this] { clickToolButton(m_window.get(), toolbar::startJoiningButton); });
        const int exitCode = QApplication::exec();
        QVERIFY(!m_window->isVisible());
        if (windowStays) {
            QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 60000));
            QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
            QCOMPARE(workingFolderEntries(), QStringList());
        }
        m_window.reset();
        qApp->removeEventFilter(&shown);
        m_tick.stop(); // it repaints a part of the window that has gone
        settleQuit();

        QCOMPARE(exitCode, 0);
        QCOMPARE(foldersAtClose, 1);                  // the join's working folder was there
        QCOMPARE(values(), (QList<int>{2500, 5000})); // nothing after the stop
        QCOMPARE(shown.boxes, 0);
        QCOMPARE(shown.results, 0);
        QCOMPARE(workingFolderEntries(), QStringList());
    }

    // During a join what would change the list or the options is disabled, as people and screen readers see it;
    // clicks, keys and accessibility actions on it do nothing, and a second start does nothing. Only Stop, Exit
    // and the links to the web stay. Afterwards all is enabled and as it was, and the join ran once.
    void controlsAreDisabledDuringAJoinAndASecondStartDoesNothing() {
        const QStringList paths = fillList(m_large);
        chooseMerge();
        QMenu* fileMenu = m_window->findChild<QMenu*>(QLatin1String(menu::file));
        auto* clearButton = m_window->findChild<QToolButton*>(QLatin1String(toolbar::clearListButton));
        ShowCounter shown;
        qApp->installEventFilter(&shown);

        clickToolButton(m_window.get(), toolbar::startJoiningButton);
        QVERIFY(m_window->isJoining());
        QCOMPARE(startButton()->text(), QStringLiteral("Stop"));
        QCOMPARE(enabledItems(fileMenu), (QStringList{"Stop", "&Exit"}));
        QCOMPARE(enabledItems(m_window->findChild<QMenu*>(QLatin1String(menu::options))), QStringList());
        QCOMPARE(enabledItems(m_window->findChild<QMenu*>(QLatin1String(menu::help))),
                 (QStringList{"Watch Old Demo Video", "FAQ", "Visit Tavrino Main Page"}));
        QVERIFY(!clearButton->isEnabled());
        QVERIFY(!tabControl(m_window.get())->isEnabled());
        QVERIFY(!list()->isEnabled());
        QTest::mouseClick(clearButton, Qt::LeftButton);
        QAccessible::queryAccessibleInterface(clearButton)
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::pressAction());
        m_window->startJoining();
        QTabBar* tabs = tabControl(m_window.get())->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        list()->setCurrentItem(list()->topLevelItem(0));
        QTest::keyClick(list(), Qt::Key_Delete);
        QTest::qWait(100);
        QVERIFY(m_window->isJoining());
        QCOMPARE(tabControl(m_window.get())->currentIndex(), 1);
        QCOMPARE(list()->itemTexts(), paths);

        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 120000));
        QTest::qWait(200);
        qApp->removeEventFilter(&shown);

        QCOMPARE(values(), (QList<int>{2500, 5000, 7500, 10000, 0}));
        QCOMPARE(shown.results, 1);
        QCOMPARE(shown.boxes, 0);
        QCOMPARE(tabControl(m_window.get())->currentIndex(), 1);
        QCOMPARE(list()->itemTexts(), paths);
        QCOMPARE(startButton()->text(), QStringLiteral("Start Joining"));
        QVERIFY(clearButton->isEnabled() && list()->isEnabled() && tabControl(m_window.get())->isEnabled());
        QCOMPARE(enabledItems(fileMenu).size(), 9);
    }

    // Stop, from the tool bar, the File menu or by Escape, in the middle of a Merge or an Append: the join ends,
    // its working folder goes, the list keeps its items and marks and the results window its text, and no box
    // says anything: "Join stopped." stands in the progress bar's place for a while.
    void stopDuringAJoin_data() {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("append");
        for (const char* way : {"button", "menu", "Escape"})
            for (const bool append : {false, true})
                QTest::addRow("%s, %s", way, append ? "Append" : "Merge") << QString(way) << append;
    }

    void stopDuringAJoin() {
        QFETCH(QString, way);
        QFETCH(bool, append);
        const QStringList paths = fillList(m_large);
        list()->setItemStatus(2, ItemMark::Problem, QStringLiteral("from an earlier check"));
        m_window->resultsWindow().setResultsText(QStringLiteral("<earlier/>"));
        clickTab(m_window.get(), 1);
        QTest::mouseClick(optionButton(m_window.get(), append ? "Option1" : "Option2"), Qt::LeftButton);
        ShowCounter shown;
        qApp->installEventFilter(&shown);
        qsizetype foldersAtStop = -1;
        connect(progressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            if (value != 5000)
                return;
            foldersAtStop = workingFolderEntries().size();
            QTimer::singleShot(0, m_window.get(), [&] {
                if (way == "button") {
                    clickToolButton(m_window.get(), toolbar::startJoiningButton);
                } else if (way == "menu") {
                    chooseMenuItem(m_window.get(), menu::file, menu::startJoining);
                } else {
                    QApplication::setActiveWindow(m_window.get());
                    QTest::keyClick(m_window.get(), Qt::Key_Escape);
                }
            });
        });

        clickToolButton(m_window.get(), toolbar::startJoiningButton);
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 120000));
        QTest::qWait(100);
        qApp->removeEventFilter(&shown);

        QCOMPARE(foldersAtStop, 1);
        QCOMPARE(workingFolderEntries(), QStringList());
        QCOMPARE(shown.boxes, 0);
        QCOMPARE(shown.results, 0);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->resultsWindow().isVisible());
        QCOMPARE(m_window->resultsWindow().resultsText(), QStringLiteral("<earlier/>"));
        QCOMPARE(list()->itemTexts(), paths);
        QCOMPARE(list()->itemMark(2), ItemMark::Problem);
        QCOMPARE(list()->itemMark(1), ItemMark::None);
        QCOMPARE(values(), (QList<int>{2500, 5000, 0}));
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(startButton()->text(), QStringLiteral("Start Joining"));
        QVERIFY(list()->isEnabled());
        QLabel* status = statusLine();
        QVERIFY(status && status->isVisible());
        QCOMPARE(status->text(), QStringLiteral("Join stopped."));
        QCOMPARE(status->geometry(), progressBar()->geometry());
        QVERIFY(!progressBar()->isVisible());
        if (way == "button" && !append) { // once: it takes a few seconds
            QTRY_VERIFY_WITH_TIMEOUT(!status->isVisible(), MainWindow::stoppedStatusMs + 2000);
            QVERIFY(progressBar()->isVisible());
        }
    }

    // Stop during Check Files: no box and no marks; the marks from before stay.
    void stopDuringACheck() {
        fillList(m_large);
        list()->setItemStatus(1, ItemMark::Fine, QStringLiteral("from an earlier check"));
        ShowCounter shown;
        qApp->installEventFilter(&shown);

        chooseMenuItem(m_window.get(), menu::file, menu::checkFiles);
        QVERIFY(m_window->isJoining());
        QCOMPARE(startButton()->text(), QStringLiteral("Stop"));
        clickToolButton(m_window.get(), toolbar::startJoiningButton);
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 60000));
        QTest::qWait(100);
        qApp->removeEventFilter(&shown);

        QCOMPARE(shown.boxes, 0);
        QCOMPARE(list()->itemMark(1), ItemMark::Fine);
        QCOMPARE(list()->itemMark(2), ItemMark::None);
        QCOMPARE(statusLine()->text(), QStringLiteral("Join stopped."));
        QVERIFY(statusLine()->isVisible());
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    // The hand-off shows the results window a moment before it hides the main window; a Back in between would leave
    // neither on the screen. The results window therefore takes no input either until the join has ended.
    void resultsWindowTakesNoInputWhileAJoinRuns() {
        fillList({m_large.at(0)});
        chooseMerge();
        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindows().value(0);
        QVERIFY(results);
        clickToolButton(results, "backAction");
        fillList(m_large.mid(1));

        clickToolButton(m_window.get(), toolbar::startJoiningButton);
        results->show(); // as the hand-off does, before the main window goes
        QVERIFY(QTest::qWaitForWindowExposed(results));
        auto* back = qobject_cast<QToolButton*>(
            results->findChild<QToolBar*>()->widgetForAction(results->findChild<QAction*>("backAction")));
        QVERIFY(back && !back->isEnabled());
        QTest::mouseClick(back, Qt::LeftButton);
        QVERIFY(m_window->isJoining());
        QVERIFY(results->isVisible());
        QVERIFY(m_window->isVisible());

        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 120000));
        QVERIFY(results->isVisible());
        QVERIFY(!m_window->isVisible());
        clickToolButton(results, "backAction");
        QVERIFY(m_window->isVisible());
        QVERIFY(!results->isVisible());
    }

    // Check Files over large inputs runs as the join does: the window paints, the pointer is busy, the progress
    // moves in list order, input is dropped; the marks and the box come once every input is checked.
    void checkFilesKeepsTheWindowAliveAndDropsInput() {
        const QStringList paths = fillList(m_large + QStringList{m_malformed});
        clickTab(m_window.get(), 0);
        list()->setFocus();
        list()->setCurrentItem(list()->topLevelItem(0));
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        const int ticksBefore = m_ticks;

        chooseMenuItem(m_window.get(), menu::file, menu::checkFiles);
        QVERIFY(m_window->isJoining()); // the menu's handler has returned; the check goes on
        QTest::keyClick(list(), Qt::Key_Delete);
        m_window->checkFiles(); // a second check while one runs: nothing
        QCOMPARE(m_window->cursor().shape(), Qt::WaitCursor);
        QCOMPARE(list()->itemMark(1), ItemMark::None);
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 120000));

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().first().text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("1 of 5 files would stop a Merge."));
        QCOMPARE(values(), (QList<int>{2000, 4000, 6000, 8000, 10000, 0}));
        QCOMPARE(pointers().mid(0, 5), QList<Qt::CursorShape>(5, Qt::WaitCursor));
        QVERIFY2(m_seen.first().ticks > ticksBefore, "no timer fired before the first input was checked");
        QCOMPARE(list()->itemTexts(), paths);
        QCOMPARE(list()->itemMark(1), ItemMark::Fine);
        QCOMPARE(list()->itemMark(5), ItemMark::Problem);
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(workingFolderEntries(), QStringList());
    }

    // A close during a check ends it without its box or marks; the window lets go of the pointer.
    void closingTheWindowDuringACheckEndsIt() {
        fillList(m_large);
        ShowCounter shown;
        qApp->installEventFilter(&shown);

        chooseMenuItem(m_window.get(), menu::file, menu::checkFiles);
        QVERIFY(m_window->isJoining());
        m_window->close();
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isJoining(); }, 60000));
        QTest::qWait(100);
        qApp->removeEventFilter(&shown);

        QVERIFY(!m_window->isVisible());
        QCOMPARE(shown.boxes, 0);
        QCOMPARE(list()->itemMark(1), ItemMark::None);
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    // Once the join has ended, the window takes input again.
    void inputCountsAgainAfterTheJoin() {
        fillList({m_large.at(0)});
        chooseMerge();
        clickStartJoiningAndWait(m_window.get());
        clickToolButton(resultsWindows().value(0), "backAction");

        clickToolButton(m_window.get(), toolbar::clearListButton);

        QCOMPARE(list()->itemCount(), 0);
    }

private:
    // The window's close asks the application to quit once more after its loop has ended; left pending, that quit
    // would end the next test's boxes at once. A loop of its own takes it.
    static void settleQuit() {
        QTimer end;
        end.setSingleShot(true);
        connect(&end, &QTimer::timeout, [] { QCoreApplication::exit(0); });
        end.start(50);
        QApplication::exec();
    }

    QStringList fillList(const QStringList& paths) {
        for (const QString& path : paths)
            list()->appendItem(path);
        return paths;
    }

    void chooseMerge() {
        clickTab(m_window.get(), 1);
        QTest::mouseClick(optionButton(m_window.get(), "Option2"), Qt::LeftButton);
        QVERIFY(optionButton(m_window.get(), "Option2")->isChecked());
    }

    FileListView* list() const { return &m_window->fileList(); }
    QProgressBar* progressBar() const { return m_window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1")); }
    QLabel* statusLine() const { return m_window->findChild<QLabel*>(QStringLiteral("statusLine")); }
    QToolButton* startButton() const {
        return m_window->findChild<QToolButton*>(QLatin1String(toolbar::startJoiningButton));
    }

    // The texts of \a menu's enabled items.
    static QStringList enabledItems(const QMenu* menu) {
        QStringList texts;
        for (const QAction* action : menu->actions())
            if (!action->isSeparator() && action->isEnabled())
                texts << action->text();
        return texts;
    }

    QList<int> values() const {
        QList<int> result;
        for (const ProgressSeen& seen : m_seen)
            result << seen.value;
        return result;
    }

    QList<Qt::CursorShape> pointers() const {
        QList<Qt::CursorShape> result;
        for (const ProgressSeen& seen : m_seen)
            result << seen.pointer;
        return result;
    }

    QStringList workingFolderEntries() const { return m_folders.tempEntries(); }

    QTemporaryDir m_inputs;
    QStringList m_large;
    QString m_malformed;
    TestFolders m_folders;
    std::unique_ptr<MainWindow> m_window;
    QTimer m_tick;
    int m_ticks = 0;
    EventCounter m_framePaints{QEvent::Paint};
    QList<ProgressSeen> m_seen;
};

QTEST_MAIN(TestLongJoin)
#include "tst_longjoin.moc"
