#include "engine/join/inputprefetcher.h"
#include "engine/join/mergemode.h"
#include "engine/join/steprunner.h"
#include "engine/text/failure.h"
#include "engine/xml/mergeddocument.h"
#include "engine/xml/xmlparser.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace corvanta;

namespace {

const QString kStructureMessage = QStringLiteral("message:XML files do not have same structure, join aborted.");

// What a Merge of \a count inputs shows up to input \a reached: the busy pointer, then the progress before each.
QStringList reading(int reached, int count) {
    QStringList events{"busy"};
    for (int i = 1; i <= reached; ++i)
        events << QStringLiteral("progress %1").arg(double(i) / count * 100.0);
    return events;
}

/// What one Merge run showed and wrote.
struct MergeResult {
    QStringList events;
    MergeOutcome outcome = MergeOutcome::NotSaved;
    QByteArray output;
};

/// A document of the shape \a shape (root name and top-level count) whose second-level names, namespaces, node
/// kinds and texts are drawn from \a random, so that runs meet both new and repeated names.
QByteArray randomDocument(QRandomGenerator& random, int topLevelCount, int maxChildren = 12) {
    static const char* const prefixes[] = {"", "a:", "b:"};
    QByteArray xml = random.bounded(2) ? "<?xml version=\"1.0\"?>\n" : "";
    xml += "<root xmlns:a=\"urn:test:a\" xmlns:b=\"urn:test:b\"";
    if (random.bounded(2))
        xml += " xmlns=\"urn:test:default\"";
    xml += ">\n";
    for (int top = 0; top < topLevelCount; ++top) {
        xml += "  <section n=\"" + QByteArray::number(top) + "\">\n";
        const int children = int(random.bounded(maxChildren));
        for (int child = 0; child < children; ++child) {
            const QByteArray name =
                prefixes[random.bounded(3)] + QByteArray("item") + QByteArray::number(random.bounded(30));
            switch (random.bounded(8)) {
            case 0:
                xml += "    <!-- note " + QByteArray::number(child) + " -->\n";
                break;
            case 1:
                xml += "    <?" + name.sliced(name.indexOf(':') + 1) + " data?>\n";
                break;
            case 2:
                xml += "    <" + name + " xmlns:c=\"urn:test:c" + QByteArray::number(random.bounded(3)) +
                       "\" c:at=\"v\"><c:inner>caf\xC3\xA9 &amp; text</c:inner></" + name + ">\n";
                break;
            default:
                xml += "    <" + name + " b:attr=\"" + QByteArray::number(random.generate()) +
                       "\">text <em>mixed</em>" + "</" + name + ">\n";
            }
        }
        xml += "  </section>\n";
    }
    return xml + "</root>\n";
}

/// A document whose root tells its place in the list, with \a elements second-level elements of 50 names.
QByteArray numberedDocument(int index, int elements) {
    QByteArrayList names;
    for (int name = 0; name < 50; ++name)
        names << "<e" + QByteArray::number(name) + ">t" + QByteArray::number(index) + "</e" + QByteArray::number(name) +
                     ">";
    QByteArray xml = "<r n=\"" + QByteArray::number(index) + "\">\n  <a>";
    xml.reserve(elements * 16 + 64);
    for (int i = 0; i < elements; ++i)
        xml += names[i % 50];
    return xml + "</a>\n</r>\n";
}

/// The root's "n" attribute, or -1.
int documentNumber(const xmlDoc* doc) {
    const xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    if (!root)
        return -1;
    const std::unique_ptr<xmlChar, void (*)(xmlChar*)> value(xmlGetProp(root, reinterpret_cast<const xmlChar*>("n")),
                                                             [](xmlChar* text) { xmlFree(text); });
    return value ? QByteArray(reinterpret_cast<const char*>(value.get())).toInt() : -1;
}

/// The document as libxml2 writes it, to compare documents byte for byte; empty without a document.
QByteArray dumped(const xmlDoc* doc) {
    if (!doc)
        return {};
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpMemory(const_cast<xmlDoc*>(doc), &text, &size);
    const std::unique_ptr<xmlChar, void (*)(xmlChar*)> owner(text, [](xmlChar* bytes) { xmlFree(bytes); });
    return QByteArray(reinterpret_cast<const char*>(text), size);
}

/// Names nothing, but holds the first question of each parsing thread until two threads are asking at once, so
/// that a test knows two parses are in progress together; from release() on it holds nobody.
class MeetingNames final : public SkippableNames {
public:
    bool contains(qsizetype /*topIndex*/, std::string_view /*name*/) const override {
        std::unique_lock lock(m_mutex);
        ++m_calls;
        if (std::find(m_threads.begin(), m_threads.end(), std::this_thread::get_id()) == m_threads.end()) {
            m_threads.push_back(std::this_thread::get_id());
            m_changed.notify_all();
        }
        // The patience only keeps a broken prefetcher from hanging the test run; waitForTwoThreads() fails then.
        m_changed.wait_for(lock, kPatience, [&] { return m_released; });
        return false;
    }

