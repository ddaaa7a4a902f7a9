#include "engine/text/textstore.h"
#include "results/textrows.h"
#include "results/textsearch.h"
#include "results/textsegments.h"
#include "tests/support/testfiles.h"

#include <QRandomGenerator>
#include <QTest>

using namespace corvanta;

Q_DECLARE_METATYPE(corvanta::SearchDirection)

namespace {

// Units the search over a store takes at a time (textsearch.cpp): a match is placed across that end.
constexpr qsizetype kSearchChunk = qsizetype(1) << 21;

// Words, sentences, every kind of line break, surrogate pairs and a combining accent; a word and a line longer than
// the first window the segment functions fetch; and "<across/>" over the end of the search's first chunk.
QString sample() {
    const QString mixed = QStringLiteral("<caf\u00e9 n=\"1\">Cr\u00e8me e\u0301t\u00e9 \U0001F600 ok. Next one?\r\n"
                                         "\t<b/>\rline\u2028two\n\n");
    QString text = mixed.repeated(3000) + QString(40000, u'w') + u' ' + QString(60000, u'.') + u"\r\n"_qs;
    while (text.size() < kSearchChunk - 4)
        text += mixed;
    text.truncate(kSearchChunk - 4);
    return text + u"<across/> \U0001F600 end\r\n"_qs + mixed.repeated(2000);
}

} // namespace

// The text functions over a store read from a working file give what they give over the whole text.
class TestStoredText : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_whole = sample();
        m_folders.renew();
        const QString path = m_folders.filePath(u"temp.xml"_qs);
        writeFile(path, m_whole.toUtf8());
        m_store = TextStore::open(path);
        QCOMPARE(m_store->size(), m_whole.size());
        // Every block end, and places at random.
        for (qsizetype at = 0; at < m_store->size(); at = m_store->pieceAt(at).end())
            for (const qsizetype near : {-2, -1, 0, 1})
                m_offsets << at + near;
        QRandomGenerator random(29);
        for (int i = 0; i < 300; ++i)
            m_offsets << random.bounded(int(m_whole.size() + 1));
        m_offsets << m_whole.size() << 3000 * 60 + 20000 << 3000 * 60 + 40000 + 30000;
    }

    void segmentsAreThoseOfTheWholeText() {
        for (const qsizetype offset : m_offsets) {
            const QString where = QStringLiteral("at %1").arg(offset);
            for (const TextUnit unit : {TextUnit::Character, TextUnit::Word, TextUnit::Sentence, TextUnit::Paragraph})
                QVERIFY2(spanAt(*m_store, offset, unit) == spanAt(m_whole, offset, unit), qPrintable(where));
            if (offset >= 0)
                QCOMPARE(paragraphStart(*m_store, offset), spanAt(m_whole, offset, TextUnit::Paragraph).start);
            QCOMPARE(nextCharacter(*m_store, offset), nextCharacter(m_whole, offset));
            QCOMPARE(previousCharacter(*m_store, offset), previousCharacter(m_whole, offset));
            QCOMPARE(nextWord(*m_store, offset), nextWord(m_whole, offset));
            QCOMPARE(previousWord(*m_store, offset), previousWord(m_whole, offset));
        }
    }

    void findStepIsThatOfTheWholeText_data() {
        QTest::addColumn<QString>("needle");
        QTest::addColumn<SearchDirection>("direction");
        for (const SearchDirection direction : {SearchDirection::Forward, SearchDirection::Backward}) {
            const char* way = direction == SearchDirection::Forward ? "forward" : "backward";
            QTest::addRow("across the chunk end, %s", way) << u"<ACROSS/> \U0001F600"_qs << direction;
            QTest::addRow("common, %s", way) << u"ok. next"_qs << direction;
            QTest::addRow("absent, %s", way) << u"absent"_qs << direction;
        }
    }

    void findStepIsThatOfTheWholeText() {
        QFETCH(QString, needle);
        QFETCH(SearchDirection, direction);
        const qsizetype across = m_whole.indexOf(u"<across/>"_qs);
        for (const qsizetype from :
             {qsizetype(0), qsizetype(50), across - 1, across + 3, across + 40, m_whole.size()}) {
            for (const Qt::CaseSensitivity cs : {Qt::CaseInsensitive, Qt::CaseSensitive}) {
                const TextMatch stored = findStep(*m_store, needle, from, direction, cs);
                const TextMatch whole = findStep(m_whole, needle, from, direction, cs);
                const QString where = QStringLiteral("from %1, case %2").arg(from).arg(int(cs));
                QVERIFY2(stored.start == whole.start && stored.wrapped == whole.wrapped, qPrintable(where));
            }
        }
    }

    void rowsAreThoseOfTheWholeText() {
        CharWidths widths([](const QString& c) { return c.size() == 2 ? 23.0 : 5.0 + c.at(0).unicode() % 7; }, 30.0);
        TextRows whole;
        whole.build(m_whole, 400, widths);
        TextRows stored;
        stored.restart(400);
        QRandomGenerator random(7);
        while (!stored.isComplete())
            stored.extend(*m_store, 1 + random.bounded(200000), widths);
        QCOMPARE(stored.count(), whole.count());
        for (qsizetype i = 0; i < whole.count(); ++i)
            if (!(stored.at(i) == whole.at(i)))
                QFAIL(qPrintable(QStringLiteral("row %1 differs").arg(i)));
    }

private:
    TestFolders m_folders{TestFolders::Temp::Unchanged};
    QString m_whole;
    std::shared_ptr<const TextStore> m_store;
    QList<qsizetype> m_offsets;
};

QTEST_GUILESS_MAIN(TestStoredText)
#include "tst_storedtext.moc"
