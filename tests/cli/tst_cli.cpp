#include "cli/clijoin.h"
#include "engine/buildconfig.h"
#include "engine/text/filepath.h"
#include "tests/cli/pseudoterminal.h"
#include "tests/support/smallfilesystem.h"
#include "tests/support/testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
        m_folders.renew();
        m_standardInput.clear();
    }

    void helpPrintsUsage() {
        const Run run = join({"--help"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.startsWith("Usage: corvanta-join [--append [--wrap NAME] | --merge | --combine [--unique]] "
                                   "[--keep-going] [-o FILE] [--report FILE] [--files-from FILE [--null]] PATH...\n"
                                   "       corvanta-join --check [--combine] [--json] [--files-from FILE [--null]] "
                                   "PATH...\n"));
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
        QTest::newRow("-o with an empty file name") << QStringList{"-o", "", "a.xml"};
        QTest::newRow("--report without file") << QStringList{"a.xml", "--report"};
        QTest::newRow("--report with an empty name") << QStringList{"--report", "", "a.xml"};
        QTest::newRow("--report twice") << QStringList{"--report", "r1", "--report", "r2", "a.xml"};
        QTest::newRow("--json without --check") << QStringList{"--json", "a.xml"};
        QTest::newRow("--check with --append") << QStringList{"--check", "--append", "a.xml"};
        QTest::newRow("--check with -o") << QStringList{"--check", "-o", "out.xml", "a.xml"};
        QTest::newRow("--check with --report") << QStringList{"--check", "--report", "r.json", "a.xml"};
        QTest::newRow("--check without path") << QStringList{"--check", "--json"};
        QTest::newRow("--combine with --merge") << QStringList{"--combine", "--merge", "a.xml"};
        QTest::newRow("--combine with --append") << QStringList{"--append", "--combine", "a.xml"};
        QTest::newRow("--unique without --combine") << QStringList{"--merge", "--unique", "a.xml"};
        QTest::newRow("--check with --unique") << QStringList{"--check", "--combine", "--unique", "a.xml"};
        QTest::newRow("--wrap with --combine") << QStringList{"--combine", "--wrap", "r", "a.xml"};
        QTest::newRow("--wrap with --merge") << QStringList{"--merge", "--wrap", "r", "a.xml"};
        QTest::newRow("--wrap without a mode") << QStringList{"--wrap", "r", "a.xml"};
        QTest::newRow("--wrap without name") << QStringList{"--append", "a.xml", "--wrap"};
        QTest::newRow("--wrap twice") << QStringList{"--append", "--wrap", "a", "--wrap", "b", "a.xml"};
        QTest::newRow("root name with a colon") << QStringList{"--append", "--wrap", "x:r", "a.xml"};
        QTest::newRow("root name beginning with a digit") << QStringList{"--append", "--wrap", "1r", "a.xml"};
        QTest::newRow("empty root name") << QStringList{"--append", "--wrap", "", "a.xml"};
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
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files), (QStringList{"a.xml", "b.xml", "out.xml"}));
    }

    void joinWithoutResultLeavesOutputFileAlone() {
        writeFile(path("a.xml"), "A");
        writeFile(path("out.xml"), "keep me");
        const Run run = join({"--append", "-o", "out.xml", "a.xml"}, {{"TEMP", path("no/such/folder")}});
        QCOMPARE(run.status, 1);
        const QList<QByteArray> lines = run.err.split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], "Cannot make a working folder in " + QFile::encodeName(path("no/such/folder")) +
                               ": No such file or directory");
        QCOMPARE(lines[1], QByteArray("in Quorvel5/20/2014.Form1.Start at line 104"));
        QCOMPARE(lines[5], QByteArray("Join Fail."));
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
        QCOMPARE(lines[0], QByteArray("Input/output error")); // the file is named once, on the file1 line
        QCOMPARE(lines[1], QByteArray("in Quorvel5/20/2014.Form1.Start at line 118"));
        QCOMPARE(lines[2], QByteArray());
        QVERIFY(lines[3].startsWith("Please email screenshot of this message to "));
        QCOMPARE(lines[4], QByteArray("file1: unreadable.xml"));
        QCOMPARE(lines[5], QByteArray());
    }

    // A missing input is a failure like an unreadable one: told, the others still joined, and exit 1.
    void missingInputIsToldAndTheJoinGoesOn_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("after an input") << QStringList{"--append", "a.xml", "gone.xml"} << QByteArray("A");
        QTest::newRow("alone") << QStringList{"--append", "gone.xml"} << QByteArray();
        QTest::newRow("wrapped") << QStringList{"--append", "--wrap", "r", "gone.xml", "a.xml"}
                                 << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\nA\n</r>\n");
    }

    void missingInputIsToldAndTheJoinGoesOn() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, out);
        writeFile(path("a.xml"), "A");
        const Run run = join(arguments);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, out);
        QVERIFY(run.err.startsWith("No such file or directory\nin Quorvel5/20/2014.Form1.Start at line 118\n"));
        QVERIFY(run.err.contains("\nfile1: gone.xml\n"));
    }

    void failedOutputWriteIsReported() {
        writeFile(path("a.xml"), "A");
        const Run run = join({"--append", "-o", "missing/out.xml", "a.xml"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, QByteArray("missing/out.xml: No such file or directory\n"));
        QVERIFY(!QFileInfo::exists(path("missing")));
    }

    // A working file that fills the disk (a file-size limit, where no small file system can be mounted): the
    // system's reason in the report, and nothing that libxml2 would print on its own.
    void fullDiskDuringMergeGivesTheSystemsReason() {
        writeFile(path("big.xml"), "<r><a>" + QByteArray("<x>text</x>").repeated(100000) + "</a></r>");
        writeFile(path("out.xml"), "keep me");
        const Run run = join({"-o", "out.xml", "big.xml"}, {}, {}, {}, qint64{64} * 1024);
        QCOMPARE(run.status, 1);
        const QList<QByteArray> lines = run.err.split('\n');
        QCOMPARE(lines.size(), 7);
        QVERIFY2(lines[0].endsWith("/temp.xml: File too large"), lines[0].constData());
        QCOMPARE(lines[1], QByteArray("in Quorvel5/20/2014.Form1.Start at line 170"));
        QCOMPARE(lines[5], QByteArray("Join Fail."));
        QCOMPARE(readFile(path("out.xml")), QByteArray("keep me"));
    }

    // Every child of a top-level node fails at the same step: one report, its last line saying how many more.
    void repeatedFailuresAreCountedInOneReport() {
        writeFile(path("a.xml"), "<r><!--c--></r>");
        writeFile(path("b.xml"), "<r><a>" + QByteArray("<x/><y/><z/>").repeated(2000) + "</a></r>");
        const Run run = join({"a.xml", "b.xml"});
        QCOMPARE(run.status, 1);
        const QList<QByteArray> lines = run.err.split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QByteArray("Cannot add \"x\" to top-level node 1 of the first document: a comment cannot "
                                      "hold child nodes."));
        QCOMPARE(lines[1], QByteArray("in Quorvel5/20/2014.Form1.Start at line 164"));
        QCOMPARE(lines[5], QByteArray("This step failed for 5999 more nodes under the same top-level node."));
        QCOMPARE(run.out, QByteArray("<r>\n  <!--c-->\n</r>\n"));
    }

    void appendStreamsLargeInputsByteForByte() {
        const QByteArray utf8 = QByteArray("<a>caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80</a>\n").repeated(30000);
        const QByteArray wide = QByteArray("\xff\xfe") + QByteArray("<\0\x3d\xd8\x00\xde\xe9\0>\0", 10).repeated(50000);
        writeFile(path("a.xml"), utf8);
        writeFile(path("b.xml"), wide);
        writeFile(path("c.xml"), "caf\xe9");
        const QByteArray expected =
            utf8 + "\xef\xbb\xbf" + QByteArray("<\xf0\x9f\x98\x80\xc3\xa9>").repeated(50000) + "caf\xc3\xa9";

        Run run = join({"--append", "a.xml", "b.xml", "c.xml"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out == expected);

        // Into one of the inputs, which is read whole before it is replaced.
        run = join({"--append", "-o", "a.xml", "a.xml", "b.xml", "c.xml"});
        QCOMPARE(run.status, 0);
        QVERIFY(readFile(path("a.xml")) == expected);
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"a.xml", "b.xml", "c.xml"}));
    }

    void replacedOutputFileKeepsItsPermissions() {
        writeFile(path("a.xml"), "A");
        writeFile(path("out.xml"), "old");
        const auto ownerOnly =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
        QVERIFY(QFile::setPermissions(path("out.xml"), ownerOnly));
        const Run run = join({"--append", "-o", "out.xml", "a.xml"});
        QCOMPARE(run.status, 0);
        QCOMPARE(readFile(path("out.xml")), QByteArray("A"));
        QCOMPARE(QFile::permissions(path("out.xml")), ownerOnly);
    }

    // Refused whether the working file would be renamed onto it or copied into it; also for root.
    void outputOntoAReadOnlyFileIsRefused_data() {
        QTest::addColumn<QString>("workingRoot"); // empty: the test folder, on the target's file system
        QTest::newRow("same file system") << QString();
        QTest::newRow("another file system") << "/dev/shm";
    }

    void outputOntoAReadOnlyFileIsRefused() {
        QFETCH(QString, workingRoot);
        struct stat here {
        }, there{};
        if (!workingRoot.isEmpty() &&
            (::stat(workingRoot.toUtf8().constData(), &there) != 0 ||
             (::stat(m_folders.path().toUtf8().constData(), &here) == 0 && here.st_dev == there.st_dev)))
            QSKIP("no other file system for the working folder");
        writeFile(path("a.xml"), "<r/>");
        writeFile(path("out.xml"), "keep me");
        QVERIFY(QFile::setPermissions(path("out.xml"), QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        for (const QStringList& mode : {QStringList{"--append"}, QStringList{"--merge"}}) {
            const Run run = join(mode + QStringList{"-o", "out.xml", "a.xml"},
                                 {{"TEMP", workingRoot.isEmpty() ? m_folders.path() : workingRoot}});
            QCOMPARE(run.status, 1);
            QCOMPARE(run.err, QByteArray("out.xml: Permission denied\n"));
            QCOMPARE(readFile(path("out.xml")), QByteArray("keep me"));
        }
    }

    // As a shell redirection would: owner, group and mode stay, and every name of the file sees the new text.
    void outputKeepsOwnerModeAndLinksOfTheReplacedFile() {
        writeFile(path("a.xml"), "<r/>");
        writeFile(path("out.xml"), "old");
        writeFile(path("other.xml"), "old");
        QVERIFY(::link(QFile::encodeName(path("other.xml")).constData(),
                       QFile::encodeName(path("other-name.xml")).constData()) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::chown(QFile::encodeName(path("out.xml")).constData(), 1234, 5678) == 0);
        QVERIFY(::chmod(QFile::encodeName(path("out.xml")).constData(), 02640) == 0);
        struct stat before {};
        QVERIFY(::stat(QFile::encodeName(path("other.xml")).constData(), &before) == 0);

        for (const char* target : {"out.xml", "other.xml"})
            for (const char* mode : {"--append", "--merge"})
                QCOMPARE(join({mode, "-o", target, "a.xml"}).status, 0);

        struct stat out {
        }, other{};
        QVERIFY(::stat(QFile::encodeName(path("out.xml")).constData(), &out) == 0);
        QCOMPARE(out.st_mode & 07777, 02640u);
        if (root)
            QVERIFY(out.st_uid == 1234 && out.st_gid == 5678);
        QVERIFY(::stat(QFile::encodeName(path("other.xml")).constData(), &other) == 0);
        QCOMPARE(other.st_ino, before.st_ino);
        QCOMPARE(other.st_nlink, nlink_t(2));
        QCOMPARE(readFile(path("other-name.xml")), QByteArray("<r/>\n"));
    }

    // A Merge's working file holds the result byte for byte: -o's file takes its place, and is what standard
    // output gets.
    void mergeResultGoesToAFileAsToStandardOutput() {
        writeFile(path("a.xml"), "<?xml version=\"1.0\"?>\n<r><s><x>caf\xc3\xa9</x></s></r>\n");
        writeFile(path("b.xml"), "<r><s><y>\xe6\xbc\xa2</y><x/></s></r>");
        const Run out = join({"--merge", "a.xml", "b.xml"});
        QCOMPARE(out.status, 0);
        QCOMPARE(out.out, QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n  <s>\n    <x>caf\xc3\xa9</x>\n"
                                     "    <y>\xe6\xbc\xa2</y>\n  </s>\n</r>\n"));

        writeFile(path("out.xml"), "an earlier result");
        const auto ownerOnly =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
        QVERIFY(QFile::setPermissions(path("out.xml"), ownerOnly));
        Run run = join({"--merge", "-o", "out.xml", "a.xml", "b.xml"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(readFile(path("out.xml")), out.out);
        QCOMPARE(QFile::permissions(path("out.xml")), ownerOnly);

        // Through a link, into the file it points to; and onto an input.
        QVERIFY(QFile::link(path("out.xml"), path("link.xml")));
        run = join({"--merge", "-o", "link.xml", "b.xml", "a.xml"});
        QCOMPARE(run.status, 0);
        QVERIFY(QFileInfo(path("link.xml")).isSymLink());
        QCOMPARE(readFile(path("out.xml")),
                 QByteArray("<r>\n  <s>\n    <y>\xe6\xbc\xa2</y>\n    <x/>\n  </s>\n</r>\n"));
        run = join({"--merge", "-o", "a.xml", "a.xml", "b.xml"});
        QCOMPARE(run.status, 0);
        QCOMPARE(readFile(path("a.xml")), out.out);
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{"a.xml", "b.xml", "link.xml", "out.xml"}));
    }

    void standardOutputOpenedForAppendingKeepsWhatWasThere() {
        writeFile(path("a.xml"), QByteArray("<a/>\n").repeated(100000));
        writeFile(path("log.txt"), "before\n");
        const Run run = join({"--append", "a.xml"}, {}, path("log.txt"), {}, 0, QIODevice::Append);
        QCOMPARE(run.status, 0);
        QVERIFY(readFile(path("log.txt")) == "before\n" + QByteArray("<a/>\n").repeated(100000));
    }

    // Standard output appended to one of the inputs: every input is read whole into the working file before the
    // result goes out, so the join neither reads its own output nor runs on for ever.
    void standardOutputAppendedToAnInputEnds() {
        const QByteArray a = QByteArray("<a>\xc3\xa9</a>\n").repeated(40000);
        writeFile(path("a.xml"), a);
        writeFile(path("b.xml"), "<b/>");
        const Run run = join({"--append", "a.xml", "b.xml"}, {}, path("a.xml"), {}, 0, QIODevice::Append);
        QCOMPARE(run.status, 0);
        QVERIFY(readFile(path("a.xml")) == a + a + "<b/>");
    }

    // Standard output gets what -o writes, whether the kernel copies the text into it (a pipe, a file, a file on
    // another file system than the working file) or the program does (a file opened for appending).
    void standardOutputGetsWhatOutputFileGets_data() {
        QTest::addColumn<QString>("target");
        for (const char* target : {"pipe", "file", "appended file", "file beside a working folder in memory"})
            QTest::newRow(target) << QString::fromLatin1(target);
    }

    void standardOutputGetsWhatOutputFileGets() {
        QFETCH(QString, target);
        const QTemporaryDir inMemory("/dev/shm/corvanta-test-XXXXXX");
        const bool elsewhere = target.endsWith("in memory");
        if (elsewhere && QStorageInfo(inMemory.path()).device() == QStorageInfo(m_folders.path()).device())
            QSKIP("no file system in memory here");
        // Larger than a pipe holds, and recoded on the way.
        writeFile(path("a.xml"), "<a>" + QByteArray("<x>caf\xc3\xa9</x>\n").repeated(200000) + "</a>\n");
        writeFile(path("b.xml"), "<b>caf\xe9</b>");
        QCOMPARE(join({"--append", "-o", "saved.xml", "a.xml", "b.xml"}).status, 0);
        const QByteArray expected = readFile(path("saved.xml"));
        const QString out = target == "pipe" ? QString() : path("out.txt");
        writeFile(path("out.txt"), "before\n");

        const Run run = join({"--append", "a.xml", "b.xml"}, {{"TEMP", elsewhere ? inMemory.path() : QDir::tempPath()}},
                             out, {}, 0, target == "appended file" ? QIODevice::Append : QIODevice::Truncate);

        QCOMPARE(run.status, 0);
        QVERIFY(run.err.isEmpty());
        const QByteArray written = out.isEmpty() ? run.out : readFile(out);
        QVERIFY(written == (target == "appended file" ? "before\n" + expected : expected));
    }

    // -o's file on a disk too small for the result: the system's reason, the old file kept and nothing left beside
    // it. A working file on the same disk is renamed instead of copied, so the result then needs no second room.
    void outputOnAFullDiskKeepsTheTarget_data() {
        QTest::addColumn<QStringList>("mode");
        QTest::addColumn<bool>("workingFileThere");
        QTest::addColumn<int>("kilobytes");
        QTest::newRow("append, copied") << QStringList{"--append"} << false << 100;
        QTest::newRow("wrapped append, copied") << QStringList{"--append", "--wrap", "all"} << false << 100;
        QTest::newRow("merge, copied") << QStringList{"--merge"} << false << 100;
        QTest::newRow("append, renamed") << QStringList{"--append"} << true << 40;
    }

    void outputOnAFullDiskKeepsTheTarget() {
        QFETCH(QStringList, mode);
        QFETCH(bool, workingFileThere);
        QFETCH(int, kilobytes);
        const SmallFileSystem small(64);
        QByteArray text = "<r><a>";
        while (text.size() < qsizetype{kilobytes} * 1024)
            text += "<item>some text to fill the disk</item>";
        writeFile(path("a.xml"), text + "</a></r>");
        const QString target = small.filePath("out.xml");
        writeFile(target, "keep me");
        const QList<QPair<QString, QString>> environment =
            small.environment() +
            QList<QPair<QString, QString>>{{"TEMP", workingFileThere ? small.path() : path("work")}};
        QVERIFY(QDir().mkpath(path("work")));

        const Run run = join(mode + QStringList{"-o", target, "a.xml"}, environment);

        QCOMPARE(QDir(small.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                 QStringList{"out.xml"});
        if (workingFileThere) {
            QCOMPARE(run.status, 0);
            QCOMPARE(readFile(target), text + "</a></r>");
            return;
        }
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, QFile::encodeName(target) + ": No space left on device\n");
        QCOMPARE(readFile(target), QByteArray("keep me"));
    }

    void wrapOfTheSamplesIsOneDocumentWithTheirRootsInOrder() {
        const QString samples = QCoreApplication::applicationDirPath() + "/Samples";
        const QStringList names = QDir(samples).entryList(QDir::Files, QDir::Name);
        QVERIFY(names.size() >= 2);
        QStringList arguments{"--append", "--wrap", "files", "-o", "out.xml"};
        QStringList roots{"files"};
        for (const QString& name : names) {
            arguments << samples + '/' + name;
            roots << rootNames(readFile(samples + '/' + name)).first();
        }
        Run run = join(arguments);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QByteArray());
        const QByteArray wrapped = readFile(path("out.xml"));
        QVERIFY(wrapped.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<files>\n"));
        QCOMPARE(rootNames(wrapped), roots);

        arguments.remove(3, 2); // the same to standard output
        run = join(arguments);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, wrapped);
    }

    void wrapTellsOfDroppedEntitiesAndStillWrites() {
        writeFile(path("a.xml"), "<!DOCTYPE a [<!ENTITY e \"x\">]>\n<a>&e;</a>");
        const Run run = join({"--append", "--wrap", "all", "-o", "out.xml", "a.xml"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, QByteArray("The document type declaration of a.xml declares entities. Wrapping leaves the "
                                     "declaration out, so references to them in the joined document are undefined.\n"));
        QCOMPARE(readFile(path("out.xml")),
                 QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<all>\n<a>&e;</a>\n</all>\n"));
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
        const Run run = join({"--append", "a.xml", "b.xml"}, {}, {}, terminal.slavePath());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QByteArray("AB"));
        QCOMPARE(terminal.readAll(), QByteArray());
    }

    void failedWriteToStandardOutputIsReported_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kilobytesFree"); // 0: standard output is /dev/full
        QTest::newRow("result to /dev/full") << QStringList{"--append", "a.xml"} << 0;
        QTest::newRow("usage to /dev/full") << QStringList{"--help"} << 0;
        QTest::newRow("version to /dev/full") << QStringList{"--version"} << 0;
        QTest::newRow("result to a full disk, written in part") << QStringList{"--append", "big.xml"} << 64;
    }

    void failedWriteToStandardOutputIsReported() {
        QFETCH(QStringList, arguments);
        QFETCH(int, kilobytesFree);
        writeFile(path("a.xml"), "A");
        writeFile(path("big.xml"), QByteArray(200 * qsizetype(1024), 'b'));
        std::optional<SmallFileSystem> small;
        QString output = QStringLiteral("/dev/full");
        if (kilobytesFree > 0) {
            small.emplace(kilobytesFree);
            output = small->filePath("out.xml");
        }

        const Run run = join(arguments, small ? small->environment() : QList<QPair<QString, QString>>{}, output);

        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, QByteArray("standard output: No space left on device\n"));
    }

    // Only a regular file is replaced; a device or a named pipe is written into, as a shell redirection would, and
    // stays what it is.
    void outputOntoWhatIsNoRegularFileWritesIntoIt_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("throughLink");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("err");
        QTest::newRow("null device") << "null" << false << 0 << QByteArray();
        QTest::newRow("link to a null device") << "null" << true << 0 << QByteArray();
        QTest::newRow("full device") << "full" << false << 1 << QByteArray("out: No space left on device\n");
        QTest::newRow("named pipe") << "fifo" << false << 0 << QByteArray();
    }

    void outputOntoWhatIsNoRegularFileWritesIntoIt() {
        QFETCH(QString, kind);
        QFETCH(bool, throughLink);
        QFETCH(int, status);
        QFETCH(QByteArray, err);
        writeFile(path("a.xml"), "<r><a/></r>");
        const QString node = path(throughLink ? "node" : "out");
        const QByteArray native = QFile::encodeName(node);
        // The test's own nodes, never the system's: a program that replaced them would do no harm.
        if (kind == "fifo") {
            QVERIFY(::mkfifo(native.constData(), 0600) == 0);
        } else if (::mknod(native.constData(), S_IFCHR | 0600, makedev(1, kind == "null" ? 3 : 7)) != 0) {
            QSKIP("cannot make a device node here");
        }
        if (throughLink)
            QVERIFY(QFile::link(node, path("out")));
        QProcess reader; // a named pipe's other end
        if (kind == "fifo") {
            reader.start("cat", {node});
            QVERIFY(reader.waitForStarted());
        }

        const Run run = join({"--append", "-o", "out", "a.xml"});

        QCOMPARE(run.status, status);
        QCOMPARE(run.err, err);
        QVERIFY(run.out.isEmpty());
        struct stat info {};
        QVERIFY(::lstat(native.constData(), &info) == 0);
        QCOMPARE(info.st_mode & S_IFMT, mode_t(kind == "fifo" ? S_IFIFO : S_IFCHR));
        QCOMPARE(QFileInfo(path("out")).isSymLink(), throughLink);
        if (kind == "fifo") {
            QVERIFY(reader.waitForFinished(10000));
            QCOMPARE(reader.readAllStandardOutput(), QByteArray("<r><a/></r>"));
        }
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(),
                 throughLink ? 3 : 2); // nothing left beside them
    }

    // A working file cut short by a full disk is never handed off: -o's file stays as it was.
    void fullWorkingFolderLeavesTheOutputFileAlone_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("toStandardOutput");
        QTest::newRow("append") << "--append" << 120 << false;
        QTest::newRow("merge") << "--merge" << 170 << false;
        // The join stops without a result: nothing reaches standard output either.
        QTest::newRow("append to standard output") << "--append" << 120 << true;
    }

    void fullWorkingFolderLeavesTheOutputFileAlone() {
        QFETCH(QString, mode);
        QFETCH(int, step);
        QFETCH(bool, toStandardOutput);
        const SmallFileSystem small(64);
        QByteArray big = "<r><a>";
        for (int i = 0; i < 3000; ++i)
            big += "<item n=\"" + QByteArray::number(i) + "\">some text to fill the disk</item>";
        writeFile(path("a.xml"), big + "</a></r>");
        writeFile(path("b.xml"), big + "</a></r>");
        writeFile(path("out.xml"), "keep me");

        const QStringList output = toStandardOutput ? QStringList() : QStringList{"-o", "out.xml"};
        const Run run = join(QStringList{mode} + output + QStringList{"a.xml", "b.xml"},
                             small.environment() + QList<QPair<QString, QString>>{{"TEMP", small.path()}});

        QCOMPARE(run.status, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains("/temp.xml: No space left on device\nin Quorvel5/20/2014.Form1.Start at line " +
                                  QByteArray::number(step) + "\n"),
                 run.err.constData());
        QVERIFY(run.err.endsWith("\nJoin Fail.\n"));
        QCOMPARE(readFile(path("out.xml")), QByteArray("keep me"));
        QVERIFY(small.isEmpty());
    }

    // Refused at once at the read step, without being opened: a named pipe would hang the join, a device would
    // eat memory without end.
    void inputsThatAreNoRegularFilesAreRefused_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("given");   // the PATH on the command line
        QTest::addColumn<QString>("refused"); // the input the report names
        QTest::addColumn<int>("step");
        for (const auto& [mode, step] : {std::pair{"--append", 118}, std::pair{"--merge", 132}}) {
            QTest::addRow("named pipe, %s", mode) << mode << "pipe.xml"
                                                  << "pipe.xml" << step;
            QTest::addRow("/dev/zero, %s", mode) << mode << "/dev/zero"
                                                 << "/dev/zero" << step;
            QTest::addRow("link to /dev/urandom, %s", mode) << mode << "random.xml"
                                                            << "random.xml" << step;
            QTest::addRow("link to /dev/zero met in a folder scan, %s", mode) << mode << "folder"
                                                                              << "folder/zero.xml" << step;
        }
    }

    void inputsThatAreNoRegularFilesAreRefused() {
        QFETCH(QString, mode);
        QFETCH(QString, given);
        QFETCH(QString, refused);
        QFETCH(int, step);
        QVERIFY(::mkfifo(QFile::encodeName(path("pipe.xml")).constData(), 0600) == 0);
        QVERIFY(QFile::link("/dev/urandom", path("random.xml")));
        writeFile(path("folder/a.xml"), "<r><a/></r>");
        QVERIFY(QFile::link("/dev/zero", path("folder/zero.xml")));

        const Run run = join({mode, given});

        QCOMPARE(run.status, 1);
        // The reason alone; the input is named on the report's file1 line (Append) or by the parse error (Merge).
        QVERIFY2(run.err.startsWith("not a regular file\nin Quorvel5/20/2014.Form1.Start at line " +
                                    QByteArray::number(step) + "\n"),
                 run.err.constData());
        QVERIFY2(run.err.contains((mode == "--append" ? "\nfile1: " : "\nError reading ") + QFile::encodeName(refused) +
                                  "\n"),
                 run.err.constData());
    }

    // Each signal removes the private working folder and ends the joiner with that signal's usual status. The join
    // is held in the middle, its working file written, by a report it cannot get out: its standard error is a
    // pipe that is already full.
    void signalsRemoveTheWorkingFolder_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGPIPE, standard error closed by its reader") << SIGPIPE;
    }

    void signalsRemoveTheWorkingFolder() {
        QFETCH(int, signal);
        writeFile(path("a.xml"), "<a/>");
        writeFile(path("out.xml"), "keep me");
        QVERIFY(::mkfifo(QFile::encodeName(path("pipe.xml")).constData(), 0600) == 0); // refused with a report
        const QTemporaryDir workTemp;
        int errors[2];
        QVERIFY(::pipe(errors) == 0);
        fillPipe(errors[1]);

        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(errors[1], STDERR_FILENO);
            ::close(errors[0]);
            ::close(errors[1]);
            for (const int each : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
                std::signal(each, SIG_DFL);
            ::setenv("TEMP", QFile::encodeName(workTemp.path()).constData(), 1);
            if (::chdir(QFile::encodeName(m_folders.path()).constData()) == 0) {
                const QByteArray program = QFile::encodeName(QCoreApplication::applicationDirPath() + "/corvanta-join");
                ::execl(program.constData(), program.constData(), "--append", "-o", "out.xml", "a.xml", "pipe.xml",
                        nullptr);
            }
            ::_exit(127);
        }
        ::close(errors[1]);
        const bool held = waitForWorkingFile(workTemp.path());
        if (signal == SIGPIPE)
            ::close(errors[0]);
        else
            ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (signal != SIGPIPE)
            ::close(errors[0]);

        QVERIFY(held);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == signal, qPrintable(QString::number(status)));
        QCOMPARE(QDir(workTemp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList());
        // A stopped run leaves -o's file as it was, and nothing beside it.
        QCOMPARE(readFile(path("out.xml")), QByteArray("keep me"));
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden), (QStringList{"a.xml", "out.xml"}));
    }

    void checkTellsEveryInputThenSums_data() {
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("alone") << QStringList{};
        QTest::newRow("with --merge") << QStringList{"--merge"};
    }

    void checkTellsEveryInputThenSums() {
        QFETCH(QStringList, extra);
        writeFile(path("a.xml"), "<r><x/><y/></r>");
        writeFile(path("b.xml"), "<r><x/></r>");
        writeFile(path("c.xml"), "<r><x>");
        writeFile(path("d.xml"), "<r><z/><w/></r>");
        const Run run = join(QStringList{"--check"} + extra + QStringList{"a.xml", "b.xml", "c.xml", "d.xml"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out,
                 QByteArray("a.xml: ok (root r, 2 top-level nodes)\n"
                            "b.xml: 1 top-level node, but a.xml has 2\n"
                            "c.xml: not well-formed at line 1, column 7: Premature end of data in tag x line 1\n"
                            "d.xml: ok (root r, 2 top-level nodes)\n"
                            "2 of 4 files would stop a Merge.\n"));
        QVERIFY(run.err.isEmpty());
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files), (QStringList{"a.xml", "b.xml", "c.xml", "d.xml"}));
    }

    // Combine needs the same root, by local name and namespace, and takes any number of top-level nodes.
    void checkForCombine() {
        writeFile(path("a.xml"), "<r><x/><y/></r>");
        writeFile(path("b.xml"), "<r><x/></r>");
        writeFile(path("c.xml"), "<r xmlns=\"urn:c\"/>");
        writeFile(path("d.xml"), "<q/>");
        const Run run = join({"--check", "--combine", "a.xml", "b.xml", "c.xml", "d.xml"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, QByteArray("a.xml: ok (root r, 2 top-level nodes)\n"
                                     "b.xml: ok (root r, 1 top-level node)\n"
                                     "c.xml: root r in namespace urn:c, but a.xml has root r in no namespace\n"
                                     "d.xml: root q, but a.xml has root r\n"
                                     "2 of 4 files would stop a Combine.\n"));
        QCOMPARE(join({"--check", "--combine", "a.xml", "b.xml"}).out.split('\n').at(2),
                 QByteArray("All 2 files can be combined."));
    }

    void combineJoinsRecordsAndReports() {
        writeFile(path("a.xml"), "<orders><order n=\"1\"/><order n=\"2\"/></orders>");
        writeFile(path("b.xml"), "<orders><order n=\"2\"/><order n=\"3\"/></orders>");
        const Run run = join({"--combine", "--unique", "--report", "-", "a.xml", "b.xml"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out,
                 QByteArray("<orders>\n  <order n=\"1\"/>\n  <order n=\"2\"/>\n  <order n=\"3\"/>\n</orders>\n"));
        QCOMPARE(run.err,
                 QByteArray("{\"mode\":\"combine\",\"completed\":true,\"inputs\":[{\"path\":\"a.xml\",\"role\":"
                            "\"base\"},{\"path\":\"b.xml\",\"added\":1,\"repeated\":1}]}\n"));

        writeFile(path("c.xml"), "<invoices/>");
        const Run stopped = join({"--combine", "--report", "-", "a.xml", "c.xml"});
        QCOMPARE(stopped.status, 1);
        QVERIFY(stopped.out.isEmpty());
        QVERIFY(stopped.err.endsWith(
            "[{\"path\":\"a.xml\",\"role\":\"base\"},{\"path\":\"c.xml\",\"comparedWith\":\"a.xml\",\"root\":"
            "\"invoices\",\"status\":\"different-root\",\"topLevelNodes\":0}]}\n"));
    }

    // The check holds a few blocks of its input, never the whole of it nor its tree: a check of 50 MB peaks at a
    // small part of that, where a tree would take twenty times the input.
    void checkOfALargeInputStaysInBoundedMemory() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers keep freed memory aside");
#endif
        constexpr int records = 900000;
        writeCatalog(path("big.xml"), records);
        QVERIFY(QFileInfo(path("big.xml")).size() > qint64(50) << 20);
        const QByteArray program = QFile::encodeName(QCoreApplication::applicationDirPath() + "/corvanta-join");
        const QByteArray input = QFile::encodeName(path("big.xml"));
        const QByteArray output = QFile::encodeName(path("out.txt"));
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(output.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, STDOUT_FILENO);
            ::execl(program.constData(), program.constData(), "--check", input.constData(), nullptr);
            ::_exit(127);
        }
        QVERIFY(pid > 0);
        int status = 0;
        rusage usage{};
        QCOMPARE(::wait4(pid, &status, 0, &usage), pid);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(readFile(path("out.txt")), input + ": ok (root catalog, " + QByteArray::number(records) +
                                                " top-level nodes)\n" + "The file can be merged.\n");
        const long peakMegabytes = usage.ru_maxrss / 1024; // in kilobytes on Linux
        QVERIFY2(peakMegabytes < 128, qPrintable(QStringLiteral("peak %1 MB").arg(peakMegabytes)));
    }

    void memoryStaysBoundedAsTheInputsGrow_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("merge: new second-level elements") << "--merge";
        QTest::newRow("combine: records") << "--combine";
        QTest::newRow("check: one top-level element holding all") << "--check";
    }

    // Peak memory, not time: what a join keeps besides its bounded buffers is the first document's outline and the
    // names seen, which these inputs keep few of.
    void memoryStaysBoundedAsTheInputsGrow() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers' shadow memory grows with every allocation");