    /// True once two threads have asked at once; false when that does not happen within a generous time.
    bool waitForTwoThreads() const {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] { return m_threads.size() >= 2; });
    }

    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

    qsizetype calls() const {
        const std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    static constexpr std::chrono::seconds kPatience{60};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    mutable std::vector<std::thread::id> m_threads;
    mutable qsizetype m_calls = 0;
    bool m_released = false;
};

/// Holds the parse it takes for until released (or until its patience runs out, which a test then sees) and takes
/// nothing.
class HoldingTaker final : public ElementTaker {
public:
    bool take(qsizetype /*topIndex*/, xmlNode* /*element*/) override {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_released; }))
            m_ranOut = true;
        m_released = true; // a parse is held once
        return false;
    }
    void forget() override {}

    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    bool ranOut() const {
        const std::lock_guard lock(m_mutex);
        return m_ranOut;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
    bool m_ranOut = false;
};

} // namespace

class TestParseAhead : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void resultIsTheSequentialOneByteForByte_data() {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("inputCount");
        QTest::addColumn<bool>("mixedSizes");
        for (quint32 seed = 1; seed <= 8; ++seed)
            QTest::addRow("seed %u", seed) << seed << int(2 + seed * 3) << false;
        for (quint32 seed = 9; seed <= 12; ++seed)
            QTest::addRow("seed %u, mixed sizes", seed) << seed << int(seed) << true;
    }

    // Generated inputs, some of them not well-formed, merged with each look-ahead: the same messages in the same
    // order and the same bytes in the working file. With mixed sizes, every third input is large enough to be
    // still parsing while the next one is.
    void resultIsTheSequentialOneByteForByte() {
        QFETCH(quint32, seed);
        QFETCH(int, inputCount);
        QFETCH(bool, mixedSizes);
        QRandomGenerator random(seed);
        // Odd seeds cut one input short, so that its parse error and the stop after it come from the pipeline too.
        const int cut = seed % 2 ? int(random.bounded(1, inputCount)) : -1;
        QStringList paths;
        for (int i = 0; i < inputCount; ++i) {
            QByteArray xml = randomDocument(random, 3, mixedSizes && i % 3 == 1 ? 3000 : 12);
            if (i == cut)
                xml.chop(12); // inside the end tags
            paths << path(QStringLiteral("in%1.xml").arg(i + 1));
            writeFile(paths.last(), xml);
        }

        const MergeResult sequential = merge(paths, 0);
        QCOMPARE(sequential.output.isEmpty(), cut >= 0);
        for (int ahead : {1, 2, 5, 8}) {
            const MergeResult pipelined = merge(paths, ahead);
            QCOMPARE(pipelined.events, sequential.events);
            QCOMPARE(pipelined.outcome, sequential.outcome);
            QVERIFY2(pipelined.output == sequential.output, qPrintable(QStringLiteral("look-ahead %1").arg(ahead)));
        }
    }

    void parseErrorInAnInputIsShownWhenTheJoinReachesIt() {
        const QStringList paths = m_folders.writeFiles(
            {"<r><a><x/></a></r>", "<r><a><y/></a></r>", "<r><a></r>", "<r><a><z/></a></r>", "<r><a><y/><w/></a></r>"});
        const QString noRoot = paths[2] + " has no root element to compare.";
        const QString parseError = QStringLiteral("message:Error reading %1\r\nerror:Opening and ending tag mismatch: "
                                                  "a line 1 and r\r\nLine:1\r\nposition:11")
                                       .arg(paths[2]);

        for (int ahead : {0, 1, 2, 3, 8}) {
            const MergeResult result = merge(paths, ahead);
            // The third input fails the comparison with its neighbours, so the run stops on the fourth.
            QCOMPARE(result.events,
                     (reading(3, 5) + QStringList{parseError, reportEvent(142, noRoot), reportEvent(144, noRoot),
                                                  "idle", "progress 0", kStructureMessage}));
            QCOMPARE(result.outcome, MergeOutcome::Stopped);
        }
    }

    // Large inputs after the stop are still being parsed when it comes: their work is dropped unreported.
    void structureStopNeverReportsTheInputsAfterIt() {
        QStringList paths = m_folders.writeFiles({"<r><a/></r>", "<r><a/><b/></r>", "<r><broken", "<r><a/></r>"});
        paths << path("missing.xml");
        QVERIFY(QDir().mkpath(path("folder.xml")));
        paths << path("folder.xml");
        for (int i = 0; i < 3; ++i) {
            paths << path(QStringLiteral("large%1.xml").arg(i));
            writeFile(paths.last(), numberedDocument(i, 60000) + "<broken");
        }

        for (int ahead : {0, 1, 2, 4, 8}) {
            const MergeResult result = merge(paths, ahead);
            QCOMPARE(result.events, (reading(2, 9) + QStringList{"idle", "progress 0", kStructureMessage}));
            QCOMPARE(result.outcome, MergeOutcome::Stopped);
        }
    }

    void inputThatVanishedAfterTheListWasMadeIsReportedInItsTurn() {
        const QStringList paths =
            m_folders.writeFiles({"<r><a><x/></a></r>", "<r><a><y/></a></r>", "<r><a><z/></a></r>"});
        QVERIFY(QFile::remove(paths[1]));
        QVERIFY(QDir().mkpath(paths[1])); // now a folder: the read fails at step 132
        const QString noRoot = paths[1] + " has no root element to compare.";

        for (int ahead : {0, 1, 2, 8}) {
            const MergeResult result = merge(paths, ahead);
            QCOMPARE(result.events,
                     (reading(2, 3) +
                      QStringList{reportEvent(132, QStringLiteral("Is a directory")),
                                  QStringLiteral("message:Error reading %1\r\nerror:Document is empty\r\nLine:1\r\n"
                                                 "position:1")
                                      .arg(paths[1]),
                                  reportEvent(142, noRoot), reportEvent(144, noRoot), "idle", "progress 0",
                                  kStructureMessage}));
        }
    }

    // With one input ahead, the input after next is read only once the join has taken the next one: a file
    // removed before that is missed, whatever the worker's pace.
    void lookAheadStaysWithinItsDepth() {
        const QStringList paths = m_folders.writeFiles({"<r><a/></r>", "<r><b/></r>", "<r><c/></r>"});
        InputPrefetcher inputs(paths, 1);

        const PreparedInput first = inputs.takeNext();
        QVERIFY(first.parsed.doc);
        QVERIFY(QFile::remove(paths[2]));
        const PreparedInput second = inputs.takeNext();
        QVERIFY(second.parsed.doc);
        QCOMPARE(second.textSize, qsizetype(11));
        const PreparedInput third = inputs.takeNext();
        QVERIFY(!third.parsed.doc);
        QCOMPARE(third.parsed.error.reason, QStringLiteral("Document is empty"));
    }

    void preparedInputsComeInListOrderWhateverTheirSize_data() {
        QTest::addColumn<int>("depth");
        for (int depth : {1, 2, 3, 8, 40})
            QTest::addRow("depth %d", depth) << depth;
    }

    // Pairs of large inputs between small ones, one not well-formed, one removed and one made a folder after the
    // list was made: each comes in its turn, as it is when prepared alone.
    void preparedInputsComeInListOrderWhateverTheirSize() {
        QFETCH(int, depth);
        const int count = 30;
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            QByteArray xml = numberedDocument(i, i % 7 == 2 || i % 7 == 3 ? 40000 : i * 5);
            if (i == 11)
                xml.chop(8);
            paths << path(QStringLiteral("in%1.xml").arg(i));
            writeFile(paths.last(), xml);
        }
        QVERIFY(QFile::remove(paths[17]));
        QVERIFY(QFile::remove(paths[23]));
        QVERIFY(QDir().mkpath(paths[23]));
        std::vector<PreparedInput> alone;
        for (const QString& input : paths)
            alone.push_back(InputPrefetcher::prepare(input));

        InputPrefetcher inputs(paths, depth);
        for (int i = 0; i < count; ++i) {
            const PreparedInput input = inputs.takeNext();
            const bool fails = i == 11 || i == 17 || i == 23;
            QCOMPARE(documentNumber(input.parsed.doc.get()), fails ? -1 : i);
            QCOMPARE(bool(input.readFailure), i == 23);
            QCOMPARE(input.parsed.error.reason, alone[size_t(i)].parsed.error.reason);
            QCOMPARE(input.textSize, alone[size_t(i)].textSize);
            QVERIFY2(dumped(input.parsed.doc.get()) == dumped(alone[size_t(i)].parsed.doc.get()),
                     qPrintable(QStringLiteral("input %1").arg(i)));
        }
    }

    void twoInputsParsedAtOnceAreTheSequentialOnes_data() {
        QTest::addColumn<int>("depth");
        QTest::newRow("depth 2") << 2;
        QTest::newRow("depth 8") << 8;
    }

    // The second and third inputs are held inside their parses until both are under way, so that they are surely
    // parsed at once; every input is then what it is when prepared alone, in list order.
    void twoInputsParsedAtOnceAreTheSequentialOnes() {
        QFETCH(int, depth);
        QStringList paths;
        for (int i = 0; i < 6; ++i) {
            paths << path(QStringLiteral("in%1.xml").arg(i));
            writeFile(paths.last(), numberedDocument(i, i == 0 ? 3 : 20000));
        }
        MeetingNames names;
        InputPrefetcher inputs(paths, depth, &names);
        const auto release = qScopeGuard([&] { names.release(); }); // before the prefetcher waits for its threads

        std::vector<PreparedInput> taken;
        taken.push_back(inputs.takeNext());
        QVERIFY(names.waitForTwoThreads());
        names.release();
        for (int i = 1; i < 6; ++i)
            taken.push_back(inputs.takeNext());

        for (int i = 0; i < 6; ++i) {
            QCOMPARE(documentNumber(taken[size_t(i)].parsed.doc.get()), i);
            QVERIFY2(dumped(taken[size_t(i)].parsed.doc.get()) ==
                         dumped(InputPrefetcher::prepare(paths[i]).parsed.doc.get()),
                     qPrintable(QStringLiteral("input %1").arg(i)));
        }
    }

    // Both threads are inside a parse of a large input when the join cancels: both end at their next block, long
    // before either input is through.
    void cancelStopsBothParsesInProgress() {
        const int elements = 300000;
        QStringList paths{path("in0.xml")};
        writeFile(paths.last(), numberedDocument(0, 3));
        for (int i = 1; i < 4; ++i) {
            paths << path(QStringLiteral("in%1.xml").arg(i));
            writeFile(paths.last(), numberedDocument(i, elements));
        }
        MeetingNames names;
        InputPrefetcher inputs(paths, 8, &names);
        const auto release = qScopeGuard([&] { names.release(); });
        QVERIFY(inputs.takeNext().parsed.doc);
        QVERIFY(names.waitForTwoThreads());

        names.release();
        inputs.cancel();

        QVERIFY2(names.calls() < elements, qPrintable(QString::number(names.calls())));
    }

    void cancelledPrefetcherStopsWithoutTakingEverything() {
        QByteArray large = "<r><a>";
        for (int i = 0; i < 200000; ++i)
            large += "<n" + QByteArray::number(i) + "/>";
        large += "</a></r>";
        const QStringList paths = m_folders.writeFiles({"<r><a/></r>", large, large, large});
        InputPrefetcher inputs(paths, 2);
        QVERIFY(inputs.takeNext().parsed.doc);
        inputs.cancel(); // must return, and not wait for the rest to be parsed; the destructor follows
    }

    // Kept results of varied inputs (namespaces, xml:space, mixed content, entities, markup, document types,
    // many declarations, non-ASCII text, a root with text that shifts its top-level nodes, a first error inside
    // an element that a later input need not build), written by an earlier Merge that built every node and
    // parsed nothing ahead: every look-ahead gives the same bytes and the same messages.
    void resultIsTheKeptOneByteForByte_data() {
        QTest::addColumn<QString>("folder");
        const QDir golden(QStringLiteral(CORVANTA_GOLDEN_DIR));
        const QStringList cases = golden.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY(cases.size() >= 11);
        for (const QString& name : cases)
            QTest::newRow(qPrintable(name)) << golden.filePath(name);
    }

    void resultIsTheKeptOneByteForByte() {
        QFETCH(QString, folder);
        const QDir dir(folder);
        QStringList names = dir.entryList({QStringLiteral("in*.xml")}, QDir::Files);
        QCollator natural;
        natural.setNumericMode(true);
        std::sort(names.begin(), names.end(), natural);
        QStringList paths;
        for (const QString& name : names)
            paths << dir.filePath(name);
        // No kept result: the join stopped without one. The kept messages leave out the error reports.
        const QByteArray expected = readFile(dir.filePath(QStringLiteral("expected.xml")));
        QFile messageFile(dir.filePath(QStringLiteral("messages.txt")));
        const QString expectedMessages =
            messageFile.open(QIODevice::ReadOnly) ? QString::fromUtf8(messageFile.readAll()) : QString();

        for (int ahead : {0, 1, 2, 8}) {
            const MergeResult result = merge(paths, ahead);
            QVERIFY2(result.output == expected,
                     qPrintable(QStringLiteral("look-ahead %1:\n%2").arg(ahead).arg(QString::fromUtf8(result.output))));
            // The kept messages name the inputs relative to their folder, as the joiner was given them.
            QString messages;
            for (const QString& event : result.events)
                if (event.startsWith(QLatin1String("message:")) || event.startsWith(QLatin1String("warning:")))
                    messages += event.section(QLatin1Char(':'), 1)
                                    .replace(dir.path() + QLatin1Char('/'), QString())
                                    .replace(QLatin1String("\r\n"), QLatin1String("\n")) +
                                QLatin1Char('\n');
            QCOMPARE(messages, expectedMessages);
        }
    }

    void parserLeavesOutTheSecondLevelElementsNamed_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("named ones go, with all they hold")
            << QByteArray("<r>\n  <a><x><y/>t<!--c--></x><p:x xmlns:p=\"urn:p\"/><?x d?><z/></a>\n  <b><x/></b>\n</r>")
            << QStringList{"a: z", "b: x"};
        QTest::newRow("a document type keeps every element")
            << QByteArray("<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT x ANY><!ELEMENT z ANY>]>"
                          "<r>\n  <a><x/><z/></a>\n</r>")
            << QStringList{"a: x z"};
        QTest::newRow("top-level nodes that moved when the root closed keep every element")
            << QByteArray("<r>\n  <a><x/><z/></a>\n  <b/>text</r>") << QStringList{"a: x z", "b: "};
    }

    // Only "x" under the first top-level node is named. The parser keeps indentation aside, so the top-level
    // nodes count from 0 while the root is open.
    void parserLeavesOutTheSecondLevelElementsNamed() {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, kept);
        struct Named final : SkippableNames {
            bool contains(qsizetype topIndex, std::string_view name) const override {
                return topIndex == 0 && name == "x";
            }
        } named;

        const ParsedXml parsed = parseXml(xml, path("in.xml"), {}, &named);

        QVERIFY(parsed.doc);
        QStringList shape;
        for (const xmlNode* top = xmlDocGetRootElement(parsed.doc.get())->children; top; top = top->next) {
            if (top->type != XML_ELEMENT_NODE)
                continue;
            QStringList children;
            for (const xmlNode* child = top->children; child; child = child->next)
                if (child->type == XML_ELEMENT_NODE)
                    children << QString::fromUtf8(reinterpret_cast<const char*>(child->name));
            shape << QString::fromUtf8(reinterpret_cast<const char*>(top->name)) + ": " + children.join(' ');
        }
        QCOMPARE(shape, kept);
    }

    void parserListsWhatItLeftOutInPlace_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("leftOut"); // "top index/named siblings before it/name"
        QTest::newRow("between named nodes of every kind, text and comments uncounted")
            << QByteArray("<r>\n  <a>t<x/><!--c--><y/><x><x/></x><?p d?>u<x/>&amp;<x/></a>\n  <b><x/></b>\n</r>")
            << QStringList{"0/0/x", "0/1/x", "0/2/x", "0/2/x"};
        QTest::newRow("prefixed names by their local name")
            << QByteArray("<r xmlns:p=\"urn:p\"><a><p:x/><x xmlns=\"urn:q\"/><p:y/></a></r>")
            << QStringList{"0/0/x", "0/0/x"};
        QTest::newRow("top-level nodes counted whatever their kind")
            << QByteArray("<r><!--c--><a><x/></a><?p?></r>") << QStringList{};
        QTest::newRow("mixed content keeps its space in place")
            << QByteArray("<r><a>one <x/> two <y/> <x/></a></r>") << QStringList{"0/0/x", "0/1/x"};
        QTest::newRow("a document type leaves nothing out")
            << QByteArray("<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT x ANY>]><r><a><x/></a></r>")
            << QStringList{};
        QTest::newRow("top-level nodes that moved leave nothing out")
            << QByteArray("<r>\n  <a><x/></a>\n  <b/>text</r>") << QStringList{};
        QTest::newRow("a document that fails lists nothing") << QByteArray("<r><a><x/></a><b>") << QStringList{};
    }

    // Only "x" under the top-level node at index 0 is named (a comment before "a" makes "a" index 1 there).
    void parserListsWhatItLeftOutInPlace() {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, leftOut);
        struct Named final : SkippableNames {
            bool contains(qsizetype topIndex, std::string_view name) const override {
                return topIndex == 0 && name == "x";
            }
        } named;

        const ParsedXml parsed = parseXml(xml, path("in.xml"), {}, &named);

        QStringList listed;
        for (const LeftOutElement& element : parsed.leftOut)
            listed << QStringLiteral("%1/%2/%3")
                          .arg(element.topIndex)
                          .arg(element.namedBefore)
                          .arg(QString::fromUtf8(element.name.data(), qsizetype(element.name.size())));
        QCOMPARE(listed, leftOut);
    }

    // The merge must see each name it adds at once, or a name repeated in one input would be added twice; the
    // parsers ahead may learn it later, and then only ever leave out more.
    void mergedNamesAreKnownToTheMergeAtOnceAndToTheParsersWhenPublished() {
        MergedNames names;
        names.resize(2);
        const std::string name = "item";

        const std::string_view kept = names.insert(1, name);

        QVERIFY(kept == name && kept.data() != name.data());
        QVERIFY(names.has(1, "item"));
        QVERIFY(!names.has(0, "item"));
        QVERIFY(!names.contains(1, "item"));
        names.publish();
        QVERIFY(names.contains(1, "item"));
        QVERIFY(names.has(1, "item"));
        QVERIFY(!names.contains(0, "item"));
        QVERIFY(!names.contains(2, "item"));
    }

    // A name is kept once, and every view of it stays where it is while many more come and after the names move:
    // the left-out elements of a large input view them until the merge reaches them.
    void keptNamesStayWhereTheyAre() {
        KeptNames names;
        std::vector<std::string_view> views;
        for (int i = 0; i < 50000; ++i)
            views.push_back(names.keep("n" + std::to_string(i)));
        QCOMPARE(names.keep("n123").data(), views[123].data());
        const KeptNames moved = std::move(names);
        for (int i = 0; i < 50000; i += 997)
            QCOMPARE(QByteArray(views[std::size_t(i)].data(), qsizetype(views[std::size_t(i)].size())),
                     "n" + QByteArray::number(i));
    }

    void takerFactoryFailureTravelsWithItsInput_data() {
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("failing"); // the input whose taker cannot be made
        QTest::addColumn<bool>("standard");
        QTest::newRow("on the taking thread") << 4 << 0 << true;
        QTest::newRow("on a thread ahead") << 4 << 2 << true;
        QTest::newRow("on a thread ahead, no std::exception") << 4 << 2 << false;
        QTest::newRow("nothing ahead") << 0 << 1 << true;
    }

    // What the factory throws is the input's failure, for the join to report; the other inputs are parsed.
    void takerFactoryFailureTravelsWithItsInput() {
        QFETCH(int, depth);
        QFETCH(int, failing);
        QFETCH(bool, standard);
        const QStringList paths = m_folders.writeFiles(QByteArrayList(4, "<r><a><b/></a></r>"));
        InputPrefetcher inputs(paths, depth, nullptr, [&](qsizetype index, qsizetype) -> ElementTaker* {
            if (index != failing)
                return nullptr;
            if (standard)
                throw std::runtime_error("no taker");
            throw 42;
        });
        for (int i = 0; i < 4; ++i) {
            const PreparedInput input = inputs.takeNext();
            QCOMPARE(bool(input.parseFailure), i == failing);
            QCOMPARE(bool(input.parsed.doc), i != failing);
            if (i == failing && standard)
                QVERIFY_THROWS_EXCEPTION(std::runtime_error, std::rethrow_exception(input.parseFailure));
            else if (i == failing)
                QVERIFY_THROWS_EXCEPTION(int, std::rethrow_exception(input.parseFailure));
        }
    }

    // The join waits for more small inputs to be ready; a large one that has only been read meanwhile is reason
    // enough to go on, without waiting for its parse.
    void waitingTakerGoesOnOnceALargeTextIsRead() {
        const QStringList paths =
            m_folders.writeFiles({numberedDocument(0, 1), numberedDocument(1, 1), numberedDocument(2, 400000)});
        HoldingTaker holding;
        InputPrefetcher inputs(paths, 16, nullptr,
                               [&](qsizetype index, qsizetype) { return index == 2 ? &holding : nullptr; });
        const auto release = qScopeGuard([&] { holding.release(); });
        QCOMPARE(documentNumber(inputs.takeNext().parsed.doc.get()), 0);

        const PreparedInput second = inputs.takeNext(); // while the third is held in its parse

        QVERIFY(!holding.ranOut());
        QCOMPARE(documentNumber(second.parsed.doc.get()), 1);
        holding.release();
        QCOMPARE(documentNumber(inputs.takeNext().parsed.doc.get()), 2);
    }

    void stopRequestedEndsAWaitingTake() {
        const QStringList paths = m_folders.writeFiles({numberedDocument(0, 1), numberedDocument(1, 400000)});
        HoldingTaker holding;
        std::stop_source stop;
        InputPrefetcher inputs(
            paths, 4, nullptr, [&](qsizetype index, qsizetype) { return index == 1 ? &holding : nullptr; },
            stop.get_token());
        const auto release = qScopeGuard([&] { holding.release(); });
        QVERIFY(inputs.takeNext().parsed.doc);
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            stop.request_stop();
        });

        const PreparedInput stopped = inputs.takeNext(); // the second input's parse is held

        stopper.join();
        QVERIFY(!holding.ranOut());
        QVERIFY_THROWS_EXCEPTION(StopRequested, std::rethrow_exception(stopped.readFailure));
    }

    void stoppedParseEndsWithoutADocument() {
        std::stop_source stop;
        stop.request_stop();
        const ParsedXml parsed = parseXml("<r><a/></r>", path("in.xml"), stop.get_token());
        QVERIFY(!parsed.doc);
        QVERIFY(parseXml("<r><a/></r>", path("in.xml")).doc);
    }

    void textInPiecesParsesAsTheWholeText_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("mark and declaration") << QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<r><a>x</a></r>");
        QTest::newRow("declaration only") << QByteArray("<?xml\tversion=\"1.0\"?><r/>");
        QTest::newRow("no declaration") << QByteArray("<?xml-stylesheet href=\"s\"?><r><a/> <b/></r>");
        QTest::newRow("only a mark") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not well-formed") << QByteArray("<r>\n  <a>\n</r>");
        // An external subset is refused: the text is parsed a second time, from its start.
        QTest::newRow("parsed twice") << QByteArray(
            "<?xml version=\"1.0\"?><!DOCTYPE r SYSTEM \"r.dtd\"><r><a>caf\xC3\xA9</a></r>");
    }

    void textInPiecesParsesAsTheWholeText() {
        QFETCH(QByteArray, text);
        const ParsedXml whole = parseXml(text, path("in.xml"));
        for (const qsizetype size : {1, 2, 7}) {
            int opened = 0;
            const TextOpener open = [&]() -> TextPieces {
                ++opened;
                return piecesOf(text, size);
            };
            const ParsedXml pieces = parseXml(open, path("in.xml"), {});
            QCOMPARE(pieces.hasDeclaration, whole.hasDeclaration);
            QCOMPARE(bool(pieces.doc), bool(whole.doc));
            QCOMPARE(dumped(pieces.doc.get()), dumped(whole.doc.get()));
            QCOMPARE(pieces.error.reason, whole.error.reason);
            QCOMPARE(pieces.error.line, whole.error.line);
            QCOMPARE(pieces.error.column, whole.error.column);
            QCOMPARE(opened, QTest::currentDataTag() == QByteArray("parsed twice") ? 2 : 1);
        }
    }

    void elementWithTooManyAttributesIsRefusedWhereItStarts_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line"); // 0 when the text parses
        QTest::addColumn<int>("column");
        const auto attributes = [](int count, const char* pattern) {
            QByteArray list;
            for (int i = 0; i < count; ++i)
                list += QByteArray(pattern).replace("N", QByteArray::number(i));
            return list;
        };
        const QByteArray limit = attributes(10000, " aN='='");
        QTest::newRow("at the limit") << "<r><a" + limit + "/></r>" << 0 << 0;
        QTest::newRow("one more") << "<?xml version=\"1.0\"?>\n<r>\n  <\xC3\xA9" + limit + " z=\"\"/></r>" << 3 << 3;
        QTest::newRow("namespace declarations") << "<r" + attributes(10001, " xmlns:pN=\"urn:N\"") + "/>" << 1 << 1;
        // Equal signs that are no attributes: in text, comments, CDATA, instructions, values and the document type.
        const QByteArray equals(30000, '=');
        QTest::newRow("equal signs elsewhere")
            << "<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT x ANY><!ATTLIST r a CDATA '" + equals +
                   "'><!ATTLIST x a CDATA #IMPLIED><!ENTITY e \"<x a='1'>" + equals + "</x>\"><!-- > " + equals +
                   " -->]>\n<?p " + equals + " > ?><r a='" + equals + "'>" + equals + "<![CDATA[<b " + equals +
                   "]]>&e;</r>"
            << 0 << 0;
    }

    void elementWithTooManyAttributesIsRefusedWhereItStarts() {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(int, column);
        for (const qsizetype size : {text.size(), qsizetype(3)}) {
            const ParsedXml parsed = parseXml([&] { return piecesOf(text, size); }, path("in.xml"));
            QCOMPARE(bool(parsed.doc), line == 0);
            if (line == 0)
                continue;
            QVERIFY2(parsed.error.reason.startsWith("An element has more than 10000 attributes"),
                     qPrintable(parsed.error.reason));
            QCOMPARE(parsed.error.line, line);
            QCOMPARE(parsed.error.column, column);
        }
    }

    // The text is read as it is parsed; how it was read is known only once all of it was, also when the parse
    // ends early.
    void inputThatFailsEarlyIsStillReadWhole() {
        writeFile(path("late.xml"), "<r><a></r>" + QByteArray(600 * 1024, ' ') + "<!-- caf\xE9 -->");
        const PreparedInput input = InputPrefetcher::prepare(path("late.xml"));
        QVERIFY(!input.parsed.doc);
        QVERIFY(!input.readFailure && !input.parseFailure);
        QCOMPARE(input.reading, TextReading::Windows1252);
    }

