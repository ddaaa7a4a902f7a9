#include "buildconfig.h"
#include "clijoin.h"
#include "pseudoterminal.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

/// Where a join in this process writes its standard error.
enum class ErrorStream { Terminal, Pipe, File };

using FilePointer = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

QByteArray readBack(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[65536];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, qsizetype(count));
    return bytes;
}

/// Runs corvanta-join's own code in this process, so that the progress line can be asked to appear at once.
Run joinHere(const QStringList& arguments, ErrorStream stream,
             corvanta::ProgressTiming timing = {.delay = 0ms, .interval = 0ms}) {
    Run run;
    const FilePointer out(std::tmpfile(), &std::fclose);
    if (!out)
        return run;
    switch (stream) {
    case ErrorStream::Terminal: {
        PseudoTerminal terminal;
        if (!terminal.isValid())
            return run;
        run.status = corvanta::runCommandLineJoin(arguments, out.get(), terminal.slave(), timing);
        run.err = terminal.readAll();
        break;
    }
    case ErrorStream::Pipe: {
        int ends[2];
        if (pipe(ends) != 0)
            return run;
        FilePointer writeEnd(fdopen(ends[1], "w"), &std::fclose);
        const FilePointer readEnd(fdopen(ends[0], "r"), &std::fclose);
        // Messages are short: they fit in the pipe's buffer, so nothing needs to read while the join writes.
        run.status = corvanta::runCommandLineJoin(arguments, out.get(), writeEnd.get(), timing);
        writeEnd.reset();
        char buffer[65536];
        while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, readEnd.get()))
            run.err.append(buffer, qsizetype(count));
        break;
    }
    case ErrorStream::File: {
        const FilePointer err(std::tmpfile(), &std::fclose);
        run.status = corvanta::runCommandLineJoin(arguments, out.get(), err.get(), timing);
        run.err = readBack(err.get());
        break;
    }
    }
    run.out = readBack(out.get());
    return run;
}

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

    void versionPrintsTheBuildVersion() {
        const Run run = join({"--version"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QByteArray("corvanta-join " CORVANTA_VERSION "\n"));
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

    void progressShowsOnATerminalOnly_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("append") << "--append";
        QTest::newRow("merge") << "--merge";
    }

    void progressShowsOnATerminalOnly() {
        QFETCH(QString, mode);
        const QStringList arguments = QStringList{mode} + writeSizedInputs();

        const Run onTerminal = joinHere(arguments, ErrorStream::Terminal);
        const Run onPipe = joinHere(arguments, ErrorStream::Pipe);
        const Run onFile = joinHere(arguments, ErrorStream::File);

        QCOMPARE(onTerminal.status, 0);
        QVERIFY(!onTerminal.out.isEmpty());
        QCOMPARE(onPipe.out, onTerminal.out);
        QCOMPARE(onFile.out, onTerminal.out);
        QCOMPARE(onPipe.err, QByteArray());
        QCOMPARE(onFile.err, QByteArray());
        // Files done and the megabytes they hold, before each input is read; one line, blank at the end.
        for (const char* state :
             {"0 of 3 files, 0.0 MB read", "1 of 3 files, 0.3 MB read", "2 of 3 files, 1.5 MB read"})
            QVERIFY2(onTerminal.err.contains(QByteArray("\rcorvanta-join: ") + state), onTerminal.err.constData());
        QVERIFY(!onTerminal.err.contains('\n'));
        QCOMPARE(screenLines(onTerminal.err), QStringList());
    }

    void progressWaitsUntilTheJoinIsLong() {
        const QStringList arguments = QStringList{"--append"} + writeSizedInputs();
        const Run run = joinHere(arguments, ErrorStream::Terminal, {.delay = 1h, .interval = 0ms});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.out.size(), 2000000);
    }

    void messagesOnATerminalStandClearOfTheProgress() {
        QVERIFY(QFile::link("/proc/self/mem", path("unreadable.xml")));
        writeFile(path("a.xml"), "A");
        writeFile(path("c.xml"), "C");
        const QStringList arguments{"--append", path("a.xml"), path("unreadable.xml"), path("c.xml")};

        const Run onTerminal = joinHere(arguments, ErrorStream::Terminal);
        const Run onPipe = joinHere(arguments, ErrorStream::Pipe);

        QCOMPARE(onTerminal.status, 1);
        QCOMPARE(onTerminal.out, QByteArray("AC"));
        QVERIFY(onTerminal.err.contains("\rcorvanta-join: 1 of 3 files"));
        QVERIFY(onTerminal.err.contains("\rcorvanta-join: 2 of 3 files"));
        // The report reads on the terminal exactly as in a pipe: no progress is left on its lines or after it.
        QStringList reportLines = QString::fromUtf8(onPipe.err).split(QLatin1Char('\n'));
        while (!reportLines.isEmpty() && reportLines.last().isEmpty())
            reportLines.removeLast();
        QCOMPARE(screenLines(onTerminal.err), reportLines);
        QVERIFY(onPipe.err.contains("at line 118"));
    }

    void shortJoinOnATerminalShowsNoProgress() {
        PseudoTerminal terminal;
        QVERIFY(terminal.isValid());
        writeFile(path("a.xml"), "A");
        writeFile(path("b.xml"), "B");
        const Run run = join({"--append", "a.xml", "b.xml"}, {}, terminal.slavePath());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QByteArray("AB"));
        QCOMPARE(terminal.readAll(), QByteArray());
    }

private:
    QString path(const QString& name) const { return m_temp->filePath(name); }

    /// Three inputs of 0.3, 1.2 and 0.5 MB that Merge accepts, padded after their root element.
    QStringList writeSizedInputs() const {
        QStringList inputs;
        const QList<int> sizes{300000, 1200000, 500000};
        for (int i = 0; i < sizes.size(); ++i) {
            QByteArray text = QByteArray("<r><a><n") + QByteArray::number(i) + "/></a></r>";
            text.append(sizes[i] - text.size(), '\n');
            inputs += path(QStringLiteral("in%1.xml").arg(i));
            writeFile(inputs.last(), text);
        }
        return inputs;
    }

    Run join(const QStringList& arguments, const QList<QPair<QString, QString>>& environment = {},
             const QString& errorFile = {}) const {
        QProcess process;
        if (!errorFile.isEmpty())
            process.setStandardErrorFile(errorFile);
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
