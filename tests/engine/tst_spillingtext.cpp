#include "engine/text/spillingtext.h"
#include "engine/text/splicedtext.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace corvanta;

class TestSpillingText : public QObject {
    Q_OBJECT

private slots:
    // Read back in steps that cross the line between file and memory, the text is what was appended.
    void readsBackWhatWasAppended_data() {
        QTest::addColumn<bool>("withFolder");
        QTest::addColumn<int>("memoryLimit");
        QTest::addColumn<int>("step");
        QTest::newRow("no folder: memory only") << false << 8 << 7;
        QTest::newRow("under the limit") << true << 4096 << 5;
        QTest::newRow("file and memory, small steps") << true << 8 << 3;
        QTest::newRow("file and memory, one step") << true << 10 << 1000;
    }

    void readsBackWhatWasAppended() {
        QFETCH(bool, withFolder);
        QFETCH(int, memoryLimit);
        QFETCH(int, step);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QByteArray expected;
        SpillingText text(withFolder ? folder.path() : QString(), memoryLimit);
        for (int i = 0; i < 50; ++i) {
            const QByteArray piece = "<n" + QByteArray::number(i) + "/>";
            text.append(piece);
            expected += piece;
        }
        QCOMPARE(text.size(), expected.size());
        QByteArray read;
        qsizetype position = 0;
        while (position < text.size())
            text.read(position, step, [&](QByteArrayView block) { read += block; });
        QCOMPARE(read, expected);
        QByteArray again;
        text.readAll([&](QByteArrayView block) { again += block; });
        QCOMPARE(again, expected);
    }

    // Ranges of texts spliced in, some left out, between bytes of its own: read after the texts they come from are
    // gone, with part of every file range taken by the reader's own copy, the text is what was spliced.
    void splicedTextKeepsItsPiecesInOrder_data() {
        QTest::addColumn<int>("memoryLimit"); // of the texts spliced from
        QTest::addColumn<int>("unit");        // bytes per range spliced
        QTest::addColumn<bool>("gaps");       // every other range left out
        QTest::addColumn<int>("copied");      // what the copy takes of each file range; -1: no copy
        QTest::newRow("in memory") << (1 << 20) << 10 << false << -1;
        QTest::newRow("file ranges that join") << 1000 << 100 << false << -1;
        QTest::newRow("short file ranges between gaps") << 1000 << 100 << true << -1;
        QTest::newRow("long file ranges between gaps") << 1000 << 70000 << true << -1;
        QTest::newRow("partly copied") << 1000 << 70000 << true << 777;
        QTest::newRow("wholly copied") << 1000 << 100 << false << (1 << 30);
    }

    void splicedTextKeepsItsPiecesInOrder() {
        QFETCH(int, memoryLimit);
        QFETCH(int, unit);
        QFETCH(bool, gaps);
        QFETCH(int, copied);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        SplicedText spliced(folder.path(), 64);
        QByteArray expected;
        for (int source = 0; source < 3; ++source) {
            SpillingText text(folder.path(), memoryLimit);
            QByteArray whole;
            for (int i = 0; i < 8; ++i)
                whole += QByteArray(unit, char('a' + (source * 8 + i) % 26));
            text.append(whole);
            qsizetype position = 0;
            for (int i = 0; i < 8; ++i) {
                if (gaps && i % 2) {
                    position += unit;
                    continue;
                }
                expected += whole.mid(position, unit);
                text.spliceInto(spliced, position, unit);
            }
            const QByteArray own = "|" + QByteArray::number(source) + "|";
            spliced.append(own);
            expected += own;
        }
        QCOMPARE(spliced.size(), expected.size());
        QByteArray read;
        const auto copy = [&](QFileDevice& file, qint64 offset, qint64 length) -> qint64 {
            const qint64 taken = std::min<qint64>(copied, length);
            if (!file.seek(offset))
                return 0;
            read += file.read(taken);
            return taken;
        };
        spliced.readAll([&](QByteArrayView block) { read += block; },
                        copied < 0 ? SplicedText::RangeCopy() : SplicedText::RangeCopy(copy));
        QCOMPARE(read, expected);
    }

    // Past the open files a text may keep, a spliced range is copied: the text keeps only so many files open, and
    // reads the same once its sources are gone.
    void splicedTextCopiesPastTheOpenFiles() {
        const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files).size(); };
        const qsizetype before = openFiles();
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        SplicedText spliced(folder.path(), 64);
        QByteArray expected;
        {
            std::vector<SpillingText> sources;
            for (int i = 0; i < 200; ++i) {
                const QByteArray piece = QByteArray(70000, char('a' + i % 26)) + QByteArray::number(i);
                SpillingText& text = sources.emplace_back(folder.path(), 16);
                text.append(piece);
                expected += piece;
                qsizetype position = 0;
                text.spliceInto(spliced, position, text.size());
            }
        }
#ifdef Q_OS_LINUX
        const qsizetype kept = openFiles() - before;
        QVERIFY2(kept > 0 && kept <= 130, qPrintable(QString::number(kept)));
#endif
        QCOMPARE(spliced.size(), expected.size());
        QByteArray read;
        spliced.readAll([&](QByteArrayView block) { read += block; });
        QVERIFY(read == expected);
    }
};

QTEST_GUILESS_MAIN(TestSpillingText)
#include "tst_spillingtext.moc"
