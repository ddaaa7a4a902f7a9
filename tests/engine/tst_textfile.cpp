#include "codepage.h"
#include "failure.h"
#include "smallfilesystem.h"
#include "testfiles.h"
#include "textfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace corvanta;

Q_DECLARE_METATYPE(corvanta::TextReading)

class TestTextFile : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_temp = std::make_unique<QTemporaryDir>();
        QVERIFY(m_temp->isValid());
    }

    void fileExistsNeverFails() {
        QVERIFY(!fileExists(QString()));
        QVERIFY(!fileExists(m_temp->filePath("missing.xml")));
        QVERIFY(fileExists(m_temp->path()));
        writeFile(m_temp->filePath("a.xml"), "<a/>");
        QVERIFY(fileExists(m_temp->filePath("a.xml")));
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
        const QString path = m_temp->filePath("in.xml");
        writeFile(path, bytes);
        QCOMPARE(readTextFile(path), text);
        QCOMPARE(readTextFileEncoded(path), encodeSystemCodePage(text));
        std::optional<TextReading> told;
        QCOMPARE(readTextFileEncoded(path, told), encodeSystemCodePage(text));
        QVERIFY(told == reading);
        QCOMPARE(readFile(path), bytes); // reading never changes the input
    }

    void readTextFileOfMissingPathIsEmpty() {
        QCOMPARE(readTextFile(m_temp->filePath("nope.xml")), QString());
        QCOMPARE(readTextFileEncoded(m_temp->filePath("nope.xml")), QByteArray());
        std::optional<TextReading> told;
        QCOMPARE(readTextFileEncoded(m_temp->filePath("nope.xml"), told), QByteArray());
        QVERIFY(told == TextReading::Missing);
    }

    void readTextFileOfFolderThrows() {
        QVERIFY_THROWS_EXCEPTION(Failure, readTextFile(m_temp->path()));
        QVERIFY_THROWS_EXCEPTION(Failure, readTextFileEncoded(m_temp->path()));
        std::optional<TextReading> told;
        QVERIFY_THROWS_EXCEPTION(Failure, readTextFileEncoded(m_temp->path(), told));
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
            target = m_temp->filePath("pipe");
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        }
        QString path = target;
        if (throughLink) {
            path = m_temp->filePath("link.xml");
            QVERIFY(QFile::link(target, path));
        }

        QCOMPARE(failureOf([&] { readTextFile(path); }), QStringLiteral("not a regular file"));
        QCOMPARE(failureOf([&] { readTextFileEncoded(path); }), QStringLiteral("not a regular file"));
        QCOMPARE(failureOf([&] { readTextFileBytes(path); }), QStringLiteral("not a regular file"));
#else
        QSKIP("named pipes and devices are a Unix matter");
#endif
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
        const QString path = m_temp->filePath("out.txt");
        QCOMPARE(appendBytes(path, encodeSystemCodePage(QStringLiteral("one\u00e9"))), 0);
        QCOMPARE(appendBytes(path, encodeSystemCodePage(QStringLiteral("two"))), 0);
        QCOMPARE(readFile(path), QByteArray("one\xc3\xa9two"));

        QCOMPARE(readTextFile(path), QStringLiteral("one\u00e9two"));
        writeTextFile(QStringLiteral("x"), path);
        QCOMPARE(readFile(path), QByteArray("x"));
    }

    void appendInMissingFolderFailsAndCreatesNothing() {
        const QString path = m_temp->filePath("no/such/folder/out.txt");
        QVERIFY(appendBytes(path, "x") != 0);
        QVERIFY(!QFile::exists(path));
        QVERIFY(appendBytes(QString(), "x") != 0);
    }

    void removeFileIsQuiet() {
        removeFile(m_temp->filePath("missing"));
        removeFile(QString());
        removeFile(m_temp->path()); // never removes a folder
        QVERIFY(QFileInfo(m_temp->path()).isDir());
        writeFile(m_temp->filePath("k.xml"), "k");
        removeFile(m_temp->filePath("k.xml"));
        QVERIFY(!QFile::exists(m_temp->filePath("k.xml")));
    }

    void writeTextFileReplacesWhole() {
        const QString path = m_temp->filePath("save.xml");
        writeFile(path, "a much longer old content");
        writeTextFile(QStringLiteral("new \u00e9"), path);
        QCOMPARE(readFile(path), QByteArray("new \xc3\xa9"));
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::Files), QStringList{"save.xml"});
    }

    void writeTextFileFailureKeepsTargetAndLeavesNothing() {
        // A folder where the file should be: the rename cannot replace it.
        const QString target = m_temp->filePath("target");
        QDir().mkpath(target + "/inside");
        QVERIFY_THROWS_EXCEPTION(Failure, writeTextFile(QStringLiteral("text"), target));
        QVERIFY(QFileInfo(target + "/inside").isDir());
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::Files | QDir::Hidden), QStringList());

        try {
            writeTextFile(QStringLiteral("text"), m_temp->filePath("missing/folder/out.xml"));
            QFAIL("expected a failure");
        } catch (const Failure& failure) {
            QCOMPARE(failure.description(),
                     m_temp->filePath("missing/folder/out.xml") + QStringLiteral(": No such file or directory"));
        }
    }

    // A disk that fills up part-way through a write: the failure carries the system's reason, not Qt's "Unknown
    // error" of a short write.
    void appendToAFullDiskFailsWithTheReason() {
        const SmallFileSystem small(64);
        if (!small.isMounted())
            QSKIP(qPrintable(small.whyNot()));
        const QString path = small.filePath("out.txt");
        const QByteArray block(40 * qsizetype(1024), 'x');

        appendToFile(path, block);
        QCOMPARE(failureOf([&] { appendToFile(path, block); }), path + ": No space left on device");
        QVERIFY(appendBytes(path, block) != 0);
        QCOMPARE(readFile(path).left(block.size()), block); // what was there stays
    }

    void writeTextFileOnAFullDiskKeepsTheTargetAndLeavesNothing() {
        const SmallFileSystem small(64);
        if (!small.isMounted())
            QSKIP(qPrintable(small.whyNot()));
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
        const QString target = m_temp->filePath("save.xml");
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
        QCOMPARE(QDir(m_temp->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"save.xml"});
    }

private:
    // The description of the Failure that \a action throws; "no failure" when it throws none.
    template <typename Action> static QString failureOf(Action&& action) {
        try {
            action();
        } catch (const Failure& failure) {
            return failure.description();
        }
        return QStringLiteral("no failure");
    }

    std::unique_ptr<QTemporaryDir> m_temp; // fresh for every test
};

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
