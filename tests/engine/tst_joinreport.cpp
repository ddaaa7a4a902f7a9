#include "engine/join/joincommand.h"
#include "engine/join/mergemode.h"
#include "engine/join/steprunner.h"
#include "engine/report/joinreport.h"
#include "tests/support/mergerecord.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QXmlStreamReader>
#include <memory>

using namespace corvanta;

namespace {

// A document whose root has \a tops top-level elements, each holding a random mix of elements (some prefixed,
// some repeating a name), processing instructions whose targets share the elements' names, text and comments.
QByteArray randomDocument(QRandomGenerator& random, int tops) {
    QByteArray xml = "<r xmlns:p=\"urn:p\">";
    for (int t = 0; t < tops; ++t) {
        const QByteArray top = (t % 2 ? "p:t" : "t") + QByteArray::number(t);
        xml += "<" + top + ">";
        for (int k = random.bounded(9); k > 0; --k) {
            const QByteArray name = "e" + QByteArray::number(random.bounded(7));
            switch (random.bounded(6)) {
            case 0:
                xml += "<!--note-->";
                break;
            case 1:
                xml += "some text";
                break;
            case 2:
                xml += "<?" + name + " data?>";
                break;
            case 3:
                xml += "<p:" + name + "/>";
                break;
            default:
                xml += "<" + name + " n=\"" + QByteArray::number(k) + "\"><inner/></" + name + ">";
            }
        }
        xml += "</" + top + ">";
    }
    return xml + "</r>";
}

// Counted without libxml2: per top-level position, the base names of the second-level elements and processing
// instructions, in document order.
QList<QStringList> secondLevelNames(const QByteArray& xml) {
    QList<QStringList> tops;
    QXmlStreamReader reader(xml);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth == 2)
                tops.append(QStringList());
            else if (depth == 3)
                tops.last() << reader.name().toString();
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::ProcessingInstruction:
            if (depth == 2)
                tops.last() << reader.processingInstructionTarget().toString();
            break;
        default:
            break;
        }
    }
    return tops;
}

// The report's text, read back by Qt's parser: it must be one JSON document.
QJsonObject parsed(const JoinReport& report) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(report.toJson(), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning("not JSON: %s", qPrintable(error.errorString()));
    return document.object();
}

QJsonObject input(const QJsonObject& report, int index) {
    return report.value("inputs").toArray().at(index).toObject();
}

QStringList strings(const QJsonValue& array) {
    QStringList list;
    for (const auto& value : array.toArray())
        list << value.toString();
    return list;
}

} // namespace