#endif
        QFETCH(QString, mode);
        const bool records = mode == "--combine";
        const QByteArray body(2000, 'x');
        long peaks[2] = {};
        qint64 inputBytes[2] = {};
        for (const int set : {0, 1}) {
            QStringList arguments{mode};
            if (mode != "--check")
                arguments << "-o" << path("out.xml");
            for (int k = 0; k < 4; ++k) {
                // Four times the elements in the second set, each with a name of its own under Merge.
                QByteArray xml = records ? "<r>\n" : "<r>\n<a>\n";
                for (int i = 0; i < 2000 << (2 * set); ++i) {
                    const QByteArray name = records ? "rec" : "v" + QByteArray::number(k) + "_" + QByteArray::number(i);
                    xml += "<" + name + ">" + body + "</" + name + ">\n";
                }
                xml += records ? "</r>\n" : "</a>\n</r>\n";
                const QString input = path(QStringLiteral("in%1-%2.xml").arg(set).arg(k));
                writeFile(input, xml);
                inputBytes[set] += xml.size();
                arguments << input;
            }
            peaks[set] = peakKilobytesOfJoin(arguments, path("temp"));
            QVERIFY(peaks[set] > 0);
            // What went on in files beside the working file is gone with it.
            QCOMPARE(QDir(path("temp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList());
        }
        const qint64 grownKilobytes = (inputBytes[1] - inputBytes[0]) / 1024;
        QVERIFY2(peaks[1] - peaks[0] < grownKilobytes / 4,
                 qPrintable(QStringLiteral("peak %1 KB, then %2 KB").arg(peaks[0]).arg(peaks[1])));
    }

    // Memory that runs out, wherever it does (starting the threads, parsing, merging, in any mode or a check),
    // ends the run with one line in plain words and status 1, and takes the working folder with it; it never
    // aborts, hangs, goes on over a half-made step, or leaves an input out for it.
    void runningOutOfMemorySaysSo_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("megabytes");
        QTest::addColumn<bool>("typed"); // with a document type, which the check parses into a tree
        QTest::addColumn<QByteArray>("said");
        const QByteArray join = "There was not enough memory to finish the join.\n";
        const QByteArray check = "corvanta-join: there was not enough memory to finish the check\n";
        QTest::newRow("merge: threads cannot start") << QStringList{} << 100 << false << join;
        QTest::newRow("merge: the first input does not fit") << QStringList{} << 180 << false << join;
        QTest::newRow("merge: the second input does not fit") << QStringList{} << 250 << false << join;
        QTest::newRow("merge: a merged node cannot be made") << QStringList{} << 400 << false << join;
        QTest::newRow("merge keeping going") << QStringList{"--keep-going"} << 220 << false << join;
        QTest::newRow("combine") << QStringList{"--combine"} << 130 << false << join;
        QTest::newRow("combine keeping going") << QStringList{"--combine", "--keep-going"} << 130 << false << join;
        QTest::newRow("check") << QStringList{"--check"} << 250 << true << check;
        QTest::newRow("check for a combine") << QStringList{"--check", "--combine"} << 250 << true << check;
    }

    void runningOutOfMemorySaysSo() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers reserve address space of their own");
#endif
        QFETCH(QStringList, options);
        QFETCH(int, megabytes);
        QFETCH(bool, typed);
        QFETCH(QByteArray, said);
        writeCatalog(path("a.xml"), 200000, typed);
        writeCatalog(path("b.xml"), 200000, typed);
        QProcess process;
        process.setChildProcessModifier([megabytes] {
            const rlimit limit{rlim_t(megabytes) << 20, rlim_t(megabytes) << 20};
            setrlimit(RLIMIT_AS, &limit);
        });
        process.setWorkingDirectory(m_folders.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QVERIFY(QDir().mkpath(path("temp")));
        env.insert("TEMP", path("temp"));
        process.setProcessEnvironment(env);
        if (!options.contains("--check"))
            options << "-o"
                    << "out.xml";
        process.start(QCoreApplication::applicationDirPath() + "/corvanta-join", options << "a.xml"
                                                                                         << "b.xml");
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.readAllStandardError(), said);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QDir(path("temp")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QVERIFY(!QFile::exists(path("out.xml")));
    }

    void checkOfAMergeableListExitsZero() {
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path("b.xml"), "<p:r xmlns:p=\"urn:p\"><y/></p:r>");
        const Run run = join({"--check", "a.xml", "b.xml"});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.endsWith("\nAll 2 files can be merged.\n"));
        QVERIFY(run.err.isEmpty());
    }

    void checkAsJsonIsOneDocument_data() {
        QTest::addColumn<bool>("broken");
        QTest::newRow("mergeable") << false;
        QTest::newRow("not mergeable") << true;
    }

    void checkAsJsonIsOneDocument() {
        QFETCH(bool, broken);
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path("b.xml"), broken ? "<s/>" : "<r><y/></r>");
        const Run run = join({"--check", "--json", "a.xml", "b.xml"});
        QCOMPARE(run.status, broken ? 1 : 0);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(run.out, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(document.object().value("mergeable"), QJsonValue(!broken));
        const QJsonArray inputs = document.object().value("inputs").toArray();
        QCOMPARE(inputs.size(), 2);
        QCOMPARE(inputs[1].toObject().value("status"), QJsonValue(broken ? "different-root" : "ok"));
        QCOMPARE(inputs[1].toObject().value("path"), QJsonValue("b.xml"));
        QVERIFY(run.err.isEmpty());
    }

    // Scripts may compare the text itself: members by name, four spaces a level, non-ASCII as it is, control
    // characters escaped.
    void checkAsJsonKeepsItsLayout() {
        const QString odd = QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac\b\\\"\f.xml");
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path(odd), "<r><x/><y/></r>");
        writeFile(path("b.xml"), "<s/>");
        writeFile(path("c.xml"), "<r><x></y></r>");
        const Run run = join({"--check", "--json", "a.xml", odd, "b.xml", "c.xml", "gone.xml"});
        QCOMPARE(run.status, 1);
        const QByteArrayList expected{"{",
                                      "    \"inputs\": [",
                                      "        {",
                                      "            \"path\": \"a.xml\",",
                                      "            \"root\": \"r\",",
                                      "            \"status\": \"ok\",",
                                      "            \"topLevelNodes\": 1",
                                      "        },",
                                      "        {",
                                      "            \"comparedWith\": \"a.xml\",",
                                      "            \"path\": \"café €\\b\\\\\\\"\\f.xml\",",
                                      "            \"root\": \"r\",",
                                      "            \"status\": \"different-count\",",
                                      "            \"topLevelNodes\": 2",
                                      "        },",
                                      "        {",
                                      "            \"comparedWith\": \"a.xml\",",
                                      "            \"path\": \"b.xml\",",
                                      "            \"root\": \"s\",",
                                      "            \"status\": \"different-root\",",
                                      "            \"topLevelNodes\": 0",
                                      "        },",
                                      "        {",
                                      "            \"column\": 11,",
                                      "            \"line\": 1,",
                                      "            \"path\": \"c.xml\",",
                                      "            \"reason\": \"Opening and ending tag mismatch: x line 1 and y\",",
                                      "            \"status\": \"not-well-formed\"",
                                      "        },",
                                      "        {",
                                      "            \"path\": \"gone.xml\",",
                                      "            \"reason\": \"No such file or directory\",",
                                      "            \"status\": \"unreadable\"",
                                      "        }",
                                      "    ],",
                                      "    \"mergeable\": false",
                                      "}"};
        QCOMPARE(run.out, expected.join('\n') + '\n');
        QVERIFY(QDir().mkpath(path("empty")));
        QCOMPARE(join({"--check", "--json", "empty"}).out,
                 QByteArray("{\n    \"inputs\": [\n    ],\n    \"mergeable\": false\n}\n"));
    }

    // The report adds a JSON document and changes nothing else: not the result, the messages nor the status.
    void reportAddsOnlyItself_data() {
        QTest::addColumn<QStringList>("mode");
        QTest::addColumn<QByteArrayList>("texts");
        QTest::addColumn<bool>("completed");
        QTest::newRow("merge") << QStringList{"--merge"}
                               << QByteArrayList{"<r><x><a/></x></r>", "<r><x><a/><b/></x></r>"} << true;
        QTest::newRow("merge that stops") << QStringList{} << QByteArrayList{"<r><x/></r>", "<r><x>"} << false;
        QTest::newRow("append") << QStringList{"--append"} << QByteArrayList{"A", ""} << true;
    }

    void reportAddsOnlyItself() {
        QFETCH(QStringList, mode);
        QFETCH(QByteArrayList, texts);
        QFETCH(bool, completed);
        writeFile(path("a.xml"), texts[0]);
        writeFile(path("b.xml"), texts[1]);
        const Run plain = join(mode + QStringList{"a.xml", "b.xml"});

        const Run toFile = join(mode + QStringList{"--report", "report.json", "a.xml", "b.xml"});
        const Run toErr = join(mode + QStringList{"a.xml", "--report", "-", "b.xml"});

        for (const Run* run : {&toFile, &toErr}) {
            QCOMPARE(run->status, plain.status);
            QCOMPARE(run->out, plain.out);
        }
        QCOMPARE(toFile.err, plain.err);
        QVERIFY(toErr.err.startsWith(plain.err));
        const QByteArray reported = readFile(path("report.json"));
        QCOMPARE(toErr.err.mid(plain.err.size()), reported);
        const QJsonObject report = QJsonDocument::fromJson(reported).object();
        QCOMPARE(report.value("mode"), QJsonValue(mode == QStringList{"--append"} ? "append" : "merge"));
        QCOMPARE(report.value("completed"), QJsonValue(completed));
        QCOMPARE(report.value("inputs").toArray().size(), 2);
        QCOMPARE(report.value("inputs").toArray()[0].toObject().value("path"), QJsonValue("a.xml"));
    }

    // Files are compared, not spellings: a report never takes the place of an input or of the result.
    void reportOntoAnInputOrTheResultIsRefused_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("an input") << QStringList{"--report", "a.xml", "a.xml", "b.xml"};
        QTest::newRow("an input spelt otherwise") << QStringList{"--report", "./sub/../a.xml", "b.xml", "a.xml"};
        QTest::newRow("a link to an input") << QStringList{"--append", "--report", "link.xml", "a.xml"};
        QTest::newRow("an input in a folder") << QStringList{"--report", "sub/c.xml", "a.xml", "sub"};
        QTest::newRow("a missing input of its name") << QStringList{"--report", "./gone.xml", "a.xml", "gone.xml"};
        QTest::newRow("the result") << QStringList{"-o", "out.xml", "--report", "out.xml", "a.xml"};
        QTest::newRow("a result still to be made") << QStringList{"-o", "new.xml", "--report", "./new.xml", "a.xml"};
    }

    void reportOntoAnInputOrTheResultIsRefused() {
        QFETCH(QStringList, arguments);
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path("b.xml"), "<r><y/></r>");
        QVERIFY(QDir().mkpath(path("sub")));
        writeFile(path("sub/c.xml"), "<r><z/></r>");
        writeFile(path("out.xml"), "keep me");
        QVERIFY(QFile::link("a.xml", path("link.xml")));
        const Run run = join(arguments);
        QCOMPARE(run.status, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.startsWith("corvanta-join: --report "), run.err.constData());
        QCOMPARE(readFile(path("a.xml")), QByteArray("<r><x/></r>"));
        QCOMPARE(readFile(path("sub/c.xml")), QByteArray("<r><z/></r>"));
        QCOMPARE(readFile(path("out.xml")), QByteArray("keep me"));
        QVERIFY(!QFileInfo::exists(path("new.xml")));
    }

    // A name that is not valid UTF-8 is opened as the bytes it is, in every mode, and shown with those bytes escaped.
    void namesThatAreNotUtf8AreOpenedAsTheirBytes_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("append") << QStringList{"--append"} << QByteArray("<r><a/></r><r><b/></r>");
        QTest::newRow("merge") << QStringList{"--merge"} << QByteArray(); // stopped by the missing input alone
        QTest::newRow("check") << QStringList{"--check"} << QByteArray(); // its lines are checked below
    }

    void namesThatAreNotUtf8AreOpenedAsTheirBytes() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, out);
        const QByteArray folder = QFile::encodeName(m_folders.path()) + '/';
        const QByteArray first = folder + "caf\xe9.xml", second = folder + "\xff\xfe.xml";
        for (const auto& [name, text] : {std::pair{first, "<r><a/></r>"}, std::pair{second, "<r><b/></r>"}}) {
            const int descriptor = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(descriptor >= 0);
            QVERIFY(::write(descriptor, text, std::strlen(text)) == qsizetype(std::strlen(text)));
            ::close(descriptor);
        }
        const QStringList names{corvanta::pathFromNative(first), corvanta::pathFromNative(second)};
        const Run run = joinHere(options + names + QStringList{corvanta::pathFromNative(folder + "gone\x80.xml")},
                                 ErrorStream::File);
        QCOMPARE(run.status, 1);
        if (options != QStringList{"--check"})
            QCOMPARE(run.out, out);
        if (options == QStringList{"--merge"})
            QVERIFY(!run.err.contains("caf") && !run.err.contains("\\xff"));
        const QByteArray shown = "$'" + folder + "gone\\x80.xml'";
        QVERIFY2((run.out + run.err).contains(shown), (run.out + run.err).constData());
        if (options == QStringList{"--check"})
            QVERIFY(run.out.startsWith("$'" + folder + "caf\\xe9.xml': ok (root r, 1 top-level node)\n$'" + folder +
                                       "\\xff\\xfe.xml': ok (root r, 1 top-level node)\n"));
    }

    // A name with a line break or an escape sequence is quoted in messages and lines; the JSON keeps it as it is.
    void namesWithControlCharactersAreQuoted() {
        const QString name = QStringLiteral("a\nb\x1b[31m.xml");
        writeFile(path(name), "<r/>");
        const Run lines = join({"--check", name, "gone\x1b]0;x\a.xml"});
        QCOMPARE(lines.out, QByteArray("$'a\\nb\\e[31m.xml': ok (root r, 0 top-level nodes)\n"
                                       "$'gone\\e]0;x\\x07.xml': cannot be read: No such file or directory\n"
                                       "1 of 2 files would stop a Merge.\n"));
        const Run json = join({"--check", "--json", name});
        QCOMPARE(QJsonDocument::fromJson(json.out)["inputs"][0]["path"].toString(), name);
        const Run append = join({"--append", "gone\x1b[2J.xml", name});
        QCOMPARE(append.status, 1);
        QVERIFY(!append.err.contains('\x1b'));
        QVERIFY(append.err.contains("\nfile1: $'gone\\e[2J.xml'\n"));
    }

    // A declared encoding is read as declared and joined in UTF-8; one that cannot be read, and a code-page text
    // that only begins like UTF-16, are told in plain words and fail the run.
    void encodingsAreReadAsDeclaredOrRefused_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("told"); // on standard output for --check, on standard error otherwise
        QTest::newRow("merge of Shift_JIS")
            << QStringList{"--merge"}
            << QByteArray("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<r><s><a>\x93\xfa\x96\x7b</a></s></r>") << 0
            << QByteArray("<a>\xe6\x97\xa5\xe6\x9c\xac</a>");
        QTest::newRow("append of UTF-7")
            << QStringList{"--append"} << QByteArray("<?xml version='1.0' encoding='UTF-7'?><r>+ADw-s+AD4-</r>") << 1
            << QByteArray("The encoding \"UTF-7\" named in the XML declaration cannot be read.\n");
        QTest::newRow("check of an unknown name")
            << QStringList{"--check"} << QByteArray("<?xml version=\"1.0\" encoding=\"x-no-such\"?><r>\xe9</r>") << 1
            << QByteArray(
                   "a.xml: cannot be read: The encoding \"x-no-such\" named in the XML declaration cannot be read.\n");
        QTest::newRow("append of a code-page text that begins with 0xff")
            << QStringList{"--append"}
            << QByteArray("\xff"
                          "caf\xe9")
            << 1 << QByteArray("The file begins like UTF-16 text but is not valid UTF-16.\n");
    }

    void encodingsAreReadAsDeclaredOrRefused() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QByteArray, told);
        writeFile(path("a.xml"), bytes);
        writeFile(path("b.xml"), "<r><s><b>\xe6\x9c\xac</b></s></r>");
        const Run run = join(options + QStringList{"a.xml", "b.xml"});
        QCOMPARE(run.status, status);
        const QByteArray& where = options == QStringList{"--check"} || status == 0 ? run.out : run.err;
        QVERIFY2(where.contains(told), (run.out + run.err).constData());
        if (options == QStringList{"--append"})
            QCOMPARE(run.out, QByteArray("<r><s><b>\xe6\x9c\xac</b></s></r>")); // nothing of the refused input
        else if (status == 0)
            QVERIFY(run.out.contains("<b>\xe6\x9c\xac</b>"));
    }

    void reportThatCannotBeWrittenIsToldAndFailsTheRun() {
        writeFile(path("a.xml"), "A");
        const Run run = join({"--append", "--report", "missing/report.json", "a.xml"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, QByteArray("A")); // the result is still written
        QVERIFY(run.err.startsWith("corvanta-join: report not written: missing/report.json"));
    }

    // Lists as editors, other systems and find -print0 write them; the PATHs join where the option stands.
    void filesFromJoinsTheListedPathsInOrder_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("joined");
        QTest::newRow("LF") << QStringList{} << QByteArray("a.xml\nb c.xml\n") << QByteArray("AB");
        QTest::newRow("CR LF and blank lines")
            << QStringList{} << QByteArray("\r\na.xml\r\n \r\n\r\nb c.xml\r\n\r\n") << QByteArray("AB");
        QTest::newRow("last line unterminated") << QStringList{} << QByteArray("b c.xml\na.xml") << QByteArray("BA");
        QTest::newRow("NUL, a name with a line break")
            << QStringList{"--null"} << QByteArray("new\nline.xml\0a.xml\0\0", 20) << QByteArray("NA");
        QTest::newRow("a folder, as a folder PATH") << QStringList{} << QByteArray("sub\na.xml\n") << QByteArray("12A");
        QTest::newRow("absolute paths") << QStringList{} << QByteArray("@/b c.xml\n@/a.xml\n") << QByteArray("BA");
        QTest::newRow("between PATHs") << QStringList{"new\nline.xml", "--files-from", "@list", "sub/2.xml"}
                                       << QByteArray("a.xml\n") << QByteArray("NA2");
        QTest::newRow("as an assignment, twice")
            << QStringList{"--files-from=@list", "b c.xml", "--files-from", "@list"} << QByteArray("a.xml\n")
            << QByteArray("ABA");
    }

    void filesFromJoinsTheListedPathsInOrder() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, joined);
        writeFile(path("a.xml"), "A");
        writeFile(path("b c.xml"), "B");
        writeFile(path("new\nline.xml"), "N");
        writeFile(path("sub/1.xml"), "1");
        writeFile(path("sub/2.xml"), "2");
        writeFile(path("list"), list.replace('@', QFile::encodeName(m_folders.path())));
        if (!arguments.contains("--files-from") && !arguments.contains("--files-from=@list"))
            arguments += QStringList{"--files-from", "@list"};
        arguments.replaceInStrings("@list", "list");
        const Run run = join(QStringList{"--append"} + arguments);
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, joined);

        // The same list from standard input.
        if (arguments.count("list") + arguments.count("--files-from=list") != 1)
            return;
        m_standardInput = path("list");
        arguments.replaceInStrings(QRegularExpression("^list$"), "-");
        arguments.replaceInStrings("--files-from=list", "--files-from=-");
        const Run piped = join(QStringList{"--append"} + arguments);
        QCOMPARE(piped.status, 0);
        QCOMPARE(piped.out, joined);
    }

    void filesFromProblems_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("missing list") << QStringList{"--files-from", "nolist", "a.xml"} << 1
                                      << QByteArray(
                                             "corvanta-join: list not read: nolist: No such file or directory\n");
        QTest::newRow("a folder as the list")
            << QStringList{"--files-from", "sub"} << 1 << QByteArray("corvanta-join: list not read: sub");
        QTest::newRow("empty list") << QStringList{"--files-from", "empty"} << 1 << QByteArray("No files added.\n");
        QTest::newRow("undecodable name, opened as its bytes")
            << QStringList{"--files-from", "latin1"} << 1 << QByteArray("Error reading $'caf\\xe9.xml'\n");
        QTest::newRow("--null alone") << QStringList{"--null", "a.xml"} << 2 << QByteArray("corvanta-join: --null");
        QTest::newRow("empty list name") << QStringList{"--files-from", ""} << 2
                                         << QByteArray("corvanta-join: --files");
        QTest::newRow("standard input twice")
            << QStringList{"--files-from", "-", "--files-from=-"} << 2 << QByteArray("corvanta-join: --files-from -");
    }

    void filesFromProblems() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, error);
        writeFile(path("a.xml"), "<r/>");
        writeFile(path("sub/1.xml"), "<r/>");
        writeFile(path("empty"), "\n\n");
        writeFile(path("latin1"), "a.xml\ncaf\xe9.xml\n");
        const Run run = join(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.startsWith(error), run.err.constData());
    }

    // Thousands of inputs, some of every kind that cannot be joined: keeping going gives what the good ones alone
    // give, names each one left out, and exits 1; without it the join stops as before.
    void keepGoingJoinsWhatTheGoodInputsAloneJoin_data() {
        // Kinds: 0 not well-formed, 1 another root, 2 another number of top-level nodes (Merge) or another root
        // namespace (Combine), 3 unreadable, 4 missing.
        QTest::addColumn<bool>("combine");
        QTest::addColumn<QList<int>>("badAt");
        QTest::addColumn<QList<int>>("kinds");
        for (const bool combine : {false, true}) {
            const char* mode = combine ? "combine: " : "merge: ";
            QTest::addRow("%sthe first ones bad", mode)
                << combine << QList<int>{0, 1, 2, 10, 11} << QList<int>{4, 0, 3, 1, 2};
            QTest::addRow("%sscattered", mode)
                << combine << QList<int>{7, 500, 1201, 1900, 2999} << QList<int>{0, 1, 2, 3, 4};
            QTest::addRow("%snone bad", mode) << combine << QList<int>{} << QList<int>{};
        }
    }

    void keepGoingJoinsWhatTheGoodInputsAloneJoin() {
        QFETCH(bool, combine);
        QFETCH(QList<int>, badAt);
        QFETCH(QList<int>, kinds);
        const QList<QByteArray> badTexts{"<r><t>", "<q><t/><u/></q>",
                                         combine ? "<r xmlns=\"urn:x\"><t/><u/></r>" : "<r><t/></r>"};
        const QStringList statuses{"not-well-formed", "different-root", combine ? "different-root" : "different-count",
                                   "unreadable", "unreadable"};
        const QStringList mode{combine ? "--combine" : "--merge"};
        QByteArray all;
        QByteArray good;
        for (int i = 0; i < 3000; ++i) {
            const QString name = QStringLiteral("in%1.xml").arg(i);
            const int kind = badAt.contains(i) ? kinds[badAt.indexOf(i)] : -1;
            if (kind < 0)
                writeFile(path(name), QStringLiteral("<r><t><a%1/></t><u><b/></u></r>").arg(i).toUtf8());
            else if (kind == 3)
                QVERIFY(QFile::link("/proc/self/mem", path(name))); // opens, but cannot be read
            else if (kind < 3)
                writeFile(path(name), badTexts[kind]);
            all += name.toUtf8() + '\n';
            if (kind < 0)
                good += name.toUtf8() + '\n';
        }
        writeFile(path("all"), all);
        writeFile(path("good"), good);

        const Run expected = join(mode + QStringList{"--files-from", "good"});
        QCOMPARE(expected.status, 0);
        const Run run = join(mode + QStringList{"--keep-going", "--report", "report.json", "--files-from", "all"});
        QCOMPARE(run.out, expected.out);
        QCOMPARE(run.status, badAt.isEmpty() ? 0 : 1);
        const QList<QByteArray> lines = run.err.split('\n');
        QCOMPARE(lines.size(), badAt.size() + 1);
        const QJsonArray inputs = QJsonDocument::fromJson(readFile(path("report.json"))).object()["inputs"].toArray();
        QCOMPARE(inputs.size(), 3000);
        for (int k = 0; k < badAt.size(); ++k) {
            QVERIFY2(lines[k].startsWith("corvanta-join: left out in" + QByteArray::number(badAt[k]) + ".xml: "),
                     lines[k].constData());
            const QJsonObject reported = inputs[badAt[k]].toObject();
            QCOMPARE(reported["role"].toString(), QStringLiteral("skipped"));
            QCOMPARE(reported["status"].toString(), statuses[kinds[k]]);
        }
        // The base is the first usable input.
        QCOMPARE(inputs[!badAt.isEmpty() && badAt[0] == 0 ? 3 : 0].toObject()["role"].toString(),
                 QStringLiteral("base"));

        const Run stopped = join(mode + QStringList{"--files-from", "all"});
        QCOMPARE(stopped.status, badAt.isEmpty() ? 0 : 1);
        if (!badAt.isEmpty())
            QVERIFY(stopped.out != expected.out);
    }

