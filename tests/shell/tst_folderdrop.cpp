// Add Folder and drops from the file manager, through the main window.
#include "filelist/filelistview.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/modalhelper.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMimeData>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

using namespace corvanta;

Q_DECLARE_METATYPE(Qt::DropActions)
Q_DECLARE_METATYPE(Qt::DropAction)

namespace {

/// Records every pointer the watched window takes, and the paints of a widget while the window is busy.
class PointerLog : public QObject {
public:
    PointerLog(QWidget* window, QWidget* painted)
        : m_window(window)
        , m_painted(painted) {
        window->installEventFilter(this);
        painted->installEventFilter(this);
    }

    QList<Qt::CursorShape> changes;
    int busyPaints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // The platform window reports each change once more; a change is a new shape.
        if (watched == m_window && event->type() == QEvent::CursorChange &&
            (changes.isEmpty() || changes.last() != m_window->cursor().shape()))
            changes << m_window->cursor().shape();
        if (watched == m_painted && event->type() == QEvent::Paint && m_window->cursor().shape() == Qt::WaitCursor)
            ++busyPaints;
        return false;
    }

private:
    QWidget* m_window;
    QWidget* m_painted;
};

/// What the folder chooser showed, read before it was answered.
struct SeenChooser {
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    bool dirsOnly = false;
    bool qtDialog = false;
    bool modal = false;
    QWidget* owner = nullptr;
    QString storedExtension;
};

} // namespace

