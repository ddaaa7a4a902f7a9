#include "results/textsearch.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvanta;

Q_DECLARE_METATYPE(corvanta::SearchDirection)

namespace {

// Letters with case partners inside and outside ASCII, and units that share a low byte with them (U+0161 with 'a',
// U+0141 with 'A'), so that a shift table keyed too loosely would skip a match.
const QString kAlphabet = QStringLiteral("aAbB \u00e9\u00c9\u0161\u0141\u00dfk\u212A\u01c4\u01c5\u01c6\n<>");

QString randomText(QRandomGenerator& random, qsizetype length) {
    QString text;
    for (qsizetype i = 0; i < length; ++i)
        text += kAlphabet.at(random.bounded(int(kAlphabet.size())));
    return text;
}

} // namespace

class TestTextSearch : public QObject {
    Q_OBJECT

private slots:
    // The hand-written search (for texts of 64 K units and more) must find exactly what QString finds, forwards and
    // backwards, with and without case.
    void findsWhatQStringFinds() {
        QRandomGenerator random(20260512);
        for (int round = 0; round < 25; ++round) {
            const QString haystack = randomText(random, 70'000 + random.bounded(100));
            for (int pick = 0; pick < 8; ++pick) {
                QString needle = randomText(random, random.bounded(1, 9));
                if (pick % 4 == 0) // one that does occur, in another case
                    needle = haystack.mid(random.bounded(int(haystack.size())), random.bounded(1, 6)).toUpper();
                else if (pick % 4 == 1) // one that may not occur at all: every unit gets looked at
                    needle += QStringLiteral("\u0178x");
                for (const Qt::CaseSensitivity cs : {Qt::CaseSensitive, Qt::CaseInsensitive}) {
                    const QByteArray context = needle.toUtf8();
                    QVERIFY2(indexOfText(haystack, needle, cs) == QStringView(haystack).indexOf(needle, 0, cs),
                             context.constData());
                    QVERIFY2(lastIndexOfText(haystack, needle, cs) == QStringView(haystack).lastIndexOf(needle, -1, cs),
                             context.constData());
                }
            }
        }
    }

    void longAndUnusualNeedles() {
        // Longer than the 255 units a shift can hold.
        const QString block = QString(400, u'x') + QStringLiteral("Tail");
        const QString filler = QString(70'000, u'x');
        const QString haystack = filler + block + QStringLiteral(" middle ") + block.toUpper() + filler;
        QCOMPARE(indexOfText(haystack, QStringLiteral("x") + block, Qt::CaseInsensitive), filler.size() - 1);
        QCOMPARE(lastIndexOfText(haystack, block, Qt::CaseInsensitive), filler.size() + block.size() + 8);
        QCOMPARE(indexOfText(haystack, block.toUpper(), Qt::CaseSensitive), filler.size() + block.size() + 8);

        // Outside the Basic Multilingual Plane: Deseret capital and small long I.
        const QString deseret = QStringLiteral("a\U00010400b \U00010428b");
        QCOMPARE(indexOfText(deseret, QStringLiteral("\U00010428B"), Qt::CaseInsensitive), 1);
        QCOMPARE(lastIndexOfText(deseret, QStringLiteral("\U00010400b"), Qt::CaseInsensitive), 5);
        QCOMPARE(indexOfText(deseret, QStringLiteral("\U00010428"), Qt::CaseSensitive), 5);

        QCOMPARE(indexOfText(haystack, QString(), Qt::CaseInsensitive), -1);
        QCOMPARE(lastIndexOfText(QString(), QStringLiteral("a"), Qt::CaseInsensitive), -1);
    }

    void stepsFindEveryMatchAndWrap_data() {
        QTest::addColumn<int>("from");
        QTest::addColumn<SearchDirection>("direction");
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("wrapped");
        // "Beta" at 6, 17 and 28 in the text below.
        QTest::newRow("forward from the start") << 0 << SearchDirection::Forward << 6 << false;
        QTest::newRow("forward from a match's end") << 10 << SearchDirection::Forward << 17 << false;
        QTest::newRow("forward from inside a match") << 7 << SearchDirection::Forward << 17 << false;
        QTest::newRow("forward past the last wraps") << 29 << SearchDirection::Forward << 6 << true;
        QTest::newRow("forward from the last word wraps") << 33 << SearchDirection::Forward << 6 << true;
        QTest::newRow("backward from a match's start") << 17 << SearchDirection::Backward << 6 << false;
        QTest::newRow("backward from the end") << 33 << SearchDirection::Backward << 28 << false;
        QTest::newRow("backward before the first wraps") << 6 << SearchDirection::Backward << 28 << true;
        QTest::newRow("backward from inside the first wraps") << 9 << SearchDirection::Backward << 28 << true;
    }

    void stepsFindEveryMatchAndWrap() {
        QFETCH(int, from);
        QFETCH(SearchDirection, direction);
        QFETCH(int, start);
        QFETCH(bool, wrapped);
        const QString text = QStringLiteral("alpha Beta gamma BETA delta beta end");

        const TextMatch match = findStep(text, QStringLiteral("beta"), from, direction, Qt::CaseInsensitive);

        QCOMPARE(match.start, start);
        QCOMPARE(match.wrapped, wrapped);
    }

    void aLoneMatchIsFoundAgainByWrapping() {
        const QString text = QStringLiteral("one needle here");
        const TextMatch forward =
            findStep(text, QStringLiteral("needle"), 10, SearchDirection::Forward, Qt::CaseSensitive);
        const TextMatch backward =
            findStep(text, QStringLiteral("needle"), 4, SearchDirection::Backward, Qt::CaseSensitive);

        QCOMPARE(forward.start, 4);
        QVERIFY(forward.wrapped);
        QCOMPARE(backward.start, 4);
        QVERIFY(backward.wrapped);
    }

    void nothingToFind() {
        const QString text = QStringLiteral("Beta");
        QCOMPARE(findStep(text, QStringLiteral("beta"), 0, SearchDirection::Forward, Qt::CaseSensitive).start, -1);
        QCOMPARE(findStep(text, QStringLiteral("gamma"), 2, SearchDirection::Backward, Qt::CaseInsensitive).start, -1);
        QCOMPARE(findStep(text, QString(), 0, SearchDirection::Forward, Qt::CaseInsensitive).start, -1);
        QCOMPARE(findStep(text, QStringLiteral("Betamax"), 0, SearchDirection::Forward, Qt::CaseInsensitive).start, -1);
        QCOMPARE(findStep(text, QStringLiteral("Beta"), 99, SearchDirection::Forward, Qt::CaseSensitive).start, 0);
    }
};

QTEST_MAIN(TestTextSearch)
#include "tst_textsearch.moc"
