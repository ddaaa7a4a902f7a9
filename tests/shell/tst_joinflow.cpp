// A join driven from the main window through to the results window and back, with both real windows.
#include "engine/files/workingfolder.h"
#include "engine/xml/xmldocument.h"
#include "filelist/filelistview.h"
#include "results/resultsview.h"
#include "results/resultswindow.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "shell/tabcontrol.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/eventcounter.h"
#include "tests/support/modalhelper.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDirIterator>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <memory>
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace corvanta;

namespace {

QStringList storedGeometry() {
    QStringList keys;
    for (const char* key : {"Left", "Top", "Width", "Height"})
        if (programSettings().contains(QLatin1String(key)))
            keys << QLatin1String(key);
    return keys;
}

ResultsWindow* resultsWindow() {
    const QList<ResultsWindow*> found = resultsWindows();
    return found.size() == 1 ? found.first() : nullptr;
}

// Notes, as the two windows are shown and hidden, what the other window and the working folder look like then.
class HandOffWatch : public QObject {
public:
    HandOffWatch(QWidget* mainWindow, QString tempRoot)
        : m_mainWindow(mainWindow)
        , m_tempRoot(std::move(tempRoot)) {}

    QStringList notes;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* shown = qobject_cast<ResultsWindow*>(watched);
        if (shown && event->type() == QEvent::Show)
            notes << QStringLiteral("Form2 shown; text %1; working file %2; Form1 %3")
                         .arg(shown->resultsText(), workingFileThere() ? u"there"_qs : u"gone"_qs,
                              visibility(m_mainWindow));
        else if (watched == m_mainWindow && event->type() == QEvent::Hide)
            notes << QStringLiteral("Form1 hidden; Form2 %1").arg(visibility(resultsWindow()));
        return false;
    }

private:
    static QString visibility(const QWidget* window) {
        return window && window->isVisible() ? u"visible"_qs : u"hidden"_qs;
    }

    bool workingFileThere() const {
        QDirIterator files(m_tempRoot, {u"temp.xml"_qs}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        return files.hasNext();
    }

    QWidget* m_mainWindow;
    QString m_tempRoot;
};

// Runs the application's event loop until the program ends, with \a action started from inside it. Returns the
// loop's exit code, or 99 when the program did not end.
int runProgramUntilItEnds(const std::function<void()>& action) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    QTimer::singleShot(0, qApp, action);
    return QApplication::exec();
}

} // namespace

class TestJoinFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() { startOnFirstRun(m_folders, m_window); }

    void cleanup() {
        m_window.reset();
        QVERIFY(resultsWindows().isEmpty()); // the results window goes with the main window
    }

    void joinShowsTheResultsAndHidesTheMainWindow_data() {
        QTest::addColumn<bool>("append");
        QTest::addColumn<QList<QByteArray>>("inputs");
        QTest::addColumn<QString>("joined");
        QTest::newRow("Append keeps every byte and line break")
            << true << QList<QByteArray>{"<a>caf\xc3\xa9</a>\r\n", "<b>\xe2\x82\xac</b>", "\n<c/>\n"}
            << QStringLiteral("<a>caf\u00e9</a>\r\n<b>\u20ac</b>\n<c/>\n");
        QTest::newRow("Merge shares second-level nodes")
            << false << QList<QByteArray>{"<r><x><a>1</a></x><y/></r>", "<r><x><b>2</b><a>3</a></x><y><c/></y></r>"}
            << QStringLiteral("<r><x><a>1</a><b>2</b></x><y><c/></y></r>");
        QTest::newRow("Append of an empty file shows its placeholder")
            << true << QList<QByteArray>{""} << QStringLiteral("empty file");
    }

    void joinShowsTheResultsAndHidesTheMainWindow() {
        QFETCH(bool, append);
        QFETCH(QList<QByteArray>, inputs);
        QFETCH(QString, joined);
        fillList(inputs);
        chooseMode(append);
        QVERIFY(resultsWindows().isEmpty()); // loaded by the first hand-off, not before

        clickStartJoiningAndWait(m_window.get());

        ResultsWindow* results = resultsWindow();
        QVERIFY(results);
        QVERIFY(QTest::qWaitForWindowExposed(results));
        QVERIFY(!m_window->isVisible());
        QVERIFY(!results->parentWidget());
        compareJoined(results->resultsText(), joined, append);
        QCOMPARE(resultsView(results)->firstVisibleRow(), 0);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(workingFolderEntries(), QStringList());
    }

    // The working file is read and deleted before the results window shows, and the main window is hidden only
    // once the results window is on screen, so there is never a moment without a window.
    void handOffRunsInItsOrder() {
        fillList({"<a/>"});
        chooseMode(true);
        HandOffWatch watch(m_window.get(), m_folders.tempPath());
        qApp->installEventFilter(&watch);

        clickStartJoiningAndWait(m_window.get());
        qApp->removeEventFilter(&watch);

        QCOMPARE(watch.notes, (QStringList{u"Form2 shown; text <a/>; working file gone; Form1 visible"_qs,
                                           u"Form1 hidden; Form2 visible"_qs}));
    }

    void joinThatStopsLoadsNoResultsWindow_data() {
        QTest::addColumn<bool>("emptyList");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty list") << true << QStringLiteral("No files added.");
        QTest::newRow("no working file") << false << QStringLiteral("Join Fail.");
    }

    void joinThatStopsLoadsNoResultsWindow() {
        QFETCH(bool, emptyList);
        QFETCH(QString, message);
        if (!emptyList) {
            fillList({"<a/>"});
            chooseMode(true);
            qputenv("TEMP", QFile::encodeName(m_folders.filePath(u"no/such/folder"_qs)));
        }
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);
        if (!emptyList)
            answerer.answerMessage(QMessageBox::Ok); // the report of why there is no working folder comes first

        clickStartJoiningAndWait(m_window.get());

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts().size(), emptyList ? 1 : 2);
        QCOMPARE(answerer.texts().last(), message);
        QVERIFY(resultsWindows().isEmpty());
        QVERIFY(m_window->isVisible());
    }

    void backShowsTheSameListOptionsAndTab_data() {
        QTest::addColumn<int>("tab");
        QTest::newRow("joined from the Options tab") << 1;
        QTest::newRow("joined from the Files tab") << 0;
    }

    void backShowsTheSameListOptionsAndTab() {
        QFETCH(int, tab);
        const QStringList paths = fillList({"<a/>", "<b/>", "<c/>"});
        chooseMode(true);
        clickTab(m_window.get(), tab);
        const QRect geometry = m_window->geometry();

        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindow();
        QVERIFY(results && results->isVisible());
        clickToolButton(results, "backAction");

        QVERIFY(m_window->isVisible());
        QVERIFY(!results->isVisible());
        QCOMPARE(resultsWindow(), results); // hidden, not gone
        QCOMPARE(m_window->fileList().itemTexts(), paths);
        QVERIFY(radio("Option1")->isChecked());
        QVERIFY(!radio("Option2")->isChecked());
        QCOMPARE(tabControl(m_window.get())->currentIndex(), tab);
        QCOMPARE(m_window->geometry(), geometry);
        QCOMPARE(m_window->findChild<QProgressBar*>(u"ProgressBar1"_qs)->value(), 0);
        QCOMPARE(results->resultsText(), QStringLiteral("<a/><b/><c/>"));
    }

    void secondJoinReplacesTheText_data() {
        QTest::addColumn<bool>("append");
        QTest::addColumn<QList<QByteArray>>("inputs");
        QTest::addColumn<QString>("joined");
        QTest::newRow("Append again") << true << QList<QByteArray>{"<second/>"} << QStringLiteral("<second/>");
        QTest::newRow("then Merge") << false << QList<QByteArray>{"<r><x><a/></x></r>", "<r><x><b/></x></r>"}
                                    << QStringLiteral("<r><x><a/><b/></x></r>");
    }

    // The second join's text replaces the first one's whole, in the same window, which stays where it was moved.
    void secondJoinReplacesTheText() {
        QFETCH(bool, append);
        QFETCH(QList<QByteArray>, inputs);
        QFETCH(QString, joined);
        QByteArray longText;
        for (int line = 0; line < 2000; ++line)
            longText += "  <item n=\"" + QByteArray::number(line) + "\">" + QByteArray(150, 'x') + "</item>\n";
        fillList({longText});
        chooseMode(true);
        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindow();
        QVERIFY(results);
        resultsView(results)->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
        results->move(results->pos() + QPoint(17, 11));
        const QPoint moved = results->pos();
        clickToolButton(results, "backAction");

        clickToolButton(m_window.get(), toolbar::clearListButton);
        fillList(inputs);
        chooseMode(append);
        clickStartJoiningAndWait(m_window.get());

        QCOMPARE(resultsWindow(), results);
        QVERIFY(results->isVisible());
        QVERIFY(!m_window->isVisible());
        compareJoined(results->resultsText(), joined, append);
        QVERIFY(!results->resultsText().contains(u"item"_qs));
        QCOMPARE(resultsView(results)->firstVisibleRow(), 0);
        QCOMPARE(results->pos(), moved);
        QCOMPARE(workingFolderEntries(), QStringList());
    }

    void savingAfterARealJoinWritesTheJoinedText_data() {
        QTest::addColumn<bool>("append");
        QTest::addColumn<QList<QByteArray>>("inputs");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("Append, byte for byte")
            << true << QList<QByteArray>{"<?xml version=\"1.0\"?>\r\n<a>caf\xc3\xa9</a>\r\n", "<b>\xf0\x9f\x98\x80</b>"}
            << QByteArray("<?xml version=\"1.0\"?>\r\n<a>caf\xc3\xa9</a>\r\n<b>\xf0\x9f\x98\x80</b>");
        QTest::newRow("Merge") << false
                               << QList<QByteArray>{"<r><s><x>caf\xc3\xa9</x></s></r>",
                                                    "<r><s><y>\xf0\x9f\x98\x80</y></s></r>"}
                               << QByteArray("<r><s><x>caf\xc3\xa9</x><y>\xf0\x9f\x98\x80</y></s></r>");
    }

    void savingAfterARealJoinWritesTheJoinedText() {
        QFETCH(bool, append);
        QFETCH(QList<QByteArray>, inputs);
        QFETCH(QByteArray, saved);
        fillList(inputs);
        chooseMode(append);
        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindow();
        QVERIFY(results);
        const QString output = m_folders.filePath(u"joined.xml"_qs);
        ModalAnswerer answerer;
        answerer.handleFileDialog([output](QFileDialog* dialog) {
            fileNameEdit(dialog)->setText(output);
            static_cast<QDialog*>(dialog)->accept();
        });
        answerer.answerMessage(QMessageBox::Ok);

        clickToolButton(results, "saveResultsAction");

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{u"Done."_qs});
        if (append)
            QCOMPARE(readFile(output), saved);
        else
            QCOMPARE(canonicalXml(readFile(output)), canonicalXml(saved));
        QVERIFY(results->isVisible());
    }

    void clipboardHoldsTheJoinedText() {
        fillList({"<a>\tcaf\xc3\xa9</a>\r\n", "<b/>"});
        chooseMode(true);
        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindow();
        QVERIFY(results);
        QGuiApplication::clipboard()->clear();
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickToolButton(results, "saveClipboardAction");

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.texts(), QStringList{u"Results have been copied to the clipboard.\n\nClick a text area where "
                                               "you normally type and press Ctrl+V to paste the clipboard."_qs});
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("<a>\tcaf\u00e9</a>\r\n<b/>"));
    }

    // Closing the results window ends the program; the main window's close procedure does not run, so its geometry
    // is not stored, neither then nor when the windows are destroyed.
    void closingTheResultsWindowEndsTheProgramWithoutStoringGeometry() {
        fillList({"<a/>"});
        chooseMode(true);
        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindow();
        QVERIFY(results);
        EventCounter mainCloses(QEvent::Close);
        m_window->installEventFilter(&mainCloses);

        const int exitCode = runProgramUntilItEnds([results] { results->close(); });

        QCOMPARE(exitCode, 0);
        QVERIFY(!results->isVisible());
        QVERIFY(!m_window->isVisible());
        QCOMPARE(mainCloses.count, 0);
        m_window.reset();
        QCOMPARE(storedGeometry(), QStringList());
    }

    void closingTheMainWindowEndsTheProgramWithTheResultsWindow_data() {
        QTest::addColumn<bool>("byExitItem");
        QTest::newRow("title bar") << false;
        QTest::newRow("Exit") << true;
    }

    void closingTheMainWindowEndsTheProgramWithTheResultsWindow() {
        QFETCH(bool, byExitItem);
        fillList({"<a/>"});
        chooseMode(true);
        clickStartJoiningAndWait(m_window.get());
        ResultsWindow* results = resultsWindow();
        QVERIFY(results);
        clickToolButton(results, "backAction");
        EventCounter resultsCloses(QEvent::Close);
        results->installEventFilter(&resultsCloses);

        const int exitCode = runProgramUntilItEnds([this, byExitItem] {
            if (byExitItem)
                chooseMenuItem(m_window.get(), menu::file, menu::exit);
            else
                m_window->close();
        });

        QCOMPARE(exitCode, 0);
        QVERIFY(!m_window->isVisible());
        QVERIFY(!results->isVisible());
        QCOMPARE(resultsCloses.count, 0);
        QCOMPARE(storedGeometry(), (QStringList{u"Left"_qs, u"Top"_qs, u"Width"_qs, u"Height"_qs}));
    }

    // Told to quit (as a session that ends tells it) while a join shows a report: the join ends at once and its
    // working folder goes with it.
    void quittingDuringAJoinRemovesItsWorkingFolder() {
        fillListWithAnInputThatIsReported();
        chooseMode(true);
        QString during;

        const int exitCode = runProgramUntilItEnds([&] {
            joinAnsweringEveryBox([&] {
                during = workingFolderHoldsAWorkingFile();
                QCoreApplication::quit();
            });
        });

        QCOMPARE(exitCode, 0);
        QCOMPARE(during, u"working file there"_qs);
        QCOMPARE(workingFolderEntries(), QStringList());
    }

