#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

/// Runs the real corvanta-join as a script would.
class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
    }

    void helpPrintsUsage() {
        const Run run = join({"--help"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.startsWith("Usage: corvanta-join [--append | --merge] [-o FILE] PATH..."));
        QVERIFY(run.err.isEmpty());
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no path") << QStringList{};
        QTest::newRow("only a mode") << QStringList{"--append"};
        QTest::newRow("both modes") << QStringList{"--append", "--merge", "a.xml"};
        QTest::newRow("unknown option") << QStringList{"--frobnicate", "a.xml"};
        QTest::newRow("-o without file") << QStringList{"a.xml", "-o"};
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        const Run run = join(arguments);
        QCOMPARE(run.status, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.contains("Usage: corvanta-join"));
    }

    void appendWritesTheJoinedBytesToStandardOutput() {
        writeFile(path("a.xml"), "<?xml version=\"1.0\"?>\r\n<r>caf\xc3\xa9</r>\r\n");
        writeFile(path("b.xml"), QByteArray("\xff\xfe<\0b\0/\0>\0", 10));
        const Run run = join({"--append", "a.xml", "b.xml"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QByteArray("<?xml version=\"1.0\"?>\r\n<r>caf\xc3\xa9</r>\r\n\xef\xbb\xbf<b/>"));
        QVERIFY(run.err.isEmpty());
    }

    void outputFileIsReplacedWholeAndMayBeAnInput() {
        writeFile(path("a.xml"), "A");
        writeFile(path("b.xml"), "B");
        writeFile(path("out.xml"), "a much longer earlier result");
        Run run = join({"--append", "-o", "out.xml", "a.xml", "b.xml"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(readFile(path("out.xml")), QByteArray("AB"));

        run = join({"--append", "a.xml", "b.xml", "-o", "a.xml"});
        QCOMPARE(run.status, 0);
        QCOMPARE(readFile(path("a.xml")), QByteArray("AB"));
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::Files), (QStringList{"a.xml", "b.xml", "out.xml"}));
    }

    void joinWithoutResultLeavesOutputFileAlone() {
        writeFile(path("a.xml"), "A");
        writeFile(path("out.xml"), "keep me");
        const Run run = join({"--append", "-o", "out.xml", "a.xml"}, {{"TEMP", path("no/such/folder")}});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, QByteArray("Join Fail.\n"));
        QCOMPARE(readFile(path("out.xml")), QByteArray("keep me"));

        const Run fresh = join({"--append", "-o", "new.xml", "a.xml"}, {{"TEMP", path("no/such/folder")}});
        QCOMPARE(fresh.status, 1);
        QVERIFY(!QFile::exists(path("new.xml")));
    }

    void messagesGoToStandardErrorWithLineFeeds() {
        // A file that opens but fails to read (tests run as root, so permissions cannot make one); the report
        // names it as given, relative.
        QVERIFY(QFile::link("/proc/self/mem", path("unreadable.xml")));
        writeFile(path("b.xml"), "B");
        const Run run = join({"--append", "unreadable.xml", "b.xml"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, QByteArray("B")); // the result is still written
        QVERIFY(!run.err.contains('\r'));
        const QList<QByteArray> lines = run.err.split('\n');
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[1], QByteArray("in Quorvel5/20/2014.Form1.Start at line 118"));
        QCOMPARE(lines[2], QByteArray());
        QVERIFY(lines[3].startsWith("Please email screenshot of this message to "));
        QCOMPARE(lines[4], QByteArray("file1: unreadable.xml"));
        QCOMPARE(lines[5], QByteArray());
    }

    void failedOutputWriteIsReported() {
        writeFile(path("a.xml"), "A");
        const Run run = join({"--append", "-o", "missing/out.xml", "a.xml"});
        QCOMPARE(run.status, 1);
        QVERIFY(run.err.contains("missing/out.xml"));
        QVERIFY(!QFileInfo::exists(path("missing")));
    }

private:
    QString path(const QString& name) const { return m_temp->filePath(name); }

    Run join(const QStringList& arguments, const QList<QPair<QString, QString>>& environment = {}) const {
        QProcess process;
        process.setWorkingDirectory(m_temp->path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : environment)
            env.insert(name, value);
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/corvanta-join", arguments);
        process.closeWriteChannel();
        Run run;
        if (!process.waitForFinished(60000))
            return run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    std::unique_ptr<QTemporaryDir> m_temp;
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