private:
    // A catalog of \a records items, about 70 bytes each, written a megabyte at a time; \a typed: with a document
    // type declaration.
    static void writeCatalog(const QString& name, int records, bool typed = false) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray block = typed ? "<!DOCTYPE catalog [<!ENTITY price \"1.50\">]>\n<catalog>\n" : "<catalog>\n";
        for (int i = 0; i < records; ++i) {
            const QByteArray n = QByteArray::number(i);
            block += "  <item n=\"" + n + "\"><name>Item " + n + "</name><price>1.50</price></item>\n";
            if (block.size() > (1 << 20) || i == records - 1) {
                QCOMPARE(file.write(block), block.size());
                block.clear();
            }
        }
        QVERIFY(file.write("</catalog>\n") > 0);
    }

    QString path(const QString& name) const {
        return m_folders.filePath(name);
    }

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

    /// The root's name, then the names of its element children, of a document libxml2 parses; nothing when it
    /// does not parse.
    static QStringList rootNames(const QByteArray& xml) {
        std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(
            xmlReadMemory(xml.constData(), int(xml.size()), nullptr, nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR),
            xmlFreeDoc);
        const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
        if (!root)
            return {};
        QStringList names{QString::fromUtf8(reinterpret_cast<const char*>(root->name))};
        for (const xmlNode* child = root->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                names << QString::fromUtf8(reinterpret_cast<const char*>(child->name));
        return names;
    }

    /// Runs corvanta-join. With \a fileSizeLimit, no file that it writes may grow past that many bytes; \a outputMode
    /// says how \a standardOutput is opened (truncated or appended to).
    // The peak resident memory of corvanta-join run with \a arguments and its working folders in \a temp, which
    // must succeed; 0 when it did not.
    static long peakKilobytesOfJoin(const QStringList& arguments, const QString& temp) {
        if (!QDir().mkpath(temp))
            return 0;
        const QByteArray tempPath = temp.toLocal8Bit();
        const QByteArray program = (QCoreApplication::applicationDirPath() + "/corvanta-join").toLocal8Bit();
        QByteArrayList encoded{program};
        for (const QString& argument : arguments)
            encoded << argument.toLocal8Bit();
        std::vector<char*> argv;
        for (QByteArray& argument : encoded)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            setenv("TEMP", tempPath.constData(), 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 0;
        return usage.ru_maxrss;
    }

    Run join(const QStringList& arguments, const QList<QPair<QString, QString>>& environment = {},
             const QString& standardOutput = {}, const QString& errorFile = {}, qint64 fileSizeLimit = 0,
             QIODevice::OpenMode outputMode = QIODevice::Truncate) const {
        QProcess process;
        if (fileSizeLimit > 0)
            process.setChildProcessModifier([fileSizeLimit] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        if (!standardOutput.isEmpty())
            process.setStandardOutputFile(standardOutput, outputMode);
        if (!errorFile.isEmpty())
            process.setStandardErrorFile(errorFile);
        process.setWorkingDirectory(m_folders.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto& [name, value] : environment)
            env.insert(name, value);
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationDirPath() + "/corvanta-join", arguments);
        if (!m_standardInput.isEmpty())
            process.write(readFile(m_standardInput));
        process.closeWriteChannel();
        Run run;
        if (!process.waitForFinished(60000))
            return run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    // Fills a pipe up to its capacity, so that the next write into it waits for a reader.
    static void fillPipe(int writeEnd) {
        const int flags = ::fcntl(writeEnd, F_GETFL);
        ::fcntl(writeEnd, F_SETFL, flags | O_NONBLOCK);
        const QByteArray block(4096, '.');
        while (::write(writeEnd, block.constData(), size_t(block.size())) > 0) {
        }
        ::fcntl(writeEnd, F_SETFL, flags);
    }

    // Waits until a working folder below \a root holds its working file.
    static bool waitForWorkingFile(const QString& root) {
        return QTest::qWaitFor(
            [&] {
                for (const QString& folder : QDir(root).entryList({"corvanta-*"}, QDir::Dirs))
                    if (QFileInfo::exists(root + "/" + folder + "/temp.xml"))
                        return true;
                return false;
            },
            20000);
    }

    TestFolders m_folders{TestFolders::Temp::Unchanged};
    QString m_standardInput; // what the next join() reads on standard input; nothing when empty
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
