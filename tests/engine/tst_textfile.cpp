#include "engine/files/workingfile.h"
#include "engine/join/joinedtext.h"
#include "engine/text/codepage.h"
#include "engine/text/failure.h"
#include "engine/text/textfile.h"
#include "tests/support/smallfilesystem.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace corvanta;

Q_DECLARE_METATYPE(corvanta::TextReading)

class TestTextFile : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void fileExistsNeverFails() {
        QVERIFY(!fileExists(QString()));
        QVERIFY(!fileExists(m_folders.filePath("missing.xml")));
        QVERIFY(fileExists(m_folders.path()));
        writeFile(m_folders.filePath("a.xml"), "<a/>");
        QVERIFY(fileExists(m_folders.filePath("a.xml")));
    }

    void readsEveryEncoding_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<TextReading>("reading");
        QTest::newRow("ascii") << QByteArray("<r>x</r>") << QStringLiteral("<r>x</r>") << TextReading::Utf8;
        QTest::newRow("zero length") << QByteArray() << QStringLiteral("empty file") << TextReading::Empty;
        QTest::newRow("utf-8 combined") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9")
                                        << TextReading::Utf8;
        QTest::newRow("utf-8 bom kept") << QByteArray("\xef\xbb\xbf<r/>") << QStringLiteral("\ufeff<r/>")
                                        << TextReading::Utf8;
        QTest::newRow("lone e9 is cp1252")
            << QByteArray("caf\xe9") << QStringLiteral("caf\u00e9") << TextReading::Windows1252;
        QTest::newRow("cp1252 euro and quotes")
            << QByteArray("\x80\x93\x94") << QStringLiteral("\u20ac\u201c\u201d") << TextReading::Windows1252;
        QTest::newRow("mixed valid and invalid")
            << QByteArray("\xc3\xa9\xe9") << QStringLiteral("\u00e9\u00e9") << TextReading::Windows1252;
        QTest::newRow("declared Shift_JIS")
            << QByteArray("<?xml version='1.0' encoding='Shift_JIS'?><r>\x93\xfa\x96\x7b</r>")
            << QStringLiteral("<?xml version='1.0' encoding='Shift_JIS'?><r>\u65e5\u672c</r>") << TextReading::Declared;
        QTest::newRow("declared EUC-JP") << QByteArray("<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r>\xc6\xfc</r>")
                                         << QStringLiteral("<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r>\u65e5</r>")
                                         << TextReading::Declared;
        QTest::newRow("the utf-8 bom outweighs a declaration")
            << QByteArray("\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r>\xc6\xfc</r>")
            << QStringLiteral("\ufeff<?xml version=\"1.0\" encoding=\"EUC-JP\"?><r>\u00c6\u00fc</r>")
            << TextReading::Windows1252;
        QTest::newRow("declared ISO-8859-2")
            << QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-2\"?>\xb1")
            << QStringLiteral("<?xml version=\"1.0\" encoding=\"iso-8859-2\"?>\u0105") << TextReading::Declared;
        QTest::newRow("declared Shift_JIS, but utf-8")
            << QByteArray("<?xml version=\"1.0\" encoding=\"shift_jis\"?><r>\xe6\x97\xa5</r>")
            << QStringLiteral("<?xml version=\"1.0\" encoding=\"shift_jis\"?><r>\u65e5</r>") << TextReading::Utf8;
        QTest::newRow("declared ISO-8859-1 keeps Windows-1252")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\x80")
            << QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\u20ac") << TextReading::Windows1252;
        QTest::newRow("declared EBCDIC in ascii bytes is not the text's")
            << QByteArray("<?xml version=\"1.0\" encoding=\"IBM037\"?>\xe9")
            << QStringLiteral("<?xml version=\"1.0\" encoding=\"IBM037\"?>\u00e9") << TextReading::Windows1252;
        QTest::newRow("truncated sequence")
            << QByteArray("a\xe2\x82") << QStringLiteral("a\u00e2\u201a") << TextReading::Windows1252;
        QTest::newRow("overlong is not utf-8")
            << QByteArray("\xc0\xaf") << QStringLiteral("\u00c0\u00af") << TextReading::Windows1252;
        QTest::newRow("encoded surrogate is not utf-8")
            << QByteArray("\xed\xa0\x80") << QStringLiteral("\u00ed\u00a0\u20ac") << TextReading::Windows1252;
        QTest::newRow("utf-16le bom kept")
            << QByteArray("\xff\xfe<\0r\0/\0>\0", 10) << QStringLiteral("\ufeff<r/>") << TextReading::Utf16LE;
        QTest::newRow("utf-16be") << QByteArray("\xfe\xff\0<\0r\0/\0>", 10) << QStringLiteral("\ufeff<r/>")
                                  << TextReading::Utf16BE;
        QTest::newRow("fe not followed by ff is little-endian")
            << QByteArray("\xfe\0a\0", 4) << QStringLiteral("\u00fea") << TextReading::Utf16LE;
        QTest::newRow("ff not utf-16 still read as utf-16")
            << QByteArray("\xff\x41") << QStringLiteral("\u41ff") << TextReading::Utf16LE;
        QTest::newRow("odd byte becomes replacement")
            << QByteArray("\xff\xfe\x41\0\x42", 5) << QStringLiteral("\ufeffA\ufffd") << TextReading::Utf16LE;
        QTest::newRow("utf-16 surrogate pair")
            << QByteArray("\xff\xfe\x3d\xd8\x00\xde", 6) << QStringLiteral("\ufeff\U0001F600") << TextReading::Utf16LE;
        QTest::newRow("utf-16 unpaired surrogates become replacements")
            << QByteArray("\xff\xfe\x00\xd8\x41\0\x00\xdc\x3d\xd8", 10) << QStringLiteral("\ufeff\ufffdA\ufffd\ufffd")
            << TextReading::Utf16LE;
        QTest::newRow("utf-16be swapped pair becomes two replacements")
            << QByteArray("\xfe\xff\xdc\x00\xd8\x3d", 6) << QStringLiteral("\ufeff\ufffd\ufffd")
            << TextReading::Utf16BE;
        QTest::newRow("utf-32le bom kept") << QByteArray("\xff\xfe\0\0<\0\0\0\xe9\0\0\0\x00\xf6\x01\0", 16)
                                           << QStringLiteral("\ufeff<\u00e9\U0001F600") << TextReading::Utf32LE;
        QTest::newRow("utf-32be") << QByteArray("\0\0\xfe\xff\0\0\0<\0\x01\xf6\x00", 12)
                                  << QStringLiteral("\ufeff<\U0001F600") << TextReading::Utf32BE;
        QTest::newRow("utf-32 surrogates and values past U+10FFFF become replacements")
            << QByteArray("\xff\xfe\0\0\x00\xd8\0\0\0\0\x11\0a\0\0\0", 16) << QStringLiteral("\ufeff\ufffd\ufffda")
            << TextReading::Utf32LE;
        QTest::newRow("utf-32 incomplete last unit becomes one replacement")
            << QByteArray("\0\0\xfe\xff\0\0\0a\0\0", 10) << QStringLiteral("\ufeffa\ufffd") << TextReading::Utf32BE;
        QTest::newRow("utf-16le text starting with U+0000 reads as utf-32")
            << QByteArray("\xff\xfe\0\0a\0\0\0", 8) << QStringLiteral("\ufeffa") << TextReading::Utf32LE;
        QTest::newRow("two zero bytes without the mark are not utf-32")
            << QByteArray("\0\0\0a", 4) << QString(QChar(0)) + QChar(0) + QChar(0) + QStringLiteral("a")
            << TextReading::Utf8;
    }

    void readsEveryEncoding() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(TextReading, reading);
        const QString path = m_folders.filePath("in.xml");
        writeFile(path, bytes);
        QCOMPARE(readTextFile(path), text);
        QCOMPARE(readTextFileEncoded(path), encodeSystemCodePage(text));
        std::optional<TextReading> told;
        QCOMPARE(readTextFileEncoded(path, told), encodeSystemCodePage(text));
        QVERIFY(told == reading);
        QCOMPARE(readFile(path), bytes); // reading never changes the input
    }

    // Refused by every way of reading alike, with the reason in plain words. An unknown name says nothing of the
    // bytes and UTF-7 hides markup in plain ASCII; a first byte of 0xFF or 0xFE without a byte-order mark is most
    // often a code-page text, which must not come out as other characters.
    void refusedTexts_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const QString cannot = QStringLiteral("The encoding \"%1\" named in the XML declaration cannot be read.");
        QTest::newRow("UTF-7") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<r>+ADw-s+AD4-</r>")
                               << cannot.arg("UTF-7");
        QTest::newRow("unknown") << QByteArray("<?xml version='1.0' encoding='x-no-such'?><r>\xe9</r>")
                                 << cannot.arg("x-no-such");
        const QString notUtf16 = QStringLiteral("The file begins like UTF-16 text but is not valid UTF-16.");
        QTest::newRow("0xff and an odd byte count") << QByteArray("\xff"
                                                                  "caf\xe9")
                                                    << notUtf16;
        QTest::newRow("0xfe and a lone surrogate") << QByteArray("\xfe\0\0\xd8"
                                                                 "a\0",
                                                                 6)
                                                   << notUtf16;
    }

    void refusedTexts() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = m_folders.filePath("in.xml");
        writeFile(path, bytes);
        QCOMPARE(failureOf([&] { decodeFileText(bytes); }), reason);
        for (const qint64 blockSize : {1, 3, 256 * 1024}) {
            QCOMPARE(failureOf([&] { streamed(path, blockSize); }), reason);
            QCOMPARE(failureOf([&] {
                         TextFileReader pulled(path, blockSize);
                         for (QByteArray piece; pulled.readPiece(piece);) {
                         }
                     }),
                     reason);
        }
    }

    void readTextFileOfMissingPathIsEmpty() {
        QCOMPARE(readTextFile(m_folders.filePath("nope.xml")), QString());
        QCOMPARE(readTextFileEncoded(m_folders.filePath("nope.xml")), QByteArray());
        std::optional<TextReading> told;
        QCOMPARE(readTextFileEncoded(m_folders.filePath("nope.xml"), told), QByteArray());
        QVERIFY(told == TextReading::Missing);
    }

    void readTextFileOfFolderThrows() {
        QVERIFY_THROWS_EXCEPTION(Failure, readTextFile(m_folders.path()));
        QVERIFY_THROWS_EXCEPTION(Failure, readTextFileEncoded(m_folders.path()));
        std::optional<TextReading> told;
        QVERIFY_THROWS_EXCEPTION(Failure, readTextFileEncoded(m_folders.path(), told));
        QVERIFY(!told); // a failed read says nothing of how it read
    }

    // Refused before it is opened: opening a named pipe blocks until a writer comes, a device reads for ever.
    void readRefusesWhatIsNoRegularFile_data() {
        QTest::addColumn<QString>("target"); // "fifo": a named pipe made for the test
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("named pipe") << "fifo" << false;
        QTest::newRow("link to a named pipe") << "fifo" << true;
        QTest::newRow("character device") << "/dev/zero" << false;
        QTest::newRow("link to a character device") << "/dev/urandom" << true;
    }

    void readRefusesWhatIsNoRegularFile() {
#ifdef Q_OS_UNIX
        QFETCH(QString, target);
        QFETCH(bool, throughLink);
        if (target == "fifo") {
            target = m_folders.filePath("pipe");
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        }
        QString path = target;
        if (throughLink) {
            path = m_folders.filePath("link.xml");
            QVERIFY(QFile::link(target, path));
        }

        QCOMPARE(failureOf([&] { readTextFile(path); }), QStringLiteral("not a regular file"));
        QCOMPARE(failureOf([&] { readTextFileEncoded(path); }), QStringLiteral("not a regular file"));
        QCOMPARE(failureOf([&] { TextFileReader reader(path); }), QStringLiteral("not a regular file"));
#else
        QSKIP("named pipes and devices are a Unix matter");
#endif
    }

    // While a helper swaps the input for a named pipe or a link to /dev/zero and back, every read gives the file's
    // text or refuses what it opened; none waits for a writer or reads past the file.
    void readOfAFileSwappedMeanwhileNeverHangs_data() {
        QTest::addColumn<QString>("swappedIn"); // "fifo": a named pipe made for the test
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "/dev/zero";
    }

    void readOfAFileSwappedMeanwhileNeverHangs() {
        QFETCH(QString, swappedIn);
        const QString path = m_folders.filePath("in.xml"), regular = m_folders.filePath("regular.xml");
        const QString other = m_folders.filePath("other.xml");
        const QByteArray text = QByteArray("<r>text</r>\n").repeated(100);
        writeFile(path, text);
        // The reads run in a child process, killed when one hangs; forked first, so that it has one thread.
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(readUntilBothOutcomes(path, text));
        QVERIFY(child > 0);
        std::jthread swapper([&](const std::stop_token& stop) {
            for (bool regularIn = true; !stop.stop_requested(); regularIn = !regularIn) {
                if (regularIn) {
                    writeFile(regular, text);
                    const bool made = swappedIn == "fifo" ? ::mkfifo(QFile::encodeName(other).constData(), 0600) == 0
                                                          : QFile::link(swappedIn, other);
                    if (!made)
                        return;
                }
                // rename() swaps atomically: the path always names one or the other.
                ::rename(QFile::encodeName(regularIn ? other : regular).constData(),
                         QFile::encodeName(path).constData());
            }
        });
        int status = -1;
        const bool inTime = QTest::qWaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; }, 20000);
        if (!inTime) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
        }
        swapper.request_stop();
        swapper.join();
        QVERIFY2(inTime, "a read hung");
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(QStringLiteral("a read gave something other than the file or a refusal: %1").arg(status)));
    }

    void utf8AndAsciiRoundTripByteForByte() {
        const QByteArray bytes("<r a=\"\xe2\x82\xac\">\xf0\x9f\x98\x80 caf\xc3\xa9</r>\r\n");
        QCOMPARE(encodeSystemCodePage(decodeSystemCodePage(bytes)), bytes);
        QCOMPARE(recodeSystemCodePage(bytes), bytes);
        QVERIFY(isValidUtf8(bytes));
        QVERIFY(!isValidUtf8(QByteArray("\xf4\x90\x80\x80"))); // past U+10FFFF
    }

    void loneSurrogateIsWrittenAsReplacement() {
        const QString text = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b");
        QCOMPARE(encodeSystemCodePage(text), QByteArray("a\xef\xbf\xbd"
                                                        "b"));
    }

    void appendCreatesAndAppends() {
        const QString path = m_folders.filePath("out.txt");
        {
            WorkingFileAppender working(path);
            working.appendBytes(encodeSystemCodePage(QStringLiteral("one\u00e9")));
            working.appendBytes(encodeSystemCodePage(QStringLiteral("two")));
            QVERIFY(working.lastWriteError().isEmpty());
        }
        QCOMPARE(readFile(path), QByteArray("one\xc3\xa9two"));
        WorkingFileAppender(path).appendBytes("three"); // a later run appends to what is there
        QCOMPARE(readFile(path), QByteArray("one\xc3\xa9twothree"));

        QCOMPARE(readTextFile(path), QStringLiteral("one\u00e9twothree"));
        writeTextFile(QStringLiteral("x"), path);
        QCOMPARE(readFile(path), QByteArray("x"));
    }

    void appendInMissingFolderFailsAndCreatesNothing() {
        const QString path = m_folders.filePath("no/such/folder/out.txt");
        WorkingFileAppender working(path);
        working.appendBytes("x");
        QVERIFY(!working.lastWriteError().isEmpty());
        QVERIFY(!QFile::exists(path));
        WorkingFileAppender nowhere{QString()};
        nowhere.appendBytes("x");
        QVERIFY(!nowhere.lastWriteError().isEmpty());
    }

    void removeFileIsQuiet() {
        removeFile(m_folders.filePath("missing"));
        removeFile(QString());
        removeFile(m_folders.path()); // never removes a folder
        QVERIFY(QFileInfo(m_folders.path()).isDir());
        writeFile(m_folders.filePath("k.xml"), "k");
        removeFile(m_folders.filePath("k.xml"));
        QVERIFY(!QFile::exists(m_folders.filePath("k.xml")));
    }

    void writeTextFileReplacesWhole() {
        const QString path = m_folders.filePath("save.xml");
        writeFile(path, "a much longer old content");
        writeTextFile(QStringLiteral("new \u00e9"), path);
        QCOMPARE(readFile(path), QByteArray("new \xc3\xa9"));
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files), QStringList{"save.xml"});
    }

    void writeTextFileFailureKeepsTargetAndLeavesNothing() {
        // A folder where the file should be: the rename cannot replace it.
        const QString target = m_folders.filePath("target");
        QDir().mkpath(target + "/inside");
        QVERIFY_THROWS_EXCEPTION(Failure, writeTextFile(QStringLiteral("text"), target));
        QVERIFY(QFileInfo(target + "/inside").isDir());
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

        try {
            writeTextFile(QStringLiteral("text"), m_folders.filePath("missing/folder/out.xml"));
            QFAIL("expected a failure");
        } catch (const Failure& failure) {
            QCOMPARE(failure.description(),
                     m_folders.filePath("missing/folder/out.xml") + QStringLiteral(": No such file or directory"));
        }
    }

    // A disk that fills up part-way through a write: the failure carries the system's reason, not Qt's "Unknown
    // error" of a short write.
    void appendToAFullDiskFailsWithTheReason() {
        const SmallFileSystem small(64);
        const QString path = small.filePath("out.txt");
        const QByteArray block(40 * qsizetype(1024), 'x');

        WorkingFileAppender working(path);
        working.appendBytes(block);
        QVERIFY(working.lastWriteError().isEmpty());
        working.appendBytes(block);
        QCOMPARE(working.lastWriteError(), path + ": No space left on device");
        working.appendBytes(block);
        QVERIFY(!working.lastWriteError().isEmpty());
        QCOMPARE(readFile(path), block); // what was there stays, and nothing of the failed appends
    }

    void writeTextFileOnAFullDiskKeepsTheTargetAndLeavesNothing() {
        const SmallFileSystem small(64);
        const QString path = small.filePath("save.xml");
        writeFile(path, "old");

        QCOMPARE(failureOf([&] { writeTextFile(QStringLiteral("z").repeated(100 * qsizetype(1024)), path); }),
                 path + ": No space left on device");
        QCOMPARE(readFile(path), QByteArray("old"));
        QCOMPARE(QDir(small.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"save.xml"});
    }

    // A disk that fills up during the write: the system's reason, the old file kept, nothing left behind. The
    // small size would sit in a write buffer until the commit, which would then keep the cut-off file.
    void writeThatRunsOutOfSpaceKeepsTheTarget_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("smaller than a write buffer") << 10000;
        QTest::newRow("larger than a write buffer") << 300000;
    }

    void writeThatRunsOutOfSpaceKeepsTheTarget() {
        QFETCH(int, size);
        const QString target = m_folders.filePath("save.xml");
        writeFile(target, "old");
        QString description;
        {
            const FileSizeLimit limit(8192);
            try {
                writeFileAtomically(QByteArray(size, 'x'), target);
            } catch (const Failure& failure) {
                description = failure.description();
            }
        }
        QCOMPARE(description, target + ": File too large");
        QCOMPARE(readFile(target), QByteArray("old"));
        QCOMPARE(QDir(m_folders.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"save.xml"});
    }

    // Characters cut by a block's end, at every block size: the reader gives what a whole reading gives.
    void streamingMatchesWholeReadingAtEveryBlockSize_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("utf-8 of every length") << QByteArray("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z")
                                               << QByteArray("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z");
        QTest::newRow("cut sequence then ascii") << QByteArray("\xe2\x82"
                                                               "A")
                                                 << QByteArray("\xc3\xa2\xe2\x80\x9a"
                                                               "A");
        QTest::newRow("invalid bytes among valid")
            << QByteArray("caf\xe9 \xc3\xa9\x80\xed\xa0\x80")
            << QByteArray("caf\xc3\xa9 \xc3\xa9\xe2\x82\xac\xc3\xad\xc2\xa0\xe2\x82\xac");
        QTest::newRow("cut at the very end")
            << QByteArray("ab\xf0\x9f\x98") << QByteArray("ab\xc3\xb0\xc5\xb8\xcb\x9c");
        QTest::newRow("utf-8 bom") << QByteArray("\xef\xbb\xbf<r/>") << QByteArray("\xef\xbb\xbf<r/>");
        QTest::newRow("utf-16le surrogate pair")
            << QByteArray("\xff\xfe\x3d\xd8\x00\xde<\0", 8) << QByteArray("\xef\xbb\xbf\xf0\x9f\x98\x80<");
        QTest::newRow("utf-16be surrogate pair")
            << QByteArray("\xfe\xff\xd8\x3d\xde\x00\0>", 8) << QByteArray("\xef\xbb\xbf\xf0\x9f\x98\x80>");
        QTest::newRow("utf-16 lone high surrogate and odd byte")
            << QByteArray("\xff\xfe\x3d\xd8\x41", 5) << QByteArray("\xef\xbb\xbf\xef\xbf\xbd\xef\xbf\xbd");
        QTest::newRow("utf-32le unit and pair")
            << QByteArray("\xff\xfe\0\0\x00\xf6\x01\0<\0\0\0", 12) << QByteArray("\xef\xbb\xbf\xf0\x9f\x98\x80<");
        QTest::newRow("utf-32be surrogate and incomplete last unit")
            << QByteArray("\0\0\xfe\xff\0\0\xd8\0\0\0", 10) << QByteArray("\xef\xbb\xbf\xef\xbf\xbd\xef\xbf\xbd");
        QTest::newRow("declared Shift_JIS")
            << QByteArray("<?xml version='1.0' encoding='Shift_JIS'?>\x93\xfa\x96\x7b")
            << QByteArray("<?xml version='1.0' encoding='Shift_JIS'?>\xe6\x97\xa5\xe6\x9c\xac");
        QTest::newRow("empty") << QByteArray() << QByteArray("empty file");
    }

    void streamingMatchesWholeReadingAtEveryBlockSize() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, encoded);
        const QString path = m_folders.filePath("in.xml");
        writeFile(path, bytes);
        if (!bytes.isEmpty())
            QCOMPARE(encodeSystemCodePage(decodeFileText(bytes)), encoded); // the whole reading agrees
        for (const qint64 blockSize : {1, 2, 3, 4, 5, 7, 8, 256 * 1024}) {
            QVERIFY2(streamed(path, blockSize) == encoded, qPrintable(QStringLiteral("block size %1").arg(blockSize)));
            // Pulled piece by piece, the same text and the same verdict on how it was read.
            TextFileReader pulled(path, blockSize);
            QByteArray text;
            for (QByteArray piece; pulled.readPiece(piece);)
                text += piece;
            QVERIFY2(text == encoded, qPrintable(QStringLiteral("pulled, block size %1").arg(blockSize)));
            TextFileReader pushed(path, blockSize);
            NullSink nothing;
            pushed.writeTo(nothing);
            QCOMPARE(pulled.reading(), pushed.reading());
        }
    }

    // At the block size the joins use: a character that straddles the end of the first block comes out whole, and
    // an invalid byte just before or after it is read as Windows-1252 all the same.
    void charactersAcrossTheRealBlockEndComeOutWhole_data() {
        QTest::addColumn<QByteArray>("head"); // the start of the file, encoding included
        QTest::addColumn<QByteArray>("straddling");
        QTest::addColumn<QByteArray>("expected"); // what the straddling bytes become
        QTest::addColumn<int>("unit");            // bytes per code unit of the filler
        QTest::newRow("utf-8 four-byte sequence")
            << QByteArray() << QByteArray("\xf0\x9f\x98\x80") << QByteArray("\xf0\x9f\x98\x80") << 1;
        QTest::newRow("invalid byte, then a cut sequence")
            << QByteArray() << QByteArray("\xe9\xe2\x82\xac") << QByteArray("\xc3\xa9\xe2\x82\xac") << 1;
        QTest::newRow("cut sequence that turns out invalid")
            << QByteArray() << QByteArray("\xe2\x82z") << QByteArray("\xc3\xa2\xe2\x80\x9az") << 1;
        QTest::newRow("utf-16 surrogate pair")
            << QByteArray("\xff\xfe") << QByteArray("\x3d\xd8\x00\xde", 4) << QByteArray("\xf0\x9f\x98\x80") << 2;
        QTest::newRow("utf-16 lone high surrogate")
            << QByteArray("\xff\xfe") << QByteArray("\x3d\xd8z\0", 4) << QByteArray("\xef\xbf\xbdz") << 2;
    }

    void charactersAcrossTheRealBlockEndComeOutWhole() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, straddling);
        QFETCH(QByteArray, expected);
        QFETCH(int, unit);
        const auto filler = [&](qsizetype bytes) { // 'a' in the file's own encoding
            QByteArray one(unit, '\0');
            one[0] = 'a';
            return one.repeated(bytes / unit);
        };
        const QByteArray bom = head.isEmpty() ? QByteArray() : QByteArray("\xef\xbb\xbf");
        int cuts = 0;
        for (qsizetype before = 1; before < straddling.size(); ++before) {
            // The first block ends after `before` bytes of the straddling ones.
            const qsizetype lead = kStreamBlockSize - head.size() - before;
            if (lead % unit != 0)
                continue; // a wide text's blocks end between its units
            ++cuts;
            const QByteArray bytes = head + filler(lead) + straddling + filler(qsizetype{4} * unit);
            const QString path = m_folders.filePath("edge.xml");
            writeFile(path, bytes);
            const QByteArray text = readTextFileEncoded(path);
            const QByteArray want = bom + QByteArray(lead / unit, 'a') + expected + QByteArray(4, 'a');
            QVERIFY2(text == want, qPrintable(QStringLiteral("%1 byte(s) in the first block").arg(before)));
        }
        QVERIFY(cuts > 0);
    }

    void streamingIsBlockSizeInvariantOnRandomText() {
        static const QList<QByteArray> pieces = {
            "a",    "<r>",      "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\x80",
            "\xe9", "\xc0\xaf", "\xe2\x82", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xff",
            "\xfe", "\0",       "\x3d\xd8", "\x00\xde"};
        QRandomGenerator random(20240); // fixed: a failure can be replayed
        const QString path = m_folders.filePath("random.xml");
        for (int round = 0; round < 400; ++round) {
            QByteArray bytes;
            for (int n = random.bounded(0, 60); n > 0; --n)
                bytes += pieces[random.bounded(pieces.size())];
            writeFile(path, bytes);
            // A refused text is refused alike.
            const auto outcome = [](auto&& read) -> QByteArray {
                try {
                    return read();
                } catch (const Failure& failure) {
                    return "refused: " + failure.description().toUtf8();
                }
            };
            const QByteArray whole =
                bytes.isEmpty() ? "empty file" : outcome([&] { return encodeSystemCodePage(decodeFileText(bytes)); });
            const qint64 blockSize = random.bounded(1, 40);
            QVERIFY2(outcome([&] { return streamed(path, blockSize); }) == whole,
                     qPrintable(QStringLiteral("round %1, block size %2, input %3")
                                    .arg(round)
                                    .arg(blockSize)
                                    .arg(QString::fromLatin1(bytes.toHex(' ')))));
        }
    }

    void vectorisedUtf8CheckAgreesWithQt() {
        // Every byte pair where one 32-byte step meets the next, then random bytes of every length.
        QByteArray text(40, 'x');
        for (int first = 0; first < 256; ++first) {
            for (int second = 0; second < 256; ++second) {
                text[31] = char(first);
                text[32] = char(second);
                for (const qsizetype length : {32, 33, 34, 40}) {
                    const QByteArrayView view(text.constData(), length);
                    if (isValidUtf8(view) != view.isValidUtf8())
                        QFAIL(qPrintable(
                            QStringLiteral("%1 %2, length %3").arg(first, 2, 16).arg(second, 2, 16).arg(length)));
                }
            }
        }
        QRandomGenerator random(7);
        static const QList<QByteArray> pieces = {
            "abc",          "\xc3\xa9",     "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf",
            "\xee\x80\x80", "\xed\x9f\xbf", "\xe0\xa0\x80", "\xf0\x90\x80\x80"};
        for (int round = 0; round < 20000; ++round) {
            QByteArray bytes;
            for (int n = random.bounded(0, 30); n > 0; --n)
                bytes += pieces[random.bounded(pieces.size())];
            if (random.bounded(2) && !bytes.isEmpty())
                bytes[random.bounded(bytes.size())] = char(random.bounded(256)); // one damaged byte, often invalid
            if (isValidUtf8(bytes) != QByteArrayView(bytes).isValidUtf8())
                QFAIL(qPrintable(QString::fromLatin1(bytes.toHex(' '))));
        }
    }

    void readerFollowsAFileThatGrowsOrShrinks_data() {
        QTest::addColumn<qint64>("newSize"); // -1: grows
        QTest::addColumn<qint64>("expectedSize");
        // The reader has taken the first block of 64 bytes when the file changes.
        QTest::newRow("grows") << qint64(-1) << qint64(450);
        QTest::newRow("shrinks ahead of the reader") << qint64(100) << qint64(100);
        QTest::newRow("shrinks behind the reader") << qint64(10) << qint64(64);
    }

    void readerFollowsAFileThatGrowsOrShrinks() {
        QFETCH(qint64, newSize);
        QFETCH(qint64, expectedSize);
        const QString path = m_folders.filePath("changing.xml");
        QByteArray content;
        for (int i = 0; content.size() < 200; ++i)
            content += QByteArray::number(i) + ' ';
        content.truncate(200);
        writeFile(path, content);
        const QByteArray tail(250, 'b');

        QByteArray got;
        ChangingSink sink(got, [&] {
            if (newSize < 0) {
                QFile file(path);
                QVERIFY(file.open(QIODevice::Append) && file.write(tail) == tail.size());
            } else {
                QVERIFY(QFile::resize(path, newSize));
            }
        });
        TextFileReader(path, 64).writeTo(sink);

        QCOMPARE(got, (content + tail).left(expectedSize));
    }

    // Decoded block by block as the window takes it: the same text as a whole read, characters cut by a block's
    // end included, and a stop heard before it is all read.
    void joinedTextIsTheWholeReadAndHearsAStop_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("UTF-8 over many blocks") << QByteArray("<r>\xe2\x82\xac\xf0\x9f\x98\x80</r>\n").repeated(60000);
        QTest::newRow("Windows-1252") << QByteArray("<r>caf\xe9</r>\n").repeated(60000);
        const QString wide = u"<r>\u20ac"_qs + QString(300000, u'x') + u"</r>"_qs;
        QTest::newRow("UTF-16")
            << QByteArray("\xff\xfe").append(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
        QTest::newRow("empty") << QByteArray();
    }

    void joinedTextIsTheWholeReadAndHearsAStop() {
        QFETCH(QByteArray, bytes);
        const QString working = m_folders.filePath("work/temp.xml");
        writeFile(working, bytes);

        QCOMPARE(JoinedText(working).text(), readTextFile(working));
        std::stop_source stop;
        stop.request_stop();
        if (!bytes.isEmpty())
            QVERIFY_THROWS_EXCEPTION(StopRequested, JoinedText(working).text(stop.get_token()));
    }

    void saveAsCopiesAndKeepsTheTargetWhenTheDiskIsFull() {
        const QString working = m_folders.filePath("work/temp.xml");
        const QString target = m_folders.filePath("out/result.xml");
        const QByteArray text = QByteArray("caf\xc3\xa9 ").repeated(60000); // 360 KB, several blocks
        writeFile(working, text);
        writeFile(target, "old");
        QVERIFY(
            QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));

        {
            const FileSizeLimit full(qint64{64} * 1024); // every write past 64 KB fails, as on a full disk
            QVERIFY_THROWS_EXCEPTION(WriteFailure, JoinedText(working).saveAs(target));
        }
        QCOMPARE(readFile(target), QByteArray("old"));
        QCOMPARE(QDir(m_folders.filePath("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"result.xml"});

        JoinedText(working).saveAs(target);
        QCOMPARE(readFile(target), text);
        QVERIFY(QFile::exists(working)); // copied, not moved: the bytes were checked on the way
        QCOMPARE(QFile::permissions(target), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                                 QFileDevice::WriteUser | QFileDevice::ReadGroup);
    }

    void saveAsMovesAWorkingFileThatHoldsTheTextAsItIs() {
        const QString working = m_folders.filePath("work/temp.xml");
        const QString target = m_folders.filePath("out/result.xml");
        const QByteArray text = QByteArray("<r>\xe2\x82\xac</r>\n").repeated(30000);
        writeFile(working, text);
        writeFile(target, "old");
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        {
            // Nothing is written, so a full disk does not matter: the working file becomes the target.
            const FileSizeLimit full(qint64{64} * 1024);
            JoinedText(working, true).saveAs(target);
        }
        QCOMPARE(readFile(target), text);
        QVERIFY(!QFile::exists(working));
        QCOMPARE(QFile::permissions(target) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());

        // An empty working file stands for "empty file": that text is written, the file stays.
        writeFile(working, "");
        JoinedText(working, true).saveAs(target);
        QCOMPARE(readFile(target), QByteArray("empty file"));
        QVERIFY(QFile::exists(working));
    }

    void appendLeavesNothingOfAnInputWhoseWriteFails() {
        const QString path = m_folders.filePath("temp.xml");
        writeFile(m_folders.filePath("small.xml"), "<small/>");
        writeFile(m_folders.filePath("large.xml"), QByteArray(qsizetype{100} * 1024, 'x'));
        writeFile(m_folders.filePath("wide.xml"), QByteArray("\xff\xfe<\0w\0/\0>\0", 10));
        WorkingFileAppender working(path, 4096);
        {
            const FileSizeLimit full(qint64{64} * 1024);
            working.appendFile(m_folders.filePath("small.xml"));
            QVERIFY(working.lastWriteError().isEmpty());
            working.appendFile(m_folders.filePath("large.xml"));
            QVERIFY(!working.lastWriteError().isEmpty());
            working.appendFile(m_folders.filePath("wide.xml"));
            QVERIFY(working.lastWriteError().isEmpty());
        }
        QCOMPARE(readFile(path), QByteArray("<small/>\xef\xbb\xbf<w/>"));
        QVERIFY(working.holdsWholeTexts());
    }

private:
    // Reads \a path over and over for three seconds, and on until both a whole read and a refusal were seen (or ten
    // seconds passed): 0 when every read gave \a text or "not a regular file", 1 when one gave something else, 2
    // when time ran out.
    static int readUntilBothOutcomes(const QString& path, const QByteArray& text) {
        // Throws as soon as more arrives than the file holds, so that a device that never ends is noticed.
        class BoundedSink final : public ByteSink {
        public:
            explicit BoundedSink(qsizetype limit)
                : m_limit(limit) {}
            void write(QByteArrayView bytes) override {
                if (got.size() + bytes.size() > m_limit)
                    throw std::length_error("read past the file");
                got.append(bytes);
            }
            QByteArray got;

        private:
            qsizetype m_limit;
        };
        QElapsedTimer timer;
        timer.start();
        bool read = false, refused = false;
        while (!(read && refused && timer.hasExpired(3000))) {
            if (timer.hasExpired(10000))
                return 2;
            try {
                BoundedSink sink(text.size());
                TextFileReader(path).writeTo(sink);
                if (sink.got != text)
                    return 1;
                read = true;
            } catch (const Failure& failure) {
                if (failure.description() != QStringLiteral("not a regular file"))
                    return 1;
                refused = true;
            } catch (const std::length_error&) {
                return 1;
            }
        }
        return 0;
    }

    // The description of the Failure that \a action throws; "no failure" when it throws none.
    template <typename Action> static QString failureOf(Action&& action) {
        try {
            action();
        } catch (const Failure& failure) {
            return failure.description();
        }
        return QStringLiteral("no failure");
    }

    /// Collects what it is given and changes the file being read when the first piece arrives, as another program
    /// writing to it might.
    class ChangingSink final : public ByteSink {
    public:
        ChangingSink(QByteArray& got, std::function<void()> change)
            : m_got(got)
            , m_change(std::move(change)) {}
        void write(QByteArrayView bytes) override {
            m_got.append(bytes);
            if (m_change)
                std::exchange(m_change, nullptr)();
        }

    private:
        QByteArray& m_got;
        std::function<void()> m_change;
    };

    static QByteArray streamed(const QString& path, qint64 blockSize) {
        QByteArray text;
        ByteArraySink sink(text);
        TextFileReader(path, blockSize).writeTo(sink);
        return text;
    }

    TestFolders m_folders{TestFolders::Temp::Unchanged}; // fresh for every test
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
