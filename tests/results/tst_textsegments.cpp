#include "results/textsegments.h"

#include <QTest>
#include <QTextBoundaryFinder>

using namespace corvanta;

Q_DECLARE_METATYPE(corvanta::TextUnit)

namespace {

// A text with every kind of piece the view meets: non-ASCII letters, a surrogate pair, a combining accent, CR LF,
// a lone CR, LF, a Unicode line separator, sentences and XML punctuation.
const QString kMixed = QStringLiteral("<caf\u00e9 n=\"1\">Cr\u00e8me e\u0301t\u00e9 \U0001F600 ok. Next one?\r\n"
                                      "\t<b/>\rline\u2028two\n\nlast");

QString pieceText(const QString& text, TextSpan span) {
    return span.isValid() ? text.mid(span.start, span.end - span.start) : QStringLiteral("<none>");
}

// The pieces of a whole text the way Qt's own text interface finds them: item boundaries of one boundary finder
// over the whole text.
TextSpan referenceWordAt(const QString& text, qsizetype offset) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    auto isItem = [&] {
        const qsizetype at = finder.position();
        return at <= 0 || at >= text.size() ||
               (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem));
    };
    finder.setPosition(offset);
    while (!isItem())
        finder.toPreviousBoundary();
    const qsizetype start = finder.position();
    do
        finder.toNextBoundary();
    while (!isItem());
    return {start, finder.position() < 0 ? text.size() : finder.position()};
}

} // namespace

class TestTextSegments : public QObject {
    Q_OBJECT

private slots:
    void piecesAtOffsets_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("offset");
        QTest::addColumn<TextUnit>("unit");
        QTest::addColumn<QString>("expected");

        const QString pair = QStringLiteral("x\U0001F600y");
        QTest::newRow("surrogate pair from its first unit") << pair << 1 << TextUnit::Character << u"\U0001F600"_qs;
        QTest::newRow("surrogate pair from its second unit") << pair << 2 << TextUnit::Character << u"\U0001F600"_qs;
        QTest::newRow("combining accent") << u"e\u0301t"_qs << 0 << TextUnit::Character << u"e\u0301"_qs;
        QTest::newRow("cr lf from cr") << u"a\r\nb"_qs << 1 << TextUnit::Character << u"\r\n"_qs;
        QTest::newRow("cr lf from lf") << u"a\r\nb"_qs << 2 << TextUnit::Character << u"\r\n"_qs;
        QTest::newRow("no character at the end") << u"ab"_qs << 2 << TextUnit::Character << u"<none>"_qs;

        const QString xml = QStringLiteral("<name>Cr\u00e8me br\u00fbl\u00e9e</name>");
        QTest::newRow("word with accents") << xml << 8 << TextUnit::Word << u"Cr\u00e8me"_qs;
        QTest::newRow("tag name") << xml << 1 << TextUnit::Word << u"name"_qs;
        QTest::newRow("punctuation run") << xml << 19 << TextUnit::Word << u"</"_qs;
        QTest::newRow("space between words") << xml << 11 << TextUnit::Word << u" "_qs;

        const QString prose = QStringLiteral("One dog. Two cats? Three.\r\nNew line");
        QTest::newRow("first sentence") << prose << 2 << TextUnit::Sentence << u"One dog. "_qs;
        QTest::newRow("question") << prose << 10 << TextUnit::Sentence << u"Two cats? "_qs;
        QTest::newRow("sentence ends with its line") << prose << 20 << TextUnit::Sentence << u"Three.\r\n"_qs;