class TestFolderDrop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_large.isValid());
        for (const QString& file : largeTreeFiles()) {
            QVERIFY(QDir().mkpath(QFileInfo(file).path()));
            writeFile(file, "<r/>");
        }
    }

    void init() {
        startOnFirstRun(m_folders, m_window);
        m_pointers = std::make_unique<PointerLog>(m_window.get(), list()->viewport());
        m_firstAppendSeen = false;
    }

    void cleanup() {
        m_pointers.reset();
        m_window.reset();
    }

    // --- Add Folder ---

    void addFolderAppendsTheTreeLevelByLevel_data() {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("toolbar Add Folder") << false;
        QTest::newRow("File menu Add Folder") << true;
    }

    void addFolderAppendsTheTreeLevelByLevel() {
        QFETCH(bool, fromMenu);
        makeTree(
            {"R/a.xml", "R/~b.xml", "R/S1/T/x.xml", "R/S2/y.xml", "R/notes.txt", "R/.hid/h.xml", "R/S1/T/up -> R"});
        list()->appendItem("/already.xml");
        QList<Qt::CursorShape> pointersWhileAppending;
        connect(list()->model(), &QAbstractItemModel::rowsInserted, this,
                [&] { pointersWhileAppending << m_window->cursor().shape(); });
        SeenChooser seen;
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            seen = {dialog->windowTitle(),
                    dialog->fileMode(),
                    dialog->testOption(QFileDialog::ShowDirsOnly),
                    dialog->testOption(QFileDialog::DontUseNativeDialog),
                    dialog->isModal(),
                    dialog->parentWidget(),
                    programSettings().value("Extension").toString()};
            chooseFolder(dialog, "R");
        });

        if (fromMenu)
            chooseMenuItem(m_window.get(), menu::file, menu::addFolder);
        else
            clickToolButton(m_window.get(), toolbar::addFolderButton);

        QVERIFY(answerer.allAnswered());
        QTRY_VERIFY(!m_window->isBusy());
        QCOMPARE(seen.title, QStringLiteral("Please select folder:"));
        QCOMPARE(seen.mode, QFileDialog::Directory);
        QVERIFY(seen.dirsOnly && seen.qtDialog && seen.modal);
        QCOMPARE(seen.owner, m_window.get());
        QCOMPARE(seen.storedExtension, QStringLiteral("xml")); // written before the chooser shows
        QCOMPARE(list()->itemTexts(),
                 (QStringList{"/already.xml", path("R/a.xml"), path("R/S2/y.xml"), path("R/S1/T/x.xml")}));
        QCOMPARE(pointersWhileAppending, QList<Qt::CursorShape>(3, Qt::WaitCursor));
        QCOMPARE(m_pointers->changes, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor}));
    }

    void addFolderCancelledStillStoresTheExtension() {
        makeTree({"R/a.xml"});
        list()->appendItem("/x.xml");
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) {
            dialog->setDirectory(m_folders.path());
            fileNameEdit(dialog)->setText("R");
            QTest::keyClick(dialog, Qt::Key_Escape);
        });

        clickToolButton(m_window.get(), toolbar::addFolderButton);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(list()->itemTexts(), QStringList{"/x.xml"});
        QCOMPARE(m_pointers->changes, QList<Qt::CursorShape>{});
        QCOMPARE(programSettings().value("Extension").toString(), QStringLiteral("xml"));
    }

    void folderWithoutXmlFilesAppendsNothing() {
        makeTree({"E/e.txt", "E/sub/", "E/.h.xml/"});
        ModalAnswerer answerer;
        answerer.handleFileDialog([&](QFileDialog* dialog) { chooseFolder(dialog, "E"); });

        clickToolButton(m_window.get(), toolbar::addFolderButton);

        QVERIFY(answerer.allAnswered());
        QTRY_VERIFY(!m_window->isBusy());
        QCOMPARE(list()->itemCount(), 0);
        QCOMPARE(m_pointers->changes, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor}));
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    // --- drops ---

    void dropsAppendAtTheEnd_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<Qt::DropActions>("offered");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<Qt::DropAction>("action");
        const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;

        QTest::newRow("two files as they are") << QStringList{"a.txt", "b.xml"} << QStringList{"a.txt", "b.xml"} << all
                                               << QStringList{"a.txt", "b.xml"} << Qt::CopyAction;
        QTest::newRow("folder: every file but tilde names, level by level")
            << QStringList{"D/a.xml", "D/b.txt", "D/~c.xml", "D/sub/d.json"} << QStringList{"D"} << all
            << QStringList{"D/a.xml", "D/b.txt", "D/sub/d.json"} << Qt::CopyAction;
        QTest::newRow("two folders, each file once")
            << QStringList{"A/a.xml", "A/sub/s.txt", "B/b.xml"} << QStringList{"A", "B"} << all
            << QStringList{"A/a.xml", "A/sub/s.txt", "B/b.xml"} << Qt::CopyAction;
        QTest::newRow("tilde file dropped directly") << QStringList{"~notes.xml"} << QStringList{"~notes.xml"} << all
                                                     << QStringList{"~notes.xml"} << Qt::CopyAction;
        QTest::newRow("hidden folder as one item")
            << QStringList{".hid/x.xml"} << QStringList{".hid"} << all << QStringList{".hid"} << Qt::CopyAction;
        QTest::newRow("files and folders in the order dragged")
            << QStringList{"f.xml", "D/a.xml", "g.txt"} << QStringList{"f.xml", "D", "g.txt"} << all
            << QStringList{"f.xml", "D/a.xml", "g.txt"} << Qt::CopyAction;
        QTest::newRow("folder with a trailing separator")
            << QStringList{"D/a.xml"} << QStringList{"D/"} << all << QStringList{"D/a.xml"} << Qt::CopyAction;
        QTest::newRow("path that is gone")
            << QStringList{} << QStringList{"gone.xml"} << all << QStringList{"gone.xml"} << Qt::CopyAction;
        QTest::newRow("link cycle inside a folder") << QStringList{"L/x.xml", "L/in/up -> L"} << QStringList{"L"} << all
                                                    << QStringList{"L/x.xml"} << Qt::CopyAction;
        QTest::newRow("a link where no copy is offered")
            << QStringList{"a.xml"} << QStringList{"a.xml"} << Qt::DropActions(Qt::MoveAction | Qt::LinkAction)
            << QStringList{"a.xml"} << Qt::LinkAction;
    }

    void dropsAppendAtTheEnd() {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, dropped);
        QFETCH(Qt::DropActions, offered);
        QFETCH(QStringList, expected);
        QFETCH(Qt::DropAction, action);
        makeTree(entries);
        list()->appendItem("/already.xml");
        list()->appendItem("/second.xml");
        QMimeData data;
        data.setUrls(fileUrls(dropped));

        // Dropped over the first row: the position does not matter.
        const QList<Qt::DropAction> answers = dragAndDrop(data, offered, rowPoint(0));

        QCOMPARE(answers, (QList<Qt::DropAction>{action, action, action}));
        QTRY_COMPARE(list()->itemTexts(), QStringList({"/already.xml", "/second.xml"}) + paths(expected));
        QCOMPARE(m_pointers->changes, QList<Qt::CursorShape>{}); // a drop leaves the pointer alone
    }

    void dragsWithoutLocalFilesAreRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Qt::DropActions>("offered");
        const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        QTest::newRow("text from an editor") << "text" << all;
        QTest::newRow("web link") << "web" << all;
        QTest::newRow("file and web link together") << "mixed" << all;
        QTest::newRow("empty file list") << "empty" << all;
        QTest::newRow("files offered only as a move") << "file" << Qt::DropActions(Qt::MoveAction);
    }

    void dragsWithoutLocalFilesAreRefused() {
        QFETCH(QString, kind);
        QFETCH(Qt::DropActions, offered);
        makeTree({"a.xml"});
        list()->appendItem("/already.xml");
        QMimeData data;
        const QUrl file = QUrl::fromLocalFile(path("a.xml"));
        const QUrl web(QStringLiteral("http://www.tavrino.example/a.xml"));
        if (kind == "text")
            data.setText(path("a.xml"));
        else if (kind == "web")
            data.setUrls({web});
        else if (kind == "mixed")
            data.setUrls({file, web});
        else if (kind == "empty")
            data.setUrls({});
        else
            data.setUrls({file});

        const QList<Qt::DropAction> answers = dragAndDrop(data, offered, rowPoint(0));

        QCOMPARE(answers, QList<Qt::DropAction>{Qt::IgnoreAction});
        QCoreApplication::processEvents();
        QCOMPARE(list()->itemTexts(), QStringList{"/already.xml"});
    }

    // --- the window during a walk ---

    // The walk runs beside the window: while it does, what would change the list is disabled and "Start Joining"
    // is "Stop"; afterwards all is as before.
    void commandsAreDisabledDuringAWalk_data() { startedBy_data(); }

    void commandsAreDisabledDuringAWalk() {
        QFETCH(bool, byDrop);
        makeTree({"R/a.xml", "R/S1/T/x.xml", "R/S2/y.xml"});
        QStringList during;
        onFirstAppend([&] { during = commandStates(); });

        walkR(byDrop);

        QCOMPARE(during, (QStringList{"Stop", "addFilesButton off", "addFolderButton off", "clearListButton off",
                                      "m2 off", "m3 off", "m6 off", "checkFilesAction off", "m14 off", "list off"}));
        QCOMPARE(commandStates(),
                 (QStringList{"Start Joining", "addFilesButton on", "addFolderButton on", "clearListButton on", "m2 on",
                              "m3 on", "m6 on", "checkFilesAction on", "m14 on", "list on"}));
        QCOMPARE(list()->itemTexts(), paths({"R/a.xml", "R/S2/y.xml", "R/S1/T/x.xml"}));
    }

    // A drop while a walk fills the list is refused, as the pointer shows; the walk goes on alone.
    void dropDuringAWalkIsRefused() {
        makeTree({"R/a.xml", "R/S1/T/x.xml", "R/S2/y.xml", "Q/q.txt"});
        QMimeData data;
        data.setUrls(fileUrls({"Q"}));
        QList<Qt::DropAction> answers;
        // Qt itself refuses a drag over a disabled widget: the events must not start out accepted here.
        onFirstAppend([&] { answers = dragAndDrop(data, Qt::CopyAction, rowPoint(0), false); });

        walkR(false);

        QCOMPARE(answers, QList<Qt::DropAction>{Qt::IgnoreAction});
        QCOMPARE(list()->itemTexts(), paths({"R/a.xml", "R/S2/y.xml", "R/S1/T/x.xml"}));
        QCOMPARE(m_pointers->changes, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor}));
    }

    // Closing the window ends the program: the walk stops, and what it found stays.
    void closingTheWindowStopsAWalk_data() { startedBy_data(); }

    void closingTheWindowStopsAWalk() {
        QFETCH(bool, byDrop);
        makeTree({"R/a.xml", "R/S1/T/x.xml", "R/S2/y.xml"});
        onFirstAppend([this] { QVERIFY(m_window->close()); });

        walkR(byDrop);

        QVERIFY(!m_window->isVisible());
        QCOMPARE(list()->itemTexts(), QStringList{path("R/a.xml")});
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    // Stop, by its button or by Escape, ends a walk of a large tree at once: nothing more is appended, the window
    // is idle again, and no box or status says anything.
    void stopEndsAWalkOfALargeTree_data() {
        QTest::addColumn<bool>("byDrop");
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Add Folder, Stop button") << false << false;
        QTest::newRow("Add Folder, Escape") << false << true;
        QTest::newRow("drop, Stop button") << true << false;
        QTest::newRow("drop, Escape") << true << true;
    }

    void stopEndsAWalkOfALargeTree() {
        QFETCH(bool, byDrop);
        QFETCH(bool, byEscape);
        onFirstAppend([&] {
            if (byEscape) {
                // The window is the active one again once the chooser has gone, as on a desktop.
                QApplication::setActiveWindow(m_window.get());
                QTest::keyClick(m_window.get(), Qt::Key_Escape);
            } else
                clickToolButton(m_window.get(), toolbar::startJoiningButton);
        });
        QElapsedTimer walking;
        walking.start();

        walkR(byDrop, m_large.path());

        QVERIFY2(walking.elapsed() < 2000, qPrintable(QString::number(walking.elapsed())));
        QCOMPARE(list()->itemTexts(), QStringList{m_large.filePath("a.xml")});
        QTest::qWait(50);
        QCOMPARE(list()->itemCount(), 1);
        QCOMPARE(commandStates().first(), QStringLiteral("Start Joining"));
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!QApplication::activeModalWidget());
    }

    // A walk of a large tree leaves the window painting and its timers running; every file arrives once, in order.
    void windowPaintsWhileALargeWalkRuns() {
        const QStringList expected = largeTreeFiles();
        QTimer tick;
        int ticks = 0;
        connect(&tick, &QTimer::timeout, this, [&] {
            ticks += m_window->isBusy();
            list()->viewport()->update();
        });
        tick.start(5);

        walkR(false, m_large.path());

        QCOMPARE(list()->itemTexts(), expected);
        QVERIFY(ticks > 0);
        QVERIFY(m_pointers->busyPaints > 0);
    }

