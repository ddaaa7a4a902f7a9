#include "results/textrows.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvanta;

namespace {

// Every character is 10 wide and tab stops lie 40 apart, so expected rows can be worked out by hand.
CharWidths fixedWidths() {
    return CharWidths([](const QString&) { return 10.0; }, 40.0);
}

// "start+length" for each row, separated by spaces.
QString describe(const TextRows& rows) {
    QStringList parts;
    for (qsizetype i = 0; i < rows.count(); ++i)
        parts << QStringLiteral("%1+%2").arg(rows.at(i).start).arg(rows.at(i).length);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestTextRows : public QObject {
    Q_OBJECT

private slots:
    void rows_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("width");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty text has one empty row") << QString() << 50.0 << "0+0";
        QTest::newRow("short line") << QStringLiteral("abc") << 50.0 << "0+3";
        QTest::newRow("line exactly as wide as the row") << QStringLiteral("abcde") << 50.0 << "0+5";
        QTest::newRow("lf") << QStringLiteral("ab\ncd") << 50.0 << "0+2 3+2";
        QTest::newRow("cr lf is one break") << QStringLiteral("ab\r\ncd") << 50.0 << "0+2 4+2";
        QTest::newRow("lone cr") << QStringLiteral("ab\rcd") << 50.0 << "0+2 3+2";
        QTest::newRow("lf cr is two breaks") << QStringLiteral("ab\n\rcd") << 50.0 << "0+2 3+0 4+2";
        QTest::newRow("unicode separators") << QStringLiteral("a\u2028b\u2029c") << 50.0 << "0+1 2+1 4+1";
        QTest::newRow("final break gives an empty row") << QStringLiteral("ab\n") << 50.0 << "0+2 3+0";
        QTest::newRow("blank lines") << QStringLiteral("a\n\n\nb") << 50.0 << "0+1 2+0 3+0 4+1";
        QTest::newRow("only cr lf breaks") << QStringLiteral("\r\n\r\n") << 50.0 << "0+0 2+0 4+0";
        QTest::newRow("wraps after spaces") << QStringLiteral("aaa bbb ccc") << 50.0 << "0+4 4+4 8+3";
        QTest::newRow("word too long is cut") << QStringLiteral("abcdefghijkl") << 50.0 << "0+5 5+5 10+2";
        QTest::newRow("long word after a short one") << QStringLiteral("ab cdefghijk") << 50.0 << "0+3 3+5 8+4";
        QTest::newRow("space that does not fit hangs") << QStringLiteral("abcde fgh") << 50.0 << "0+6 6+3";
        QTest::newRow("later spaces start the next row") << QStringLiteral("abcde   fgh") << 50.0 << "0+6 6+5";
        QTest::newRow("tab to the next stop") << QStringLiteral("a\tb") << 100.0 << "0+3";
        QTest::newRow("tab past the width hangs") << QStringLiteral("abcde\tX") << 60.0 << "0+6 6+1";
        QTest::newRow("tab at a stop goes to the next") << QStringLiteral("abcd\tbbbbbb") << 70.0 << "0+5 5+6";
        QTest::newRow("rows of a wrapped line then a break") << QStringLiteral("abcdefg\nhi") << 50.0 << "0+5 5+2 8+2";
        QTest::newRow("character wider than the row") << QStringLiteral("ab") << 5.0 << "0+1 1+1";
        QTest::newRow("surrogate pairs stay whole")
            << QStringLiteral("a\U0001F600\U0001F600\U0001F600") << 15.0 << "0+1 1+2 3+2 5+2";
        QTest::newRow("lone surrogate is one character")
            << QStringLiteral("a") + QChar(0xD800) + QStringLiteral("bc") << 20.0 << "0+2 2+2";
    }

    void rows() {
        QFETCH(QString, text);
        QFETCH(double, width);
        QFETCH(QString, expected);
        CharWidths widths = fixedWidths();
        TextRows rows;

        rows.build(text, width, widths);

        QCOMPARE(describe(rows), expected);
    }

    void rowOf_data() {
        QTest::addColumn<qsizetype>("offset");
        QTest::addColumn<qsizetype>("row");
        // Rows of "abcdefg\r\nhi": 0+5, 5+2, 9+2.
        QTest::newRow("first character") << qsizetype(0) << qsizetype(0);
        QTest::newRow("last character of a row") << qsizetype(4) << qsizetype(0);
        QTest::newRow("start of a wrapped row") << qsizetype(5) << qsizetype(1);
        QTest::newRow("cr belongs to the row before") << qsizetype(7) << qsizetype(1);
        QTest::newRow("lf belongs to the row before") << qsizetype(8) << qsizetype(1);
        QTest::newRow("next line") << qsizetype(9) << qsizetype(2);
        QTest::newRow("end of text") << qsizetype(11) << qsizetype(2);
    }

    void rowOf() {
        QFETCH(qsizetype, offset);
        QFETCH(qsizetype, row);
        CharWidths widths = fixedWidths();
        TextRows rows;
        rows.build(u"abcdefg\r\nhi", 50.0, widths);

        QCOMPARE(rows.rowOf(offset), row);
    }

    void rebuildReplacesRows() {
        CharWidths widths = fixedWidths();
        TextRows rows;
        rows.build(u"aaaa bbbb cccc dddd", 50.0, widths);
        QCOMPARE(rows.count(), 4);

        rows.build(u"aaaa bbbb cccc dddd", 1000.0, widths);

        QCOMPARE(describe(rows), QStringLiteral("0+19"));
    }

    void eachCharacterIsMeasuredOnce() {
        QStringList measured;
        CharWidths widths(
            [&measured](const QString& c) {
                measured << c;
                return 7.0;
            },
            40.0);
        TextRows rows;

        rows.build(u"abab\U0001F600\U0001F600", 1000.0, widths);
        rows.build(u"ba", 1000.0, widths);

        QCOMPARE(measured, (QStringList{u"a"_qs, u"b"_qs, QStringLiteral("\U0001F600")}));
        QCOMPARE(widths.of(u'a'), 7.0);
    }

    void tabAdvance_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("advance");
        QTest::newRow("row start") << 0.0 << 40.0;
        QTest::newRow("inside the first stop") << 15.0 << 25.0;
        QTest::newRow("on a stop goes to the next") << 40.0 << 40.0;
        QTest::newRow("just before a stop") << 79.5 << 0.5;
    }

