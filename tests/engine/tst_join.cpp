#include "errorreport.h"
#include "joincommand.h"
#include "recordinghost.h"
#include "smallfilesystem.h"
#include "testfiles.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace corvanta;

class TestJoin : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
        useFreshWorkingFolder(m_workTemp);
    }

    void emptyListSaysNoFilesAdded() {
        for (bool append : {true, false}) {
            RecordingHost host({}, append);
            joinFiles(host);
            QCOMPARE(host.events, QStringList{"message:No files added."});
            QVERIFY(workFolderIsEmpty());
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

    void appendOfMissingEmptyAndUtf16Inputs() {
        const QString empty = path("empty.xml"), wide = path("wide.xml"), latin = path("latin.xml");
        writeFile(empty, "");
        writeFile(wide, QByteArray("\xff\xfe<\0r\0/\0>\0", 10));
        writeFile(latin, "caf\xe9");
        RecordingHost host({path("missing.xml"), empty, wide, latin}, true);
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
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
        if (!small.isMounted())
            QSKIP(qPrintable(small.whyNot()));
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
        writeFile(m_workTemp->filePath("temp.xml"), "planted");
        const QString a = path("a.xml");
        writeFile(a, "A");
        RecordingHost host({a}, true);
        joinFiles(host);
        joinFiles(host);
        QCOMPARE(host.resultsText, QStringLiteral("A"));
        QCOMPARE(readFile(m_workTemp->filePath("temp.xml")), QByteArray("planted"));
        QCOMPARE(QDir(m_workTemp->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"temp.xml"});
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
        QVERIFY(workFolderIsEmpty());
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
        return m_temp->filePath(name);
    }
    bool workFolderIsEmpty() const {
        return QDir(m_workTemp->path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<QTemporaryDir> m_workTemp;
};

QTEST_GUILESS_MAIN(TestJoin)
#include "tst_join.moc"
