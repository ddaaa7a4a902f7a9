#include "engine/buildconfig.h"
#include "engine/join/joincommand.h"
#include "filelist/filelistview.h"
#include "shell/helplinks.h"
#include "shell/mainwindow.h"
#include "shell/menunames.h"
#include "tests/shell/windowdriver.h"
#include "tests/support/modalhelper.h"
#include "tests/support/recordinghost.h"
#include "tests/support/recordingshell.h"
#include "tests/support/testfiles.h"

#include <QApplication>
#include <QDir>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace corvanta;

namespace {

const QString helpHintShown = QStringLiteral(
    "To use this software, XML files must be in error-free format. The best way to check for this is to open the XML "
    "file you are working with in Internet Explorer.\n\nWould you like to see an example of a bad XML file as seen in "
    "Internet Explorer?");

const QString samplesQuestion =
    QStringLiteral("Would you like this software to open the folder where these sample "
                   "files are stored (so that you can view them before working with them)?");

void checkYesNoBox(const SeenBox& box, const QString& text) {
    QCOMPARE(box.title, QStringLiteral("Corvanta"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::Yes);
}

} // namespace

class TestHelpLinks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Every program folder here has spaces in its path.
    void init() {
        clearProgramSettings();
        m_temp = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/corvanta help XXXXXX"));
        QVERIFY(m_temp->isValid());
        m_programFolder = m_temp->filePath(QStringLiteral("program folder"));
        QVERIFY(QDir().mkpath(m_programFolder));
        m_shell = std::make_shared<RecordingShell>();
        qputenv("TEMP", m_temp->path().toLocal8Bit());
    }

    void cleanup() {
        m_window.reset();
        qApp->setStyleSheet(QString());
    }

    // --- Help ---

    void helpOpensThePictureOnlyOnYes_data() {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("opens");
        QTest::newRow("menu, Yes") << true << QMessageBox::Yes << true;
        QTest::newRow("menu, No") << true << QMessageBox::No << false;
        QTest::newRow("Help command, Yes") << false << QMessageBox::Yes << true;
        QTest::newRow("Help command, No") << false << QMessageBox::No << false;
    }

    void helpOpensThePictureOnlyOnYes() {
        QFETCH(bool, fromMenu);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, opens);
        openWindow();
        ModalAnswerer answerer;
        answerer.answerMessage(answer);