        const QString lines = QStringLiteral("ab\r\ncd\n\nef\u2028g\rh\n");
        QTest::newRow("paragraph with cr lf") << lines << 0 << TextUnit::Paragraph << u"ab\r\n"_qs;
        QTest::newRow("paragraph from inside cr lf") << lines << 3 << TextUnit::Paragraph << u"ab\r\n"_qs;
        QTest::newRow("empty paragraph") << lines << 7 << TextUnit::Paragraph << u"\n"_qs;
        QTest::newRow("line separator ends paragraph") << lines << 9 << TextUnit::Paragraph << u"ef\u2028"_qs;
        QTest::newRow("lone cr ends paragraph") << lines << 11 << TextUnit::Paragraph << u"g\r"_qs;
        QTest::newRow("after a final break: empty") << lines << 15 << TextUnit::Paragraph << u""_qs;
        QTest::newRow("last paragraph without break") << u"a\nbc"_qs << 4 << TextUnit::Paragraph << u"bc"_qs;
    }

    void piecesAtOffsets() {
        QFETCH(QString, text);
        QFETCH(int, offset);
        QFETCH(TextUnit, unit);
        QFETCH(QString, expected);

        const TextSpan span = spanAt(text, offset, unit);

        QCOMPARE(pieceText(text, span), expected);
        if (span.isValid() && span.end > span.start)
            QVERIFY(span.start <= offset && (offset < span.end || offset == text.size()));
    }

    // For every unit, walking from piece to piece covers the text exactly, and before and after are the
    // neighbours of the piece at any offset.
    void piecesTileTheText_data() {
        QTest::addColumn<TextUnit>("unit");
        QTest::newRow("character") << TextUnit::Character;
        QTest::newRow("word") << TextUnit::Word;
        QTest::newRow("sentence") << TextUnit::Sentence;
        QTest::newRow("paragraph") << TextUnit::Paragraph;
    }

    void piecesTileTheText() {
        QFETCH(TextUnit, unit);
        const QString& text = kMixed;

        qsizetype next = 0;
        TextSpan previous;
        while (next < text.size()) {
            const TextSpan span = spanAt(text, next, unit);
            QCOMPARE(span.start, next);
            QVERIFY2(span.end > span.start, qPrintable(QString::number(next)));
            for (qsizetype offset = span.start; offset < span.end; ++offset) {
                QCOMPARE(spanAt(text, offset, unit), span);
                QCOMPARE(spanBefore(text, offset, unit), previous);
            }
            if (previous.isValid())
                QCOMPARE(spanAfter(text, previous.start, unit), span);
            previous = span;
            next = span.end;
        }
        QCOMPARE(next, text.size());
        // At the end of the text the caret is still in the last paragraph, but after the last of anything else.
        if (unit == TextUnit::Paragraph)
            QCOMPARE(spanBefore(text, text.size(), unit), spanBefore(text, previous.start, unit));
        else
            QCOMPARE(spanBefore(text, text.size(), unit), previous);
        QCOMPARE(spanAfter(text, previous.start, unit), TextSpan{});
        QCOMPARE(spanAt(text, -1, unit), TextSpan{});
        QCOMPARE(spanAt(text, text.size() + 1, unit), TextSpan{});
    }

    void finalBreakIsFollowedByAnEmptyParagraph() {
        const QString text = QStringLiteral("a\r\nb\r\n");

        QCOMPARE(spanAfter(text, 3, TextUnit::Paragraph), (TextSpan{6, 6}));
        QCOMPARE(spanBefore(text, 6, TextUnit::Paragraph), (TextSpan{3, 6}));
        QCOMPARE(spanAt(QString(), 0, TextUnit::Paragraph), (TextSpan{0, 0}));
        QCOMPARE(spanAt(QString(), 0, TextUnit::Word), TextSpan{});
    }

    // Pieces are found in a window around the offset; within a line of a million characters they must still be
    // those of the whole line, even for a word longer than any first window.
    void longLineGivesTheSamePiecesAsTheWholeText() {
        QString text;
        for (int i = 0; text.size() < 1'000'000; ++i)
            text += QStringLiteral("<item id=\"%1\">Word\u00e9%1 and more</item>").arg(i);
        const qsizetype longWordAt = text.size() / 2;
        text.insert(longWordAt, QString(300'000, u'x'));

        for (const qsizetype offset : {qsizetype(0), qsizetype(5), qsizetype(333'333), longWordAt - 1, longWordAt,
                                       longWordAt + 150'000, longWordAt + 299'999, text.size() - 3}) {
            QCOMPARE(spanAt(text, offset, TextUnit::Word), referenceWordAt(text, offset));
        }
        const TextSpan longWord = spanAt(text, longWordAt + 10, TextUnit::Word);
        QVERIFY(longWord.end - longWord.start >= 300'000);
        QCOMPARE(spanAt(text, 700'000, TextUnit::Paragraph), (TextSpan{0, text.size()}));
    }

    void caretStepsOverWholeCharacters() {
        const QString text = QStringLiteral("a\r\n\U0001F600e\u0301");
        QList<qsizetype> forward{0};
        while (forward.last() < text.size())
            forward << nextCharacter(text, forward.last());
        QCOMPARE(forward, (QList<qsizetype>{0, 1, 3, 5, 7}));

        QList<qsizetype> backward{text.size()};
        while (backward.last() > 0)
            backward << previousCharacter(text, backward.last());
        QCOMPARE(backward, (QList<qsizetype>{7, 5, 3, 1, 0}));
        QCOMPARE(nextCharacter(text, text.size()), text.size());
        QCOMPARE(previousCharacter(text, 0), 0);
    }

    void caretStepsByWords_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qsizetype>>("stops");
        // Runs of letters and runs of punctuation are words; the blanks after a word, line breaks too, go with it.
        QTest::newRow("xml") << u"<item id=\"5\">caf\u00e9</item>"_qs
                             << QList<qsizetype>{0, 1, 6, 8, 10, 11, 13, 17, 19, 23, 24};
        QTest::newRow("lines") << u"end\r\n  next\n"_qs << QList<qsizetype>{0, 7, 12};
        QTest::newRow("surrogates stay inside words") << u"a\U0001F600b c"_qs << QList<qsizetype>{0, 5, 6};
    }

    void caretStepsByWords() {
        QFETCH(QString, text);
        QFETCH(QList<qsizetype>, stops);

        QList<qsizetype> forward{0};
        while (forward.last() < text.size())
            forward << nextWord(text, forward.last());
        QList<qsizetype> backward{text.size()};
        while (backward.last() > 0)
            backward << previousWord(text, backward.last());

        QCOMPARE(forward, stops);
        // Going back stops at word starts only: where the forward walk stopped, apart from the end.
        QList<qsizetype> starts = stops;
        if (starts.last() == text.size() && starts.size() > 1)
            starts.removeLast();
        std::reverse(backward.begin(), backward.end());
        backward.removeLast();
        QCOMPARE(backward, starts);
    }
};

QTEST_MAIN(TestTextSegments)
#include "tst_textsegments.moc"