    void tabAdvance() {
        QFETCH(double, x);
        QFETCH(double, advance);
        QCOMPARE(fixedWidths().tab(x), advance);
    }

    // Wrapping a piece at a time, cut anywhere (inside a CR LF, a surrogate pair, a word, hanging blanks), gives the
    // rows of wrapping at once; meanwhile the finished rows never change and tell how far they reach.
    void piecewiseWrappingBuildsTheSameRows() {
        QRandomGenerator random(20240611);
        const QString alphabet = QStringLiteral("abcdefg     \t\n\r\u2029\U0001F600");
        for (int round = 0; round < 300; ++round) {
            QString text;
            const int length = random.bounded(300);
            for (int i = 0; i < length; ++i) {
                const QChar c = alphabet.at(random.bounded(int(alphabet.size())));
                text += c.isSurrogate() ? QStringLiteral("\U0001F600") : QString(c);
            }
            const qreal width = 15 + random.bounded(120);
            CharWidths widths([](const QString& c) { return c.size() == 2 ? 23.0 : 5.0 + c.at(0).unicode() % 7; },
                              30.0);
            TextRows whole;
            whole.build(text, width, widths);

            TextRows pieces;
            pieces.restart(width);
            QVERIFY(!pieces.isComplete());
            qsizetype covered = 0;
            while (!pieces.isComplete()) {
                pieces.extend(text, 1 + random.bounded(9), widths);
                const QString where = QStringLiteral("round %1 at %2").arg(round).arg(pieces.coveredEnd());
                QVERIFY2(pieces.coveredEnd() >= covered, qPrintable(where));
                covered = pieces.coveredEnd();
                QVERIFY2(pieces.count() <= whole.count(), qPrintable(where));
                for (qsizetype i = 0; i < pieces.count(); ++i)
                    QVERIFY2(pieces.at(i) == whole.at(i), qPrintable(where));
                if (pieces.isComplete())
                    break;
                QVERIFY2(!pieces.holds(covered) && pieces.hasRowAfter(pieces.count() - 1), qPrintable(where));
                QCOMPARE(whole.at(pieces.count()).start, covered);
                for (qsizetype offset = 0; offset < covered; ++offset)
                    QVERIFY2(pieces.holds(offset) && pieces.rowOf(offset) == whole.rowOf(offset), qPrintable(where));
            }
            QCOMPARE(describe(pieces), describe(whole));
            QCOMPARE(pieces.coveredEnd(), text.size());
            QVERIFY(pieces.holds(text.size()) && !pieces.holds(text.size() + 1));
            QVERIFY(!pieces.hasRowAfter(pieces.count() - 1));
        }
    }