        if (fromMenu)
            chooseHelpItem(menu::helpHint);
        else
            m_window->showHelp();

        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.seen().size(), 1);
        checkYesNoBox(answerer.seen().at(0), helpHintShown);
        QCOMPARE(m_shell->opened, opens ? QStringList{m_programFolder + "/badxml.jpg"} : QStringList());
    }

    // --- Load Sample/Example Files ---

    void samplesAreAppendedThenTheFolderOpensOnYes_data() {
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("opens");
        QTest::newRow("Yes") << QMessageBox::Yes << true;
        QTest::newRow("No") << QMessageBox::No << false;
    }

    // Every file directly in Samples, whatever its type, hidden ones too, in the file manager's natural order;
    // subfolders are not entered.
    void samplesAreAppendedThenTheFolderOpensOnYes() {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, opens);
        for (const char* name :
             {"b tea.xml", "tea10.xml", "a.xml", "Tea9.xml", "notes.txt", ".hidden.xml", "sub/c.xml"})
            writeFile(samples(name), "<teashop/>");
        openWindow();
        list()->appendItem(QStringLiteral("/first.xml"));
        ModalAnswerer answerer;
        answerer.answerMessage(answer);

        chooseHelpItem(menu::loadSamples);

        QVERIFY(answerer.allAnswered());
        checkYesNoBox(answerer.seen().at(0), samplesQuestion);
        QCOMPARE(list()->itemTexts(),
                 (QStringList{"/first.xml", samples(".hidden.xml"), samples("a.xml"), samples("b tea.xml"),
                              samples("notes.txt"), samples("Tea9.xml"), samples("tea10.xml")}));
        QCOMPARE(m_shell->opened, opens ? QStringList{m_programFolder + "/Samples/"} : QStringList());
    }

    void loadingTheSamplesTwiceListsThemTwice() {
        writeFile(samples("a.xml"), "<a/>");
        writeFile(samples("b.xml"), "<b/>");
        openWindow();
        ModalAnswerer answerer;
        answerer.answerMessage(QMessageBox::No);
        answerer.answerMessage(QMessageBox::No);

        chooseHelpItem(menu::loadSamples);
        chooseHelpItem(menu::loadSamples);

        QVERIFY(answerer.allAnswered());
        QCOMPARE(list()->itemTexts(),
                 (QStringList{samples("a.xml"), samples("b.xml"), samples("a.xml"), samples("b.xml")}));
        QVERIFY(m_shell->opened.isEmpty());
    }

    void missingSamplesFolderAddsNothingAndStillAsks_data() { samplesAreAppendedThenTheFolderOpensOnYes_data(); }

    void missingSamplesFolderAddsNothingAndStillAsks() {
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, opens);
        openWindow();
        ModalAnswerer answerer;
        answerer.answerMessage(answer);

        chooseHelpItem(menu::loadSamples);

        QVERIFY(answerer.allAnswered());
        checkYesNoBox(answerer.seen().at(0), samplesQuestion);
        QCOMPARE(list()->topLevelItemCount(), 0);
        QCOMPARE(m_shell->opened, opens ? QStringList{m_programFolder + "/Samples/"} : QStringList());
    }

    // The samples that come with the program, in the build's program folder, merge without a message.
    void bundledSamplesMergeIntoTheFirst() {
        const QStringList paths = samplePaths(QCoreApplication::applicationDirPath());
        QCOMPARE(paths.size(), 4);
        RecordingHost host(paths, false);

        corvanta::joinFiles(host);

        QCOMPARE(host.messages(), QStringList());
        QVERIFY(host.handedOff());
        QCOMPARE(host.resultsText.count(QStringLiteral("<sencha ")), 1);
        QVERIFY(host.resultsText.contains(QStringLiteral("price=\"7.90\"")));
        for (const char* added : {"<matcha ", "玄米茶", "<s:oolong"})
            QVERIFY2(host.resultsText.contains(QString::fromUtf8(added)), added);
    }

    // --- Watch Old Demo Video, FAQ, Visit Tavrino Main Page ---

    void demoVideoIsTheFirstOrdinaryFileElseTheFolder_data() {
        QTest::addColumn<bool>("makeFolder");
        QTest::addColumn<QStringList>("entries"); // names ending in "/" are folders
        QTest::addColumn<QString>("opened");      // relative to Video/
        QTest::newRow("two videos: the first listed")
            << true << QStringList{"b demo.webm", "a demo.webm"} << "a demo.webm";
        QTest::newRow("hidden files and folders do not count")
            << true << QStringList{".a.webm", "aa/", "z.webm"} << "z.webm";
        QTest::newRow("only a hidden file and a folder") << true << QStringList{".a.webm", "aa/"} << "";
        QTest::newRow("empty folder") << true << QStringList() << "";
        QTest::newRow("missing folder") << false << QStringList() << "";
    }

    void demoVideoIsTheFirstOrdinaryFileElseTheFolder() {
        QFETCH(bool, makeFolder);
        QFETCH(QStringList, entries);
        QFETCH(QString, opened);
        const QString video = m_programFolder + QStringLiteral("/Video/");
        if (makeFolder)
            QVERIFY(QDir().mkpath(video));
        for (const QString& entry : entries) {
            if (entry.endsWith(u'/'))
                QVERIFY(QDir().mkpath(video + entry));
            else
                writeFile(video + entry, "video");
        }
        openWindow();

        chooseHelpItem(menu::demoVideo);

        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(m_shell->opened, QStringList{video + opened});
    }

    void webPagesOpenOverHttp_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("page");
        QTest::newRow("FAQ") << menu::faq << QStringLiteral(CORVANTA_SITE "/question/");
        QTest::newRow("Visit Tavrino Main Page") << menu::mainPage << QStringLiteral(CORVANTA_SITE "/");
    }

    void webPagesOpenOverHttp() {
        QFETCH(QString, item);
        QFETCH(QString, page);
        openWindow();

        chooseHelpItem(qPrintable(item));

        QCOMPARE(m_shell->opened, QStringList{page});
        QCOMPARE(shellUrl(page).scheme(), QStringLiteral("http"));
    }

    // What the desktop receives: local targets as whole file paths, pages unchanged.
    void shellReceivesWholeTargets_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("local");
        QTest::newRow("file with spaces") << "/tmp/corvanta help/program folder/badxml.jpg" << true;
        QTest::newRow("folder with its separator") << "/tmp/program folder/Samples/" << true;
        QTest::newRow("hash and percent") << "/tmp/a#1 50%20/demo.webm" << true;
        QTest::newRow("web page") << "http://www.tavrino.example/question/" << false;
    }

    void shellReceivesWholeTargets() {
        QFETCH(QString, target);
        QFETCH(bool, local);
        const QUrl url = shellUrl(target);
        QVERIFY(url.isValid());
        QCOMPARE(url.isLocalFile(), local);
        QCOMPARE(local ? url.toLocalFile() : url.toString(), target);
    }

    // --- the start-up visit ---

    void startUpVisitsTheMainPageOnlyOnSeven_data() {
        QTest::addColumn<int>("number");
        for (int number : {1, 6, 7, 8, 100})
            QTest::addRow("%d", number) << number;
    }

    void startUpVisitsTheMainPageOnlyOnSeven() {
        QFETCH(int, number);
        auto draw = std::make_shared<FixedDraw>(number);

        openWindow(draw);

        QCOMPARE(draw->draws, 1);
        QCOMPARE(m_shell->opened, number == 7 ? QStringList{CORVANTA_SITE "/"} : QStringList());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // Starts seeded as at different times of the day, each with its own generator.
    void manyStartsVisitAboutOnceInAHundredAndNeverTwice() {
        constexpr int starts = 10000;
        int visits = 0;
        for (int start = 0; start < starts; ++start) {
            RandomStartupDraw draw(quint32(start) * 8639u); // a start every 8.6 s over one day
            RecordingShell shell;
            maybeVisitMainPage(draw, shell);
            QVERIFY(shell.opened.size() <= 1);
            if (!shell.opened.isEmpty()) {
                QCOMPARE(shell.opened.at(0), mainPage());
                ++visits;
            }
        }
        // Expected 100, standard deviation about 10.
        QVERIFY2(visits >= 60 && visits <= 140, qPrintable(QString::number(visits)));
    }

    void drawsCoverOneToAHundredEvenly() {
        RandomStartupDraw draw(20240301u);
        QList<int> counts(101, 0);
        for (int i = 0; i < 100000; ++i) {
            const int number = draw.draw();
            QVERIFY2(number >= 1 && number <= 100, qPrintable(QString::number(number)));
            ++counts[number];
        }
        // Expected 1000 each, standard deviation about 31.
        for (int number = 1; number <= 100; ++number)
            QVERIFY2(counts[number] > 820 && counts[number] < 1180, qPrintable(QString::number(number)));
    }

    // --- the optional skin ---

    void skinIsAppliedAfterTheFaceColours() {
        const QByteArray sheet = "/* Hafen – a test skin */\nQMainWindow { background: #123456; }\n";
        writeFile(m_programFolder + "/x/o.cjs", sheet);

        openWindow();

        QCOMPARE(qApp->styleSheet(), QString::fromUtf8(sheet));
        // The option buttons, which the sheet leaves alone, keep the face colour.
        const QColor face = QApplication::palette().color(QPalette::Button);
        for (QWidget* widget : QList<QWidget*>{option("Option1"), option("Option2")}) {
            QVERIFY(widget->autoFillBackground());
            QCOMPARE(widget->palette().color(QPalette::Window), face);
        }
        // The window's background comes from the sheet, which was applied last.
        const QImage shot = m_window->grab().toImage();
        QCOMPARE(shot.pixelColor(shot.width() - 3, shot.height() - 3), QColor(0x12, 0x34, 0x56));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void skinIsSkippedSilentlyWhenNoFileIsThere_data() {
        QTest::addColumn<QString>("arrange");
        QTest::newRow("no x folder") << "";
        QTest::newRow("x folder without o.cjs") << "x/";
        QTest::newRow("o.cjs is a folder") << "x/o.cjs/";
        QTest::newRow("o.cjs is a broken link") << "link";
#ifdef Q_OS_UNIX
        QTest::newRow("o.cjs is a pipe") << "pipe";
#endif
    }

    void skinIsSkippedSilentlyWhenNoFileIsThere() {
        QFETCH(QString, arrange);
        const QString skin = m_programFolder + QStringLiteral("/x/o.cjs");
        if (arrange.endsWith(u'/'))
            QVERIFY(QDir().mkpath(m_programFolder + u'/' + arrange));
        if (arrange == QLatin1String("link") || arrange == QLatin1String("pipe"))
            QVERIFY(QDir().mkpath(m_programFolder + QStringLiteral("/x")));
        if (arrange == QLatin1String("link"))
            QVERIFY(QFile::link(m_programFolder + QStringLiteral("/gone.cjs"), skin));
#ifdef Q_OS_UNIX
        if (arrange == QLatin1String("pipe"))
            QCOMPARE(::mkfifo(QFile::encodeName(skin).constData(), 0600), 0);
#endif

        openWindow();

        QVERIFY(qApp->styleSheet().isEmpty());
        QVERIFY(!m_window->autoFillBackground());
        QVERIFY(!QApplication::activeModalWidget());
    }

private:
    void openWindow(std::shared_ptr<StartupDraw> draw = std::make_shared<FixedDraw>(1)) {
        openMainWindow(m_window, {.shell = m_shell, .startupDraw = std::move(draw), .programFolder = m_programFolder});
    }

    FileListView* list() const {
        return &m_window->fileList();
    }
    QRadioButton* option(const char* name) const {
        return optionButton(m_window.get(), name);
    }
    QString samples(const QString& name) const {
        return m_programFolder + QStringLiteral("/Samples/") + name;
    }

    void chooseHelpItem(const char* itemName) {
        chooseMenuItem(m_window.get(), menu::help, itemName);
    }

    std::unique_ptr<QTemporaryDir> m_temp;
    QString m_programFolder;
    std::shared_ptr<RecordingShell> m_shell;
    std::unique_ptr<MainWindow> m_window;
};

QTEST_MAIN(TestHelpLinks)
#include "tst_helplinks.moc"
