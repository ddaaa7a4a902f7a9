#include "engine/join/joinedtext.h"
#include "engine/text/bytesink.h"
#include "engine/text/failure.h"
#include "engine/text/textstore.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

using namespace corvanta;

namespace {

// Bytes in which \a unit stands across each block's end, its byte \a cut the first of the next block at the first
// end (blocks start at a character, so later ends may move by a few bytes).
QByteArray straddling(const QByteArray& unit, int blocks, qsizetype cut = 0) {
    QByteArray bytes;
    for (int block = 1; block <= blocks; ++block) {
        const qsizetype at = block * TextStore::kBlockBytes - cut;
        while (bytes.size() + 10 <= at)
            bytes += "<a>x</a>\r\n";
        bytes += QByteArray(at - bytes.size(), 'x') + unit;
    }
    return bytes;
}

// 2, 3 and 4 bytes, CR LF: bytes 0-1, 2-4, 5-8, 9-10, 11-14.
const QByteArray kMixed = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\r\n\xf0\x9f\x98\x80";

} // namespace

class TestTextStore : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void readsAndWritesWhatTheJoinedTextIs_data() {
        QTest::addColumn<QByteArray>("bytes");
        for (const qsizetype cut : {1, 3, 6, 8, 10, 12})
            QTest::addRow("cut at byte %lld of the characters", qlonglong(cut)) << straddling(kMixed, 5, cut);
        QTest::newRow("mark at the start, more blocks than the cache")
            << "\xef\xbb\xbf" + straddling(kMixed, TextStore::kCachedBlocks + 4);
        QTest::newRow("mark at a block's start") << straddling("\xef\xbb\xbf\xef\xbb\xbf", 3, 3);
        QTest::newRow("Windows-1252 in the third block") << straddling("\xc3\xa9", 2) + "caf\xe9" + straddling("", 2);
        const QString wide = QString::fromUtf8(straddling(kMixed, 3));
        QTest::newRow("UTF-16")
            << QByteArray("\xff\xfe").append(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
        QTest::newRow("empty") << QByteArray();
    }

    void readsAndWritesWhatTheJoinedTextIs() {
        QFETCH(QByteArray, bytes);
        const QString working = m_folders.filePath("work/temp.xml");
        writeFile(working, bytes);
        const QString whole = JoinedText(working).text();
        QByteArray saved;
        ByteArraySink saving(saved);
        JoinedText(working).writeTo(saving);

        const std::shared_ptr<const TextStore> store = TextStore::open(working);
        // Nothing of a private copy stays in the folder, and the store reads on once the file is gone.
        QCOMPARE(QDir(m_folders.filePath("work")).entryList(QDir::Files | QDir::Hidden), QStringList{"temp.xml"});
        QVERIFY(QFile::remove(working));

        QCOMPARE(store->size(), whole.size());
        QList<std::pair<qsizetype, qsizetype>> ranges{{0, whole.size()}, {whole.size(), 5}, {-3, 7}};
        for (qsizetype end = TextStore::kBlockBytes / 2; end < whole.size(); end += TextStore::kBlockBytes / 2)
            for (const qsizetype back : {1, 2, 3, 9})
                ranges.append({end - back, back * 2 + 1});
        QRandomGenerator random(29);
        for (int i = 0; i < 200; ++i) // in an order that makes the cache evict
            ranges.append({random.bounded(int(whole.size() + 1)), random.bounded(TextStore::kBlockBytes * 3)});
        for (const auto& [start, length] : ranges) // read() past the cache as well as mid() through it
            QVERIFY2(store->mid(start, length) == whole.mid(std::max<qsizetype>(start, 0), length) &&
                         store->read(start, length) == store->mid(start, length),
                     qPrintable(QStringLiteral("mid(%1, %2)").arg(start).arg(length)));
        for (int i = 0; i < 100 && !whole.isEmpty(); ++i) {
            const qsizetype at = random.bounded(int(whole.size()));
            QCOMPARE(store->at(at), whole.at(at));
        }
        QString walked;
        for (qsizetype at = 0; at < store->size(); at = store->pieceAt(at).end())
            walked += store->pieceAt(at).text;
        QVERIFY(walked == whole);

        QByteArray written;
        ByteArraySink writing(written);
        store->writeTo(writing);
        QVERIFY(written == saved);
        QCOMPARE(store->byteSize(), saved.size());
    }

    void openingHearsAStopAndAMissingFileIsEmpty() {
        const QString working = m_folders.filePath("work/temp.xml");
        QVERIFY(TextStore::open(working)->isEmpty());
        writeFile(working, straddling(kMixed, 4));
        std::stop_source stop;
        stop.request_stop();
        QVERIFY_THROWS_EXCEPTION(StopRequested, TextStore::open(working, stop.get_token()));
    }

private:
    TestFolders m_folders{TestFolders::Temp::Unchanged};
};

QTEST_GUILESS_MAIN(TestTextStore)
#include "tst_textstore.moc"
