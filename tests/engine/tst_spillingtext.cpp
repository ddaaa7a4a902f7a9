#include "engine/text/spillingtext.h"

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
};

QTEST_GUILESS_MAIN(TestSpillingText)
#include "tst_spillingtext.moc"