#ifdef Q_OS_UNIX
    // Ended by a signal (a session's SIGHUP or SIGTERM, a kill) while a join runs: a copy of this very process,
    // caught in the middle of the join, is ended by SIGTERM and must leave no working folder behind.
    void terminationSignalDuringAJoinRemovesItsWorkingFolder() {
#if defined(__SANITIZE_THREAD__)
        QSKIP("ThreadSanitizer delivers signals itself");
#endif
        removeWorkingFoldersOnTermination(); // as main() does
        fillListWithAnInputThatIsReported();
        chooseMode(true);
        int status = 0;
        QString during;

        const QStringList seen = joinAnsweringEveryBox([&] {
            during = workingFolderHoldsAWorkingFile();
            const pid_t copy = ::fork();
            if (copy == 0) {
                ::raise(SIGTERM);
                ::_exit(0);
            }
            ::waitpid(copy, &status, 0);
        });

        QCOMPARE(during, u"working file there"_qs);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        QCOMPARE(workingFolderEntries(), QStringList());
        QCOMPARE(seen.last(), u"Join Fail."_qs); // this process's working file went with the copy's end
    }
#endif

    void wrappedAppendOfTheSamplesMatchesTheCommandLine() {
#if defined(__SANITIZE_THREAD__)
        QSKIP("QProcess starts its child in a way that ThreadSanitizer takes for a fork of this process");
#endif
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::No); // the samples' folder is not opened
        chooseMenuItem(m_window.get(), menu::help, menu::loadSamples);
        QVERIFY(answerer.allAnswered());
        const QStringList samples = m_window->fileList().itemTexts();
        QVERIFY(samples.size() >= 2);
        chooseMode(true);
        QTest::mouseClick(m_window->findChild<QCheckBox*>(u"wrapCheckBox"_qs), Qt::LeftButton);

        clickStartJoiningAndWait(m_window.get());

        ResultsWindow* results = resultsWindow();
        QVERIFY(results && results->isVisible());
        const QByteArray shown = results->resultsText().toUtf8();
        QProcess join;
        join.start(QCoreApplication::applicationDirPath() + u"/corvanta-join"_qs,
                   QStringList{u"--append"_qs, u"--wrap"_qs, u"files"_qs} + samples);
        QVERIFY(join.waitForFinished(60000));
        QCOMPARE(join.exitCode(), 0);
        QCOMPARE(shown, join.readAllStandardOutput());
        // One document whose root holds the samples' roots in list order.
        const XmlDocument doc(xmlReadMemory(shown.constData(), int(shown.size()), nullptr, nullptr, XML_PARSE_NONET));
        const xmlNode* root = rootElement(doc.get());
        QVERIFY(root);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(root->name)), QByteArray("files"));
        int roots = 0;
        for (const xmlNode* child = root->children; child; child = child->next) {
            if (child->type != XML_ELEMENT_NODE)
                continue;
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(child->name)), QByteArray("teashop"));
            const XmlString updated(xmlGetProp(child, xmlChars("updated")));
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(updated.get())), sampleUpdated(samples.value(roots++)));
        }
        QCOMPARE(roots, samples.size());
    }

    void rootNameThatIsNoXmlNameIsToldAndNothingJoined() {
        fillList({"<a/>"});
        chooseMode(true);
        QTest::mouseClick(m_window->findChild<QCheckBox*>(u"wrapCheckBox"_qs), Qt::LeftButton);
        auto* name = m_window->findChild<QLineEdit*>(u"wrapRootEdit"_qs);
        name->setFocus();
        name->selectAll();
        QTest::keyClicks(name, u"my files"_qs);
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::Ok);

        clickToolButton(m_window.get(), toolbar::startJoiningButton);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        QCOMPARE(answerer.seen().first().icon, QMessageBox::Warning);
        QCOMPARE(answerer.seen().first().text,
                 u"\"my files\" cannot name the root element that wraps the appended files. Use an XML name without "
                 "a colon: letters, digits, '_', '-' and '.', beginning with a letter or '_'."_qs);
        QVERIFY(resultsWindows().isEmpty());
        QVERIFY(m_window->isVisible());
    }

