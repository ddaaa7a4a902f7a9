#include "engine/join/errorreport.h"
#include "engine/join/joincommand.h"
#include "engine/join/steprunner.h"
#include "engine/text/textfile.h"
#include "tests/support/recordinghost.h"
#include "tests/support/smallfilesystem.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <memory>
#include <new>
#include <stop_token>
#include <utility>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace corvanta;

namespace {} // namespace

class TestJoin : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void emptyListSaysNoFilesAdded() {
        for (bool append : {true, false}) {
            RecordingHost host({}, append);
            joinFiles(host);
            QCOMPARE(host.events, QStringList{"message:No files added."});
            QVERIFY(m_folders.tempEntries().isEmpty());
        }
    }

    void appendJoinsWholeTextsInListOrder() {
        const QString a = path("a.xml"), b = path("b.txt"), c = path("c.xml");
        writeFile(a, "<?xml version=\"1.0\"?>\n<r>1</r>\n");
        writeFile(b, "not xml at all \xc3\xa9");
        writeFile(c, "<?xml version=\"1.0\"?>\n<r>1</r>\n");

        RecordingHost host({a, b, c}, true);
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
        QCOMPARE(host.resultsText, QStringLiteral("<?xml version=\"1.0\"?>\n<r>1</r>\nnot xml at all \u00e9"
                                                  "<?xml version=\"1.0\"?>\n<r>1</r>\n"));
        QVERIFY(host.resultsShown && host.mainHidden);

        host.items = {c, b};
        joinFiles(host);
        QCOMPARE(host.resultsText, QStringLiteral("<?xml version=\"1.0\"?>\n<r>1</r>\nnot xml at all \u00e9"));
    }

    // Inputs one after another can make a start that declares an encoding none of them declares: the joined text is
    // this program's own UTF-8 and is read as such.
    void appendedTextsThatTogetherDeclareAnEncodingAreNotReadInIt() {
        const QString a = path("a.xml"), b = path("b.xml");
        writeFile(a, "<?xml version=\"1.0\" ");
        writeFile(b, "encoding=\"UTF-7\"?><r>+ADw-</r>");

        RecordingHost host({a, b}, true);
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
        QCOMPARE(host.resultsText, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-7\"?><r>+ADw-</r>"));
    }

    void appendReportsProgressAndPointerInOrder() {
        QStringList items;
        for (int i = 0; i < 4; ++i) {
            items << path(QStringLiteral("f%1.xml").arg(i));
            writeFile(items.last(), "x");
        }
        RecordingHost host(items, true);
        joinFiles(host);
        QCOMPARE(host.events, (QStringList{"busy", "progress 25", "progress 50", "progress 75", "progress 100", "idle",
                                           "progress 0", "text", "results", "hide"}));
        RecordingHost three({items[0], items[1], items[2]}, true);
        joinFiles(three);
        QCOMPARE(three.progress.front(), 100.0 / 3.0); // fractional, unrounded
    }

    // A missing input is told as an unreadable one is, and the join goes on with the next.
    void appendOfMissingEmptyAndUtf16Inputs() {
        const QString empty = path("empty.xml"), wide = path("wide.xml"), latin = path("latin.xml");
        writeFile(empty, "");
        writeFile(wide, QByteArray("\xff\xfe<\0r\0/\0>\0", 10));
        writeFile(latin, "caf\xe9");
        RecordingHost host({path("missing.xml"), empty, wide, latin}, true);
        joinFiles(host);
        const QStringList reports = host.reports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].startsWith(QStringLiteral("No such file or directory\r\nin Quorvel5/20/2014.Form1.Start at "
                                                     "line 118\r\r")));
        QVERIFY(reports[0].endsWith(QStringLiteral("\r\nfile1: ") + path("missing.xml")));
        QCOMPARE(host.resultsText, QStringLiteral("empty file\ufeff<r/>caf\u00e9"));
    }

    void appendOfUtf32Inputs() {
        const QString little = path("le.xml"), big = path("be.xml");
        writeFile(little, QByteArray("\xff\xfe\0\0<\0\0\0r\0\0\0>\0\0\0\xe9\0\0\0\x00\xf6\x01\0", 24));
        writeFile(big, QByteArray("\0\0\xfe\xff\0\0\0<\0\0\0/\0\0\0r\0\0\0>", 20));
        RecordingHost host({little, big}, true);
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
        QCOMPARE(host.resultsText, QStringLiteral("\ufeff<r>\u00e9\U0001F600\ufeff</r>"));
    }

    void appendStreamsInputsLargerThanABlock() {
        // Each input spans several blocks, with characters across the block boundaries.
        const QString utf8 = path("utf8.xml"), wide = path("wide.xml"), legacy = path("legacy.xml");
        writeFile(utf8, QByteArray("<a>caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80</a>\n").repeated(30000));
        writeFile(wide, QByteArray("\xff\xfe") + QByteArray("<\0\x3d\xd8\x00\xde\xe9\0>\0", 10).repeated(50000));
        writeFile(legacy, QByteArray("caf\xe9 \x80 ").repeated(60000));
        RecordingHost host({utf8, wide, legacy}, true);
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
        QVERIFY(host.resultsText ==
                decodeFileText(readFile(utf8)) + decodeFileText(readFile(wide)) + decodeFileText(readFile(legacy)));
    }

    void appendOfUnreadableInputReportsItAndGoesOn() {
        const QString folder = path("sub");
        QDir().mkpath(folder);
        const QString b = path("b.xml");
        writeFile(b, "<b/>");
        RecordingHost host({folder, b}, true);
        joinFiles(host);
        const QStringList reports = host.reports();
        QCOMPARE(reports.size(), 1);
        QVERIFY(reports[0].startsWith(QStringLiteral("Is a directory\r\n"))); // the path is on the file1 line only
        QVERIFY(reports[0].contains(QStringLiteral("\r\nin Quorvel5/20/2014.Form1.Start at line 118\r\r")));
        QVERIFY(reports[0].endsWith(QStringLiteral("\r\nfile1: ") + folder));
        QCOMPARE(host.resultsText, QStringLiteral("<b/>"));
    }

    // One report for the write that failed, with the system's reason; later inputs are still read (and reported
    // when they cannot be) but not written to a file known to be incomplete, which is never handed off.
    void appendToAFullWorkingFolderIsReportedAndNeverHandedOff() {
        const SmallFileSystem small(64);
        qputenv("TEMP", QFile::encodeName(small.path()));
        const QString a = path("a.xml"), b = path("b.xml"), c = path("c.xml"), folder = path("folder.xml");
        for (const QString& input : {a, b, c})
            writeFile(input, QByteArray(40 * qsizetype(1024), 'x'));
        QVERIFY(QDir().mkpath(folder));

        RecordingHost host({a, b, c, folder}, true);
        joinFiles(host);

        const QStringList reports = host.reports();
        QCOMPARE(reports.size(), 2);
        QVERIFY2(QRegularExpression(QStringLiteral("^%1/corvanta-\\w{6}/temp\\.xml: No space left on device\r\nin "
                                                   "Quorvel5/20/2014\\.Form1\\.Start at line 120\r\r")
                                        .arg(QRegularExpression::escape(small.path())))
                     .match(reports[0])
                     .hasMatch(),
                 qPrintable(reports[0]));
        QVERIFY(reports[0].endsWith("\r\nfile1: " + b));
        QVERIFY(reports[1].startsWith("Is a directory\r\nin Quorvel5/20/2014.Form1.Start at line 118"));
        QCOMPARE(host.messages().last(), QStringLiteral("warning:Join Fail."));
        QVERIFY(!host.resultsShown && !host.mainHidden);
        QCOMPARE(host.events.mid(host.events.size() - 3, 2), (QStringList{"idle", "progress 0"}));
        QVERIFY(small.isEmpty()); // the incomplete working file went with its folder
    }

    void appendRefusesInputsThatAreNoRegularFiles() {
#ifdef Q_OS_UNIX
        const QString pipe = path("pipe.xml"), zero = path("zero.xml"), b = path("b.xml");
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QVERIFY(QFile::link("/dev/zero", zero));
        writeFile(b, "<b/>");

        RecordingHost host({pipe, zero, b}, true);
        joinFiles(host);

        const QStringList reports = host.reports();
        QCOMPARE(reports.size(), 2);
        for (const QString& input : {pipe, zero}) {
            const QString& report = reports[input == pipe ? 0 : 1];
            QVERIFY(report.startsWith("not a regular file\r\nin Quorvel5/20/2014.Form1.Start at line 118"));
            QVERIFY(report.endsWith("\r\nfile1: " + input));
        }
        QVERIFY(host.resultsShown);
        QCOMPARE(host.resultsText, QStringLiteral("<b/>"));
#else
        QSKIP("named pipes and devices are a Unix matter");
#endif
    }

    void eachRunUsesAFreshPrivateWorkingFile() {
        // A file planted where an older program kept its working file is never picked up.
        writeFile(m_folders.tempPath() + "/temp.xml", "planted");
        const QString a = path("a.xml");
        writeFile(a, "A");
        RecordingHost host({a}, true);
        joinFiles(host);
        joinFiles(host);
        QCOMPARE(host.resultsText, QStringLiteral("A"));
        QCOMPARE(readFile(m_folders.tempPath() + "/temp.xml"), QByteArray("planted"));
        QCOMPARE(m_folders.tempEntries(), QStringList{"temp.xml"});
    }

    void missingTempFolderIsReportedAt104ThenJoinFail() {
        qputenv("TEMP", path("no/such/folder").toLocal8Bit());
        const QString a = path("a.xml");
        writeFile(a, "A");
        RecordingHost host({a}, true);
        joinFiles(host);
        QCOMPARE(host.messages(),
                 (QStringList{QStringLiteral("report:") +
                                  applicationErrorReport(QStringLiteral("Cannot make a working folder in %1: No such "
                                                                        "file or directory")
                                                             .arg(path("no/such/folder")),
                                                         location::JoinFiles, 104, QString()),
                              "warning:Join Fail."}));
        QVERIFY(!host.resultsShown && !host.mainHidden);
    }

    void handOffSetsTextBeforeShowingAndHiding() {
        const QString a = path("a.xml");
        writeFile(a, "");
        RecordingHost host({a}, true);
        joinFiles(host);
        QCOMPARE(host.events.mid(host.events.indexOf("text")), (QStringList{"text", "results", "hide"}));
        QCOMPARE(host.resultsText, QStringLiteral("empty file"));
        QVERIFY(m_folders.tempEntries().isEmpty());
    }

    void stepsStopOnceAsked() {
        std::stop_source stop;
        QList<int> reported;
        StepRunner steps([&](int step, const QString&) { reported << step; }, stop.get_token());
        bool secondRan = false;

        // The step that asks ends as usual; the next step or test does not begin.
        QVERIFY(steps.step(1, [&] { stop.request_stop(); }));
        QVERIFY_THROWS_EXCEPTION(StepsStopped, steps.step(2, [&] { secondRan = true; }));
        QVERIFY_THROWS_EXCEPTION(StepsStopped, steps.test(3, [&] { return secondRan = true; }));

        QVERIFY(!secondRan);
        QCOMPARE(reported, QList<int>());
    }

    void stopEndsTheRunAfterTheCurrentStep_data() {
        QTest::addColumn<bool>("append");
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<QString>("trigger"); // the stop is asked for at the first event that begins so
        QTest::addColumn<QStringList>("events");
        const QByteArrayList four{"<r><a/></r>", "<r><b/></r>", "<r><c/></r>", "<r><d/></r>"};
        QTest::newRow("Append, at the second input's progress")
            << true << four << "progress 50" << QStringList{"busy", "progress 25", "progress 50"};
        QTest::newRow("Merge, at the second input's progress")
            << false << four << "progress 50" << QStringList{"busy", "progress 25", "progress 50"};
        QTest::newRow("Merge, at a parse error")
            << false << QByteArrayList{"<r><a/></r>", "<r><a>", "<r><a/></r>"} << "message:Error reading"
            << QStringList{"busy", "progress 33.3333", "progress 66.6667", "message:Error reading in2.xml"};
        QTest::newRow("Append, at the hand-off's text")
            << true << four.mid(0, 1) << "text" << QStringList{"busy", "progress 100", "idle", "progress 0", "text"};
    }

    // Nothing more reaches the host, no results are shown and the working folder goes, whatever the run had
    // written to it.
    void stopEndsTheRunAfterTheCurrentStep() {
        QFETCH(bool, append);
        QFETCH(QByteArrayList, inputs);
        QFETCH(QString, trigger);
        QFETCH(QStringList, events);
        QStringList items;
        for (const QByteArray& input : inputs) {
            items << path(QStringLiteral("in%1.xml").arg(items.size() + 1));
            writeFile(items.last(), input);
        }
        RecordingHost record(items, append);
        std::stop_source stop;
        record.onEvent = [&](const QString& event) {
            if (event.startsWith(trigger))
                stop.request_stop();
        };

        joinFiles(record, stop.get_token());

        QStringList seen = record.events;
        for (QString& event : seen) // a parse error's first line, with the input's name alone
            event = event.section(QStringLiteral("\r\n"), 0, 0).replace(m_folders.path() + QLatin1Char('/'), QString());
        QCOMPARE(seen, events);
        QVERIFY(!record.resultsShown && !record.mainHidden);
        QVERIFY(m_folders.tempEntries().isEmpty());
    }

    void memoryRunningOutInAStepEndsTheJoin_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("trigger"); // the step that runs out is the one that tells this event
        QTest::addColumn<QStringList>("events");
        const QStringList said{"idle", "progress 0", "warning:There was not enough memory to finish the join."};
        const QStringList read{"busy",         "progress 25", "progress 50", "progress 75",
                               "progress 100", "idle",        "progress 0"};
        for (const char* mode : {"append", "merge", "combine"}) {
            QTest::addRow("%s, at the second input", mode) << mode << "progress 50" << read.mid(0, 3) + said;
            QTest::addRow("%s, at the hand-off's text", mode) << mode << "text" << read + QStringList{"text"} + said;
        }
    }

    // The run ends there with the message alone: no error report, no later step working on what the failed one
    // left half made, no results; and the working folder goes.
    void memoryRunningOutInAStepEndsTheJoin() {
        QFETCH(QString, mode);
        QFETCH(QString, trigger);
        QFETCH(QStringList, events);
        QStringList items;
        for (const char* input : {"<r><a/></r>", "<r><b/></r>", "<r><c/></r>", "<r><d/></r>"}) {
            items << path(QStringLiteral("in%1.xml").arg(items.size() + 1));
            writeFile(items.last(), input);
        }
        RecordingHost record(items, mode == "append");
        record.combine = mode == "combine";
        bool ranOut = false;
        record.onEvent = [&](const QString& event) {
            if (event == trigger && !std::exchange(ranOut, true))
                throw std::bad_alloc();
        };

        joinFiles(record);

        QCOMPARE(record.events, events);
        QVERIFY(!record.resultsShown && !record.mainHidden);
        QVERIFY(m_folders.tempEntries().isEmpty());
    }

    void stopAskedBeforeTheRunDoesNothing() {
        const QString a = path("a.xml");
        writeFile(a, "<a/>");
        for (bool append : {true, false}) {
            RecordingHost host({a}, append);
            std::stop_source stop;
            stop.request_stop();
            joinFiles(host, stop.get_token());
            QCOMPARE(host.events, QStringList());
            QVERIFY(m_folders.tempEntries().isEmpty());
        }
    }

    void errorReportText() {
        QCOMPARE(applicationErrorReport(QStringLiteral("Disk full"), location::SaveResults, 130),
                 QStringLiteral("Disk full\r\nin Quorvel5/20/2014.Form2.SaveResults at line 130\r\r"
                                "Please email screenshot of this message to ") +
                     supportAddress());
        QCOMPARE(applicationErrorReport(QStringLiteral("x"), location::JoinFiles, 132, QString()),
                 QStringLiteral("x\r\nin Quorvel5/20/2014.Form1.Start at line 132\r\r"
                                "Please email screenshot of this message to ") +
                     supportAddress() + QStringLiteral("\r\nfile1: "));
        QCOMPARE(applicationErrorReport(QStringLiteral("x"), location::JoinFiles, 164, QString(), 2),
                 QStringLiteral("x\r\nin Quorvel5/20/2014.Form1.Start at line 164\r\r"
                                "Please email screenshot of this message to ") +
                     supportAddress() +
                     QStringLiteral("\r\nfile1: \r\nThis step failed for 2 more nodes under the same top-level node."));
        QCOMPARE(displayLines(QStringLiteral("a\r\nb\r\rc")), QStringLiteral("a\nb\n\nc"));
    }

private:
    QString path(const QString& name) const {
        return m_folders.filePath(name);
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestJoin)
#include "tst_join.moc"