    // Random texts of words, blanks and every kind of line break: the rows, put back together with the line
    // breaks between them, give the text again, and no row is wider than allowed unless it must be.
    void rowsCoverTextAndFit() {
        QRandomGenerator random(20140520);
        const QString alphabet = QStringLiteral("abcdefghij      \t\t\n\r\u2028\u00e9\U0001F600");
        auto widthOf = [](const QString& c) {
            return c == QStringLiteral("\U0001F600") ? 23.0 : 5.0 + c.at(0).unicode() % 7;
        };
        for (int round = 0; round < 200; ++round) {
            QString text;
            const int length = random.bounded(400);
            for (int i = 0; i < length; ++i) {
                const int pick = random.bounded(int(alphabet.size()));
                text += QChar::isHighSurrogate(alphabet.at(pick).unicode()) ||
                                QChar::isLowSurrogate(alphabet.at(pick).unicode())
                            ? QStringLiteral("\U0001F600")
                            : QString(alphabet.at(pick));
            }
            const qreal width = 20 + random.bounded(200);
            CharWidths widths(widthOf, 30.0);
            TextRows rows;
            rows.build(text, width, widths);

            QString rebuilt;
            for (qsizetype i = 0; i < rows.count(); ++i) {
                const TextRow& row = rows.at(i);
                QCOMPARE_GE(row.start, rebuilt.size());
                const QString between = text.mid(rebuilt.size(), row.start - rebuilt.size());
                QVERIFY2(between.isEmpty() || between == u"\n" || between == u"\r" || between == u"\r\n" ||
                             between == u"\u2028",
                         qPrintable(QStringLiteral("round %1 row %2").arg(round).arg(i)));
                rebuilt += between + text.mid(row.start, row.length);

                QString content = text.mid(row.start, row.length);
                QVERIFY(!content.contains(u'\n') && !content.contains(u'\r') && !content.contains(u'\u2028'));
                while (content.size() > 1 && (content.endsWith(u' ') || content.endsWith(u'\t')))
                    content.chop(1); // hanging blanks may pass the edge
                qreal x = 0;
                for (qsizetype k = 0; k < content.size(); ++k) {
                    if (content.at(k) == u'\t')
                        x += widths.tab(x);
                    else if (content.at(k).isHighSurrogate())
                        x += widthOf(content.mid(k++, 2));
                    else
                        x += widthOf(QString(content.at(k)));
                }
                const bool singleCharacter =
                    content.size() == 1 || (content.size() == 2 && content.at(0).isHighSurrogate());
                QVERIFY2(
                    x <= width || singleCharacter,
                    qPrintable(
                        QStringLiteral("round %1 row %2 is %3 wide, allowed %4").arg(round).arg(i).arg(x).arg(width)));
            }
            QCOMPARE(rebuilt, text);
        }
    }
};

QTEST_APPLESS_MAIN(TestTextRows)
#include "tst_textrows.moc"