private:
    // The "updated" attribute of a sample's root: it tells the samples apart.
    static QByteArray sampleUpdated(const QString& path) {
        const QByteArray text = readFile(path);
        const qsizetype at = text.indexOf("updated=\"") + 9;
        return text.mid(at, text.indexOf('"', at) - at);
    }

    // A readable input, then a named pipe: the join writes its working file and then stops on a report.
    void fillListWithAnInputThatIsReported() {
        fillList({"<a/>"});
#ifdef Q_OS_UNIX
        const QString pipe = m_folders.filePath(u"pipe.xml"_qs);
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        m_window->fileList().appendItem(pipe);
#else
        QVERIFY(QDir().mkpath(m_folders.filePath(u"folder.xml"_qs)));
        m_window->fileList().appendItem(m_folders.filePath(u"folder.xml"_qs));
#endif
    }

    QString workingFolderHoldsAWorkingFile() const {
        QDirIterator files(m_folders.tempPath(), {u"temp.xml"_qs}, QDir::Files, QDirIterator::Subdirectories);
        return files.hasNext() ? u"working file there"_qs : u"no working file"_qs;
    }

    // Starts Joining and waits for the join to end; \a atFirstBox runs when the first message box is up. Every box
    // is answered with a click on its OK button; returns their texts.
    QStringList joinAnsweringEveryBox(const std::function<void()>& atFirstBox) {
        QStringList texts;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || (!texts.isEmpty() && texts.last() == box->text()))
                return;
            texts << box->text();
            if (texts.size() == 1)
                atFirstBox();
            if (QApplication::activeModalWidget() == box)
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        poll.start();
        clickStartJoiningAndWait(m_window.get());
        return texts;
    }

    // Append passes the text through as it is; a Merge result is compared as XML.
    static void compareJoined(const QString& actual, const QString& expected, bool append) {
        if (append)
            QCOMPARE(actual, expected);
        else
            QCOMPARE(canonicalXml(actual.toUtf8()), canonicalXml(expected.toUtf8()));
    }

    // Writes one input file per text and puts the files on the list in that order.
    QStringList fillList(const QList<QByteArray>& texts) {
        QStringList paths;
        for (const QByteArray& text : texts) {
            const QString path = m_folders.filePath(QStringLiteral("input%1.xml").arg(++m_inputCount));
            writeFile(path, text);
            m_window->fileList().appendItem(path);
            paths << path;
        }
        return paths;
    }

    void chooseMode(bool append) {
        clickTab(m_window.get(), 1);
        QTest::mouseClick(radio(append ? "Option1" : "Option2"), Qt::LeftButton);
        QVERIFY(radio(append ? "Option1" : "Option2")->isChecked());
    }

    QRadioButton* radio(const char* name) const {
        return optionButton(m_window.get(), name);
    }

    static ResultsView* resultsView(ResultsWindow* results) {
        return results->findChild<ResultsView*>(u"Text2"_qs);
    }

    QStringList workingFolderEntries() const {
        return m_folders.tempEntries();
    }

    TestFolders m_folders;
    std::unique_ptr<MainWindow> m_window;
    int m_inputCount = 0;
};

QTEST_MAIN(TestJoinFlow)
#include "tst_joinflow.moc"