class TestJoinReport : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void mergeCountsAgreeWithAnIndependentCount_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 25; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }

    void mergeCountsAgreeWithAnIndependentCount() {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        const int tops = random.bounded(1, 5);
        QStringList paths;
        QList<QList<QStringList>> names;
        for (int i = random.bounded(2, 6); i > 0; --i) {
            paths << path(QStringLiteral("in%1.xml").arg(paths.size() + 1));
            const QByteArray text = randomDocument(random, tops);
            writeFile(paths.last(), text);
            names << secondLevelNames(text);
        }

        JoinReport report(JoinReport::Mode::Merge);
        const QString result = join(paths, report);
        const QJsonObject json = parsed(report);

        QCOMPARE(json.value("mode"), QJsonValue("merge"));
        QCOMPARE(json.value("completed"), QJsonValue(true));
        QCOMPARE(input(json, 0), (QJsonObject{{"path", paths[0]}, {"role", "base"}}));
        QList<QSet<QString>> present;
        for (const QStringList& top : names[0])
            present << QSet<QString>(top.begin(), top.end());
        QList<int> expectedTotal;
        for (const QStringList& top : names[0])
            expectedTotal << int(top.size());
        for (int i = 1; i < paths.size(); ++i) {
            const QJsonObject merged = input(json, i);
            QCOMPARE(merged.value("path").toString(), paths[i]);
            const QJsonArray positions = merged.value("positions").toArray();
            QCOMPARE(positions.size(), tops);
            int added = 0;
            int skipped = 0;
            for (int j = 0; j < tops; ++j) {
                QStringList skippedNames;
                int addedHere = 0;
                for (const QString& name : names[i][j]) {
                    if (present[j].contains(name)) {
                        skippedNames << name;
                    } else {
                        present[j].insert(name);
                        ++addedHere;
                    }
                }
                const QJsonObject position = positions[j].toObject();
                QCOMPARE(position.value("position"), QJsonValue(j + 1));
                QCOMPARE(position.value("name"), QJsonValue(QStringLiteral("t%1").arg(j)));
                QCOMPARE(position.value("added"), QJsonValue(addedHere));
                QCOMPARE(position.value("skipped"), QJsonValue(int(skippedNames.size())));
                QCOMPARE(strings(position.value("skippedNames")), skippedNames);
                added += addedHere;
                skipped += int(skippedNames.size());
                expectedTotal[j] += addedHere;
            }
            QCOMPARE(merged.value("added"), QJsonValue(added));
            QCOMPARE(merged.value("skipped"), QJsonValue(skipped));
        }
        // What the report says was added is what the result holds.
        QList<int> total;
        for (const QStringList& top : secondLevelNames(result.toUtf8()))
            total << int(top.size());
        QCOMPARE(total, expectedTotal);
    }

    // The input that stopped a Merge carries the status the check gives it; inputs after it are not listed.
    void mergeStopNamesTheInputAndWhy_data() {
        QTest::addColumn<QByteArrayList>("texts"); // "DIR" makes a folder, "MISSING" no file at all
        QTest::addColumn<int>("listed");
        QTest::addColumn<QJsonObject>("stop"); // the last listed input, path aside
        const QByteArray fine = "<r><a><x/></a><b/></r>";
        QTest::newRow("different count in the middle")
            << QByteArrayList{fine, fine, "<r><a/></r>", fine} << 3
            << QJsonObject{
                   {"status", "different-count"}, {"root", "r"}, {"topLevelNodes", 1}, {"comparedWith", "in1.xml"}};
        QTest::newRow("different root last")
            << QByteArrayList{fine, "<p:q xmlns:p=\"urn:p\"><a/><b/></p:q>"} << 2
            << QJsonObject{
                   {"status", "different-root"}, {"root", "q"}, {"topLevelNodes", 2}, {"comparedWith", "in1.xml"}};
        QTest::newRow("not well-formed in the middle")
            << QByteArrayList{fine, "<r>\n<a></b></r>", fine} << 2
            << QJsonObject{{"status", "not-well-formed"},
                           {"reason", "Opening and ending tag mismatch: a line 2 and b"},
                           {"line", 2},
                           {"column", 8}};
        QTest::newRow("folder in the middle") << QByteArrayList{fine, "DIR", fine} << 2
                                              << QJsonObject{{"status", "unreadable"}, {"reason", "Is a directory"}};
        QTest::newRow("missing file last")
            << QByteArrayList{fine, fine, "MISSING"} << 3
            << QJsonObject{{"status", "unreadable"}, {"reason", "No such file or directory"}};
        QTest::newRow("first input not well-formed")
            << QByteArrayList{"<r><a></r>", fine, fine} << 1
            << QJsonObject{{"role", "base"},
                           {"status", "not-well-formed"},
                           {"reason", "Opening and ending tag mismatch: a line 1 and r"},
                           {"line", 1},
                           {"column", 11}};
        QTest::newRow("only input not well-formed") << QByteArrayList{"<r>"} << 1
                                                    << QJsonObject{{"role", "base"},
                                                                   {"status", "not-well-formed"},
                                                                   {"reason", "Premature end of data in tag r line 1"},
                                                                   {"line", 1},
                                                                   {"column", 4}};
    }

    void mergeStopNamesTheInputAndWhy() {
        QFETCH(QByteArrayList, texts);
        QFETCH(int, listed);
        QFETCH(QJsonObject, stop);
        QStringList names;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            names << QStringLiteral("in%1.xml").arg(i + 1);
            if (texts[i] == "DIR")
                QVERIFY(QDir(m_folders.path()).mkdir(names.last()));
            else if (texts[i] != "MISSING")
                writeFile(path(names.last()), texts[i]);
        }

        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_folders.path());
        JoinReport report(JoinReport::Mode::Merge);
        join(names, report);
        QDir::setCurrent(previous);

        const QJsonObject json = parsed(report);
        QCOMPARE(json.value("completed"), QJsonValue(false));
        QCOMPARE(json.value("inputs").toArray().size(), listed);
        stop.insert("path", names[listed - 1]);
        QCOMPARE(input(json, listed - 1), stop);
        QVERIFY(report.stoppedInput());
        QCOMPARE(report.stoppedInput()->index, listed);
        QCOMPARE(report.isProblem(*report.stoppedInput()), true);
        QCOMPARE(report.contribution(*report.stoppedInput()), report.stoppedInput()->stop->statusLine());
    }

    void mergeWithoutResultThatNoInputStoppedNamesNone() {
        writeFile(path("a.xml"), "<r><a/></r>");
        writeFile(path("b.xml"), "<r><b/></r>");
        // The working folder cannot be made: the join fails after every input was merged.
        qputenv("TEMP", QFile::encodeName(path("no/such/folder")));
        JoinReport report(JoinReport::Mode::Merge);
        join({path("a.xml"), path("b.xml")}, report);
        QCOMPARE(parsed(report).value("completed"), QJsonValue(false));
        QCOMPARE(report.inputs().size(), size_t(2));
        QVERIFY(!report.stoppedInput());
    }

    void contributionsInWords() {
        writeFile(path("a.xml"), "<r><a><x/><y/></a><b/></r>");
        writeFile(path("b.xml"), "<r><a><x/><z/></a><b><x/><y/><y/></b></r>");
        writeFile(path("c.xml"), "<r><a><x/></a><b><w/></b></r>");
        JoinReport report(JoinReport::Mode::Merge);
        join({path("a.xml"), path("b.xml"), path("c.xml")}, report);
        QCOMPARE(report.contribution(report.inputs()[0]),
                 QStringLiteral("Base document: the other files were merged into it"));
        QCOMPARE(report.contribution(report.inputs()[1]), QStringLiteral("3 nodes added, 2 already there"));
        QCOMPARE(report.contribution(report.inputs()[2]), QStringLiteral("1 node added, 1 already there"));
        QVERIFY(!report.isProblem(report.inputs()[1]));
    }

    void appendTellsBytesAndHowEachFileWasRead() {
        writeFile(path("utf8.xml"), "<a>caf\xc3\xa9</a>");
        writeFile(path("le.xml"), QByteArray("\xff\xfe<\0b\0/\0>\0", 10));
        writeFile(path("be.xml"), QByteArray("\xfe\xff\0<\0c\0/\0>", 10));
        writeFile(path("legacy.xml"), "<d>caf\xe9</d>");
        writeFile(path("empty.xml"), "");
        QVERIFY(QDir(m_folders.path()).mkdir("folder.xml"));
        writeFile(path("le32.xml"), QByteArray("\xff\xfe\0\0<\0\0\0e\0\0\0/\0\0\0>\0\0\0", 20));
        writeFile(path("be32.xml"), QByteArray("\0\0\xfe\xff\0\0\0<\0\0\0f\0\0\0/\0\0\0>", 20));
        const QStringList names{"utf8.xml",    "le.xml",     "be.xml",   "legacy.xml", "empty.xml",
                                "missing.xml", "folder.xml", "le32.xml", "be32.xml"};
        QStringList paths;
        for (const QString& name : names)
            paths << path(name);

        JoinReport report(JoinReport::Mode::Append);
        const QString result = join(paths, report, true);

        const QJsonObject json = parsed(report);
        QCOMPARE(json.value("mode"), QJsonValue("append"));
        QCOMPARE(json.value("completed"), QJsonValue(true));
        const QList<QPair<int, QString>> expected{{12, "utf-8"},        {7, "utf-16le"}, {7, "utf-16be"},
                                                  {12, "windows-1252"}, {10, "empty"},   {0, "missing"},
                                                  {0, "unreadable"},    {7, "utf-32le"}, {7, "utf-32be"}};
        QCOMPARE(json.value("inputs").toArray().size(), expected.size());
        int sum = 0;
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(input(json, i),
                     (QJsonObject{{"path", paths[i]}, {"bytes", expected[i].first}, {"read", expected[i].second}}));
            sum += expected[i].first;
        }
        QCOMPARE(int(result.toUtf8().size()), sum);
        QCOMPARE(report.contribution(report.inputs()[0]), QStringLiteral("12 bytes added, read as UTF-8"));
        QCOMPARE(report.contribution(report.inputs()[5]), QStringLiteral("Missing: nothing added"));
        QVERIFY(!report.isProblem(report.inputs()[3]));
        QVERIFY(report.isProblem(report.inputs()[5]));
        QVERIFY(report.isProblem(report.inputs()[6]));
        QCOMPARE(report.contribution(report.inputs()[8]), QStringLiteral("7 bytes added, read as UTF-32 big-endian"));
    }

    // An input that fails, before or while it is read, added nothing: not the count of the input before it.
    void appendGivesAFailedInputNoBytes() {
        writeFile(path("a.xml"), "AAAA");
        writeFile(path("b.xml"), "B");
        QVERIFY(QDir(m_folders.path()).mkdir("folder.xml"));
        QVERIFY(QFile::link("/proc/self/mem", path("mem.xml")));
        const QStringList names{"a.xml", "folder.xml", "b.xml", "mem.xml", "a.xml", "missing.xml"};
        QStringList paths;
        for (const QString& name : names)
            paths << path(name);
        JoinReport report(JoinReport::Mode::Append);
        QCOMPARE(join(paths, report, true), QStringLiteral("AAAABAAAA"));
        const QList<QPair<int, QString>> expected{{4, "utf-8"},      {0, "unreadable"}, {1, "utf-8"},
                                                  {0, "unreadable"}, {4, "utf-8"},      {0, "missing"}};
        const QJsonObject json = parsed(report);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(input(json, i),
                     (QJsonObject{{"path", paths[i]}, {"bytes", expected[i].first}, {"read", expected[i].second}}));
    }

    void mergeReportIsTheSameWhenElementsAreNeverBuilt_data() {
        QTest::addColumn<QByteArrayList>("texts");
        const QByteArray base = "<r><a><x/></a><b><z/></b></r>";
        QTest::newRow("names repeated within one input")
            << QByteArrayList{base, "<r><a><y/><y/><x/><?y d?><y/></a><b><w/>text<!--c--><w/><z/><w/></b></r>"};
        QTest::newRow("names an earlier later input added")
            << QByteArrayList{base, "<r><a><y/></a><b><w/></b></r>", "<r><a><y/><v/><x/><y/></a><b><z/><w/></b></r>",
                              "<r><a><v/><y/><u/></a><b><w/><w/></b></r>"};
        QTest::newRow("prefixes and default namespaces")
            << QByteArrayList{"<r xmlns:p=\"urn:p\"><a><p:x/></a><b/></r>",
                              "<r xmlns:q=\"urn:q\"><a><x xmlns=\"urn:d\"/><q:y/></a><b><q:x/></b></r>",
                              "<r><a><y><x/></y><x/></a><b><x/></b></r>"};
        QTest::newRow("documents with a document type")
            << QByteArrayList{base,
                              "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"<y/>\">]>"
                              "<r><a><x/>&e;<y/><x/></a><b><z/><y/></b></r>",
                              "<r><a><y/><x/></a><b><y/><z/></b></r>",
                              "<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT b ANY><!ELEMENT x EMPTY>"
                              "<!ELEMENT y EMPTY>]><r><a><x/><y/></a><b><y/></b></r>"};
        QTest::newRow("top-level nodes that move when the root closes")
            << QByteArrayList{"<r> <a><x/></a> <b><x/></b>t</r>", "<r> <a><x/><y/></a> <b><x/><z/><x/></b>t</r>",
                              "<r> <a><y/></a> <b><z/><x/></b>t</r>"};
        QTest::newRow("mixed content and preserved space")
            << QByteArrayList{"<r><a>one <x/> two</a><b xml:space=\"preserve\"> <z/> </b></r>",
                              "<r><a>three <x/> <y/> <x/> four</a><b xml:space=\"preserve\"> <z/> <y/> </b></r>"};
        QTest::newRow("an input that fails after one that merged")
            << QByteArrayList{base, "<r><a><x/><y/></a><b><z/></b></r>", "<r><a><x/><y/></a><b><z/>", base};
        QTest::newRow("an input of another structure")
            << QByteArrayList{base, "<r><a><x/><y/></a><b><z/></b></r>", "<r><a><x/></a></r>", base};
        // Seeded random inputs, many of them sharing names.
        for (quint32 seed = 1; seed <= 6; ++seed) {
            QRandomGenerator random(seed);
            QByteArrayList texts;
            for (int i = random.bounded(3, 8); i > 0; --i)
                texts << randomDocument(random, 3);
            QTest::addRow("random, seed %u", seed) << texts;
        }
    }

    // Whether an element that stays behind is built or left out by the parser, whether an input is parsed before
    // or after the one ahead of it added its names: the same report to the byte, the same result and messages.
    void mergeReportIsTheSameWhenElementsAreNeverBuilt() {
        QFETCH(QByteArrayList, texts);
        QStringList paths;
        for (const QByteArray& text : texts) {
            paths << path(QStringLiteral("in%1.xml").arg(paths.size() + 1));
            writeFile(paths.last(), text);
        }

        const MergeRecord everyNode = merge(paths, 0, MergeParsing::BuildEveryNode);
        const QJsonObject reference = QJsonDocument::fromJson(everyNode.report).object();
        int skipped = 0;
        for (int i = 0; i < reference.value("inputs").toArray().size(); ++i)
            skipped += input(reference, i).value("skipped").toInt();
        QVERIFY(skipped > 0);
        for (int ahead : {0, 1, 2, 8}) {
            const MergeRecord leftOut = merge(paths, ahead, MergeParsing::LeaveOutKnownNames);
            QCOMPARE(leftOut.report, everyNode.report);
            QCOMPARE(leftOut.events, everyNode.events);
            QVERIFY2(leftOut.output == everyNode.output, qPrintable(QStringLiteral("look-ahead %1").arg(ahead)));
        }
    }

    // An entity reference that the base document cannot keep is replaced by the entity's text as it moves: it is
    // still told under its own name.
    void mergeTellsEachAddedNodeByItsName() {
        struct AddedNames final : JoinObserver {
            void nodeAdded(qsizetype position, std::string_view name) override {
                names << QStringLiteral("%1:%2").arg(position).arg(
                    QString::fromUtf8(name.data(), qsizetype(name.size())));
            }
            QStringList names;
        } observer;
        const QStringList paths{path("in1.xml"), path("in2.xml")};
        writeFile(paths[0], "<r><a><x/></a></r>");
        writeFile(paths[1], "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"<y/>text\">]><r><a><x/>&e;<?p d?><z/></a></r>");
        RecordingHost host(paths);
        host.observer = &observer;
        StepRunner steps([&](int step, const QString& description) {
            host.showErrorReport(QStringLiteral("%1 at %2").arg(description).arg(step));
        });

        const MergeOutcome outcome = runMergeMode(host, steps, path("working.xml"));

        QCOMPARE(outcome, MergeOutcome::Saved);
        QCOMPARE(host.reports(), QStringList());
        QCOMPARE(observer.names, (QStringList{"0:e", "0:p", "0:z"}));
    }

    // Listening changes nothing the join shows or makes, whether it ends with a result or stops.
    void reportNeverChangesTheJoin_data() {
        QTest::addColumn<QByteArrayList>("texts");
        QTest::addColumn<bool>("append");
        const QByteArray fine = "<r><a><x/></a><b/></r>";
        QTest::newRow("merge") << QByteArrayList{fine, "<r><a><y/><x/></a><b><z/></b></r>", fine} << false;
        QTest::newRow("merge stopped") << QByteArrayList{fine, "<r><a>", fine} << false;
        QTest::newRow("append") << QByteArrayList{fine, "", "caf\xe9"} << true;
    }

    void reportNeverChangesTheJoin() {
        QFETCH(QByteArrayList, texts);
        QFETCH(bool, append);
        QStringList paths;
        for (const QByteArray& text : texts) {
            paths << path(QStringLiteral("in%1.xml").arg(paths.size() + 1));
            writeFile(paths.last(), text);
        }
        RecordingHost plain(paths, append);
        joinFiles(plain);
        JoinReport report(append ? JoinReport::Mode::Append : JoinReport::Mode::Merge);
        RecordingHost reporting(paths, append);
        reporting.observer = &report;
        joinFiles(reporting);

        QCOMPARE(reporting.events, plain.events);
        QCOMPARE(reporting.resultsText, plain.resultsText);
        QVERIFY(!report.inputs().empty());
    }

private:
    QString path(const QString& name) const { return m_folders.filePath(name); }

    MergeRecord merge(const QStringList& paths, int parseAhead, MergeParsing parsing) const {
        return recordMerge(paths, path(QStringLiteral("working.xml")), parseAhead, parsing);
    }

    static QString join(const QStringList& paths, JoinReport& report, bool append = false) {
        RecordingHost host(paths, append);
        host.observer = &report;
        joinFiles(host);
        report.finish(host.handedOff());
        return host.resultsText;
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestJoinReport)
#include "tst_joinreport.moc"