private:
    FileListView* list() const { return &m_window->fileList(); }
    QString path(const QString& name) const { return m_folders.filePath(name); }

    QStringList paths(const QStringList& names) const {
        QStringList result;
        for (const QString& name : names)
            result << path(name);
        return result;
    }

    QList<QUrl> fileUrls(const QStringList& names) const {
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << QUrl::fromLocalFile(path(name));
        return urls;
    }

    // Entries relative to the temporary folder: "dir/" makes a folder, "name -> target" a symbolic link to target,
    // anything else a small file.
    void makeTree(const QStringList& entries) {
        for (const QString& entry : entries) {
            const QStringList link = entry.split(" -> ");
            if (link.size() == 2) {
                QVERIFY(QDir().mkpath(QFileInfo(path(link.first())).path()));
                QVERIFY(QFile::link(path(link.last()), path(link.first())));
            } else if (entry.endsWith('/')) {
                QVERIFY(QDir().mkpath(path(entry)));
            } else {
                writeFile(path(entry), "<r/>");
            }
        }
    }

    QPoint rowPoint(int row) const { return ::rowPoint(*list(), row); }

    // A drag over the list and its drop, as the file manager sends them; returns the action the list answered to
    // the enter, the move and the drop (none where it refused the event). Once the enter is refused, Qt sends the
    // list neither moves nor the drop.
    QList<Qt::DropAction> dragAndDrop(const QMimeData& data, Qt::DropActions offered, QPoint at,
                                      bool startAccepted = true) {
        QWidget* target = list()->viewport();
        QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
        QList<Qt::DropAction> answers;
        for (QDropEvent* event : std::initializer_list<QDropEvent*>{&enter, &move, &drop}) {
            event->setAccepted(startAccepted); // the list must say no itself
            QApplication::sendEvent(target, event);
            answers << (event->isAccepted() ? event->dropAction() : Qt::IgnoreAction);
            if (!event->isAccepted())
                break;
        }
        return answers;
    }

    static void startedBy_data() {
        QTest::addColumn<bool>("byDrop");
        QTest::newRow("Add Folder") << false;
        QTest::newRow("drop") << true;
    }

    // Walks \a folder (R when not given) by Add Folder or by a drop and returns when the walk is over.
    void walkR(bool byDrop, const QString& folder = {}) {
        const QString walked = folder.isEmpty() ? path("R") : folder;
        if (byDrop) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(walked)});
            dragAndDrop(data, Qt::CopyAction, rowPoint(0));
        } else {
            ModalAnswerer answerer;
            answerer.handleFileDialog([&](QFileDialog* dialog) {
                typeFileNames(dialog, QFileInfo(walked).path(), {QFileInfo(walked).fileName()});
                QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
            });
            clickToolButton(m_window.get(), toolbar::addFolderButton);
            QVERIFY(answerer.allAnswered());
        }
        QVERIFY(QTest::qWaitFor([this] { return !m_window->isBusy(); }, 60000));
    }

    // Runs \a action as the first files the walk found are appended, while the walk is still under way.
    void onFirstAppend(std::function<void()> action) {
        connect(list()->model(), &QAbstractItemModel::rowsInserted, this, [this, action = std::move(action)] {
            if (!std::exchange(m_firstAppendSeen, true))
                action();
        });
    }

    // A folder with a.xml on top and, below it, enough folders that walking them takes a good while; its files in
    // the walk's order: level by level, natural order, grouped by parent (the t folders hold no files).
    QStringList largeTreeFiles() const {
        QStringList files{m_large.filePath("a.xml")};
        for (int top = 0; top < 30; ++top)
            for (int below = 0; below < 40; ++below)
                files << m_large.filePath(QStringLiteral("t%1/b%2/f.xml").arg(top).arg(below));
        return files;
    }

    // The Stop/Start caption, then each command's and the list's state.
    QStringList commandStates() const {
        QStringList states{m_window->findChild<QAction*>(menu::startJoining)->text()};
        for (const char* button : {toolbar::addFilesButton, toolbar::addFolderButton, toolbar::clearListButton})
            states << QString(button) + (m_window->findChild<QWidget*>(button)->isEnabled() ? " on" : " off");
        for (const char* item : {menu::addFiles, menu::addFolder, menu::clearAll, menu::checkFiles, menu::loadSamples})
            states << QString(item) + (m_window->findChild<QAction*>(item)->isEnabled() ? " on" : " off");
        states << (list()->isEnabled() ? "list on" : "list off");
        return states;
    }

    void chooseFolder(QFileDialog* dialog, const QString& name) {
        typeFileNames(dialog, m_folders.path(), {name});
        QTest::keyClick(fileNameEdit(dialog), Qt::Key_Return);
    }

    TestFolders m_folders{TestFolders::Temp::Unchanged};
    QTemporaryDir m_large;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<PointerLog> m_pointers;
    bool m_firstAppendSeen = false;
};

QTEST_MAIN(TestFolderDrop)
#include "tst_folderdrop.moc"