private:
    QString path(const QString& name) const { return m_folders.filePath(name); }

    // \a text in pieces of \a size bytes, the last one shorter.
    static TextPieces piecesOf(const QByteArray& text, qsizetype size) {
        return [&text, size, offset = qsizetype(0)]() mutable {
            const QByteArrayView piece =
                QByteArrayView(text).sliced(offset).first(std::min(size, text.size() - offset));
            offset += piece.size();
            return piece;
        };
    }

    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QString reportEvent(int step, const QString& description) {
        return QStringLiteral("report:%1 at %2").arg(description).arg(step);
    }

    MergeResult merge(const QStringList& paths, int parseAhead) const {
        RecordingHost host(paths);
        StepRunner steps([&](int step, const QString& description) {
            host.showErrorReport(QStringLiteral("%1 at %2").arg(description).arg(step));
        });
        const QString working = path(QStringLiteral("working-%1.xml").arg(parseAhead));
        QFile::remove(working);
        MergeResult result;
        result.outcome = runMergeMode(host, steps, working, parseAhead);
        result.events = host.events;
        QFile file(working);
        if (file.open(QIODevice::ReadOnly))
            result.output = file.readAll();
        return result;
    }

    TestFolders m_folders{TestFolders::Temp::Unchanged};
};

QTEST_GUILESS_MAIN(TestParseAhead)
#include "tst_parseahead.moc"
