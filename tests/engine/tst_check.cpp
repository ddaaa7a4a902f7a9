#include "engine/join/joincommand.h"
#include "engine/report/inputcheck.h"
#include "engine/text/textfile.h"
#include "engine/xml/xmlparser.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>

using namespace corvanta;

Q_DECLARE_METATYPE(corvanta::InputStatus)

namespace {

struct Input {
    const char* name;
    QByteArray text;
};

const QByteArray kFine = "<r><a><x/></a><b/></r>";

QByteArray repeated(const QByteArray& piece, int times) {
    QByteArray text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// What the whole tree says of an input, as Merge builds it.
InputCheck fromTree(const QString& path) {
    InputCheck check;
    std::optional<TextReading> reading;
    const ParsedXml parsed = parseXml(readTextFileEncoded(path, reading), path);
    if (const xmlNode* root = rootElement(parsed.doc.get())) {
        check.root = QString::fromUtf8(baseName(root));
        check.topLevelNodes = childCount(root);
        if (root->ns && root->ns->href)
            check.rootNamespace = QString::fromUtf8(reinterpret_cast<const char*>(root->ns->href));
    } else {
        check.status = InputStatus::NotWellFormed;
        check.reason = parsed.error.reason;
        check.line = parsed.error.line;
        check.column = parsed.error.column;
    }
    return check;
}

QList<InputStatus> statuses(const ListCheck& check) {
    QList<InputStatus> found;
    for (const InputCheck& input : check.inputs)
        found << input.status;
    return found;
}

} // namespace

class TestCheck : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    // Every input is reported, not only the first problem; the verdict agrees with what Merge does.
    void reportsEveryInputAndAgreesWithMerge_data() {
        QTest::addColumn<QByteArrayList>("texts");
        QTest::addColumn<QList<InputStatus>>("expected");
        using S = InputStatus;
        QTest::newRow("all fine") << QByteArrayList{kFine, kFine, kFine} << QList<S>{S::Ok, S::Ok, S::Ok};
        QTest::newRow("problem first") << QByteArrayList{"<s><a/><b/></s>", kFine, kFine}
                                       << QList<S>{S::Ok, S::DifferentRoot, S::DifferentRoot};
        QTest::newRow("problem in the middle")
            << QByteArrayList{kFine, "<r><a/></r>", kFine, kFine} << QList<S>{S::Ok, S::DifferentCount, S::Ok, S::Ok};
        QTest::newRow("problem last") << QByteArrayList{kFine, kFine, "<r><a>"}
                                      << QList<S>{S::Ok, S::Ok, S::NotWellFormed};
        QTest::newRow("several problems")
            << QByteArrayList{kFine, "<r/>", "<q><a/><b/></q>", "<r><a></b></r>", kFine}
            << QList<S>{S::Ok, S::DifferentCount, S::DifferentRoot, S::NotWellFormed, S::Ok};
        QTest::newRow("root and count differ: the root is named")
            << QByteArrayList{kFine, "<s/>"} << QList<S>{S::Ok, S::DifferentRoot};
        QTest::newRow("root names are case-sensitive")
            << QByteArrayList{kFine, "<R><a/><b/></R>"} << QList<S>{S::Ok, S::DifferentRoot};
        QTest::newRow("a single well-formed input") << QByteArrayList{kFine} << QList<S>{S::Ok};
        QTest::newRow("a single input that does not parse") << QByteArrayList{"<r>"} << QList<S>{S::NotWellFormed};
        QTest::newRow("an empty file does not parse") << QByteArrayList{kFine, ""} << QList<S>{S::Ok, S::NotWellFormed};
        QTest::newRow("comments and instructions count as top-level nodes")
            << QByteArrayList{"<r><a/><!--c--><?p?></r>", "<r><a/><b/><c/></r>", "<r><a/><b/></r>"}
            << QList<S>{S::Ok, S::Ok, S::DifferentCount};
        QTest::newRow("indentation does not count")
            << QByteArrayList{kFine, "<r>\n  <a>\n    <y/>\n  </a>\n  <b/>\n</r>\n"} << QList<S>{S::Ok, S::Ok};
    }

    void reportsEveryInputAndAgreesWithMerge() {
        QFETCH(QByteArrayList, texts);
        QFETCH(QList<InputStatus>, expected);
        QStringList paths;
        for (qsizetype i = 0; i < texts.size(); ++i) {
            paths << path(QStringLiteral("in%1.xml").arg(i + 1));
            writeFile(paths.last(), texts.at(i));
        }

        const ListCheck check = checkInputs(paths);

        QCOMPARE(statuses(check), expected);
        for (qsizetype i = 0; i < paths.size(); ++i)
            QCOMPARE(check.inputs.at(size_t(i)).path, paths.at(i));
        RecordingHost merge(paths);
        joinFiles(merge);
        QCOMPARE(check.mergeable(), merge.handedOff() && merge.messages().isEmpty());
    }

    void comparisonStartsAtTheFirstWellFormedInput() {
        writeFile(path("broken.xml"), "<r><a/>");
        writeFile(path("first.xml"), "<r><a/><b/></r>");
        writeFile(path("fewer.xml"), "<r><a/></r>");
        writeFile(path("same.xml"), "<r><c/><d/></r>");

        const ListCheck check = checkInputs(
            {path("missing.xml"), path("broken.xml"), path("first.xml"), path("fewer.xml"), path("same.xml")});

        QCOMPARE(statuses(check), (QList<InputStatus>{InputStatus::Unreadable, InputStatus::NotWellFormed,
                                                      InputStatus::Ok, InputStatus::DifferentCount, InputStatus::Ok}));
        QCOMPARE(check.inputs[3].comparedWith, path("first.xml"));
        QCOMPARE(check.problemCount(), 2 + 1);
        QVERIFY(!check.mergeable());
    }

    void prefixedAndUnprefixedRootsShareTheirBaseName() {
        writeFile(path("plain.xml"), "<catalog><a/></catalog>");
        writeFile(path("prefixed.xml"), "<p:catalog xmlns:p=\"urn:p\"><p:a/></p:catalog>");
        writeFile(path("default.xml"), "<catalog xmlns=\"urn:d\"><a/></catalog>");
        const ListCheck check = checkInputs({path("plain.xml"), path("prefixed.xml"), path("default.xml")});
        QCOMPARE(statuses(check), (QList<InputStatus>{InputStatus::Ok, InputStatus::Ok, InputStatus::Ok}));
        QCOMPARE(check.inputs[1].root, QStringLiteral("catalog"));
    }

    void statusLinesSayWhatIsWrongNamingTheFirstInput() {
        writeFile(path("a.xml"), "<r><x/><y/><z/></r>");
        writeFile(path("one.xml"), "<r><x/></r>");
        writeFile(path("b.xml"), "<s><x/><y/><z/></s>");
        writeFile(path("c.xml"), "<r>\n<x></y></r>");
        QDir().mkpath(path("folder.xml"));
        writeFile(path("d.xml"), "<r><x/><y/><z/></r>");
        const ListCheck check =
            checkInFolder({"a.xml", "one.xml", "b.xml", "c.xml", "folder.xml", "gone.xml", "d.xml"}, m_folders.path());

        QCOMPARE(check.inputs[0].statusLine(), QStringLiteral("a.xml: ok (root r, 3 top-level nodes)"));
        QCOMPARE(check.inputs[1].statusLine(), QStringLiteral("one.xml: 1 top-level node, but a.xml has 3"));
        QCOMPARE(check.inputs[2].statusLine(), QStringLiteral("b.xml: root s, but a.xml has root r"));
        QCOMPARE(check.inputs[3].statusLine(),
                 QStringLiteral("c.xml: not well-formed at line 2, column 8: Opening and ending tag mismatch: x line 2 "
                                "and y"));
        QCOMPARE(check.inputs[4].statusLine(), QStringLiteral("folder.xml: cannot be read: Is a directory"));
        QCOMPARE(check.inputs[5].statusLine(), QStringLiteral("gone.xml: cannot be read: No such file or directory"));
        QCOMPARE(check.summary(), QStringLiteral("5 of 7 files would stop a Merge."));
    }

    void jsonCarriesTheFieldsOfEachStatus() {
        writeFile(path("a.xml"), "<r><x/></r>");
        writeFile(path("b.xml"), "<r><x/><y/></r>");
        writeFile(path("c.xml"), "<r><x>");
        const ListCheck check = checkInFolder({"a.xml", "b.xml", "c.xml", "gone.xml"}, m_folders.path());

        const QJsonObject json = QJsonDocument::fromJson(check.toJson()).object();
        QCOMPARE(json.value("mergeable"), QJsonValue(false));
        const QJsonArray inputs = json.value("inputs").toArray();
        QCOMPARE(inputs.size(), 4);
        QCOMPARE(inputs[0].toObject(),
                 (QJsonObject{{"path", "a.xml"}, {"status", "ok"}, {"root", "r"}, {"topLevelNodes", 1}}));
        QCOMPARE(inputs[1].toObject(), (QJsonObject{{"path", "b.xml"},
                                                    {"status", "different-count"},
                                                    {"root", "r"},
                                                    {"topLevelNodes", 2},
                                                    {"comparedWith", "a.xml"}}));
        const QJsonObject broken = inputs[2].toObject();
        QCOMPARE(broken.keys(), (QStringList{"column", "line", "path", "reason", "status"}));
        QCOMPARE(broken.value("status"), QJsonValue("not-well-formed"));
        QCOMPARE(broken.value("line"), QJsonValue(1));
        QVERIFY(!broken.value("reason").toString().isEmpty());
        QCOMPARE(
            inputs[3].toObject(),
            (QJsonObject{{"path", "gone.xml"}, {"status", "unreadable"}, {"reason", "No such file or directory"}}));
    }

    // The check decodes as Merge does: a UTF-16 file and Windows-1252 bytes parse.
    void readsInputsAsMergeDoes() {
        writeFile(path("utf16.xml"), QByteArray("\xff\xfe<\0r\0>\0<\0a\0/\0>\0<\0/\0r\0>\0", 24));
        writeFile(path("legacy.xml"), "<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><caf\xe9/></r>");
        const ListCheck check = checkInputs({path("utf16.xml"), path("legacy.xml")});
        QCOMPARE(statuses(check), (QList<InputStatus>{InputStatus::Ok, InputStatus::Ok}));
    }

    void summaries_data() {
        QTest::addColumn<int>("fine");
        QTest::addColumn<int>("broken");
        QTest::addColumn<QString>("summary");
        QTest::newRow("none") << 0 << 0 << "No files added.";
        QTest::newRow("one fine") << 1 << 0 << "The file can be merged.";
        QTest::newRow("all fine") << 3 << 0 << "All 3 files can be merged.";
        QTest::newRow("one of one") << 0 << 1 << "1 of 1 file would stop a Merge.";
        QTest::newRow("some") << 2 << 2 << "2 of 4 files would stop a Merge.";
    }

    void summaries() {
        QFETCH(int, fine);
        QFETCH(int, broken);
        QFETCH(QString, summary);
        writeFile(path("fine.xml"), kFine);
        QStringList paths;
        for (int i = 0; i < fine; ++i)
            paths << path("fine.xml");
        for (int i = 0; i < broken; ++i)
            paths << path("missing.xml");
        const ListCheck check = checkInputs(paths);
        QCOMPARE(check.summary(), summary);
        QCOMPARE(check.mergeable(), fine > 0 && broken == 0);
    }

    // Many inputs on several workers: progress comes on the calling thread, once per input, in list order.
    void progressComesInListOrderOnTheCallingThread() {
        QStringList paths;
        for (int i = 0; i < 60; ++i) {
            paths << path(QStringLiteral("f%1.xml").arg(i));
            // Sizes vary so that the workers finish out of order.
            QByteArray text = "<r>";
            for (int k = 0; k < (i % 7) * 2000; ++k)
                text += "<a/>";
            writeFile(paths.last(), i == 41 ? QByteArray("<r>") : text + "</r>");
        }
        QList<int> order;
        bool onCaller = true;
        const ListCheck check = checkInputs(paths, [&](int index, const InputCheck& input) {
            order << index;
            onCaller = onCaller && QThread::currentThread() == thread();
            QCOMPARE(input.path, paths.at(index));
        });
        QList<int> expected;
        for (int i = 0; i < 60; ++i)
            expected << i;
        QCOMPARE(order, expected);
        QVERIFY(onCaller);
        QCOMPARE(check.inputs.size(), size_t(60));
        QCOMPARE(check.inputs[41].status, InputStatus::NotWellFormed);
        // The first input has no top-level nodes, and so has every seventh one.
        QCOMPARE(check.inputs[1].status, InputStatus::DifferentCount);
        QCOMPARE(check.inputs[7].status, InputStatus::Ok);
    }

    // The check keeps no tree, yet tells what the tree would: the same root, count and message.
    void tellsWhatTheTreeTells_data() {
        QTest::addColumn<QByteArray>("text");
        const QByteArray many = repeated("<a/>t<!--c--><?p q?><![CDATA[d]]>\n <b><c/>deep</b>", 300);
        QTest::newRow("indentation") << QByteArray("<r>\n  <a>\n    <y/>\n  </a>\n  <b/>\n</r>\n");
        QTest::newRow("mixed content at the root") << QByteArray("<r>\n  <a/>\n  text\n  <b/>\n</r>");
        QTest::newRow("text comes after much indentation")
            << QByteArray("<r>\n" + repeated(" <c><d/></c>\n", 700) + "tail</r>");
        QTest::newRow("text comes first") << QByteArray("<r>t" + repeated("<a/>\n", 700) + "</r>");
        QTest::newRow("indentation only, many nodes") << QByteArray("<r>\n" + repeated("  <a>x</a>\n", 700) + "</r>");
        QTest::newRow("every kind of node, many times") << QByteArray("<r>" + many + "</r>");
        QTest::newRow("preserved space") << QByteArray("<r xml:space=\"preserve\">\n <a/>\n</r>");
        QTest::newRow("long blank text, then text") << QByteArray("<r>" + repeated(" ", 9000) + "x<a/></r>");
        QTest::newRow("long text, then blanks") << QByteArray("<r>x" + repeated(" ", 9000) + "<a/>\n</r>");
        QTest::newRow("adjacent CDATA sections") << QByteArray("<r><![CDATA[a]]><![CDATA[b]]><a/><![CDATA[]]></r>");
        QTest::newRow("character references") << QByteArray("<r>&#32;<a/>&amp;\n</r>");
        QTest::newRow("comments between blanks") << QByteArray("<r> <!--c--> <a/> <?p?> </r>");
        QTest::newRow("CDATA, then text") << QByteArray("<r> <![CDATA[x]]>y <a/></r>");
        QTest::newRow("namespaces") << QByteArray("<p:r xmlns:p=\"u\"><p:a xmlns:q=\"v\"><q:b/></p:a> <p:c/></p:r>");
        QTest::newRow("prolog and epilogue") << QByteArray("<?xml version=\"1.0\"?><!--c--><r><a/></r><!--d--><?p?>");
        QTest::newRow("text only") << QByteArray("<r>text</r>");
        QTest::newRow("empty root") << QByteArray("<r/>");
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF<r><a/></r>");
        QTest::newRow("Windows-1252 bytes") << QByteArray("<r>caf\xE9<a/></r>");
        QTest::newRow("UTF-16") << QByteArray("\xff\xfe<\0r\0>\0 \0<\0a\0/\0>\0<\0/\0r\0>\0", 26);
        QTest::newRow("document type") << QByteArray(
            "<!DOCTYPE r [<!ELEMENT r (a)*><!ELEMENT a EMPTY>]><r><a/> <a/></r>");
        QTest::newRow("invalid by its document type")
            << QByteArray("<!DOCTYPE r [<!ELEMENT r (a)*><!ELEMENT a EMPTY>]><r><b/></r>");
        QTest::newRow("entity") << QByteArray("<!DOCTYPE r [<!ENTITY e \"<a/>\">]><r>&e;<a/></r>");
        QTest::newRow("broken late") << QByteArray("<r>" + many + "</s>");
        QTest::newRow("broken deep") << QByteArray("<r>" + many + "<a><b><c></b></a></r>");
        QTest::newRow("repeated xml:id, then broken")
            << QByteArray("<r>" + many + "<a xml:id=\"i\"/><a><b xml:id=\"i\"/></a><b></r>");
        QTest::newRow("undeclared prefix") << QByteArray("<r><a><p:b/></a></r>");
        QTest::newRow("blank file") << QByteArray("  \n");
        QTest::newRow("two roots") << QByteArray("<r/><s/>");
        QTest::newRow("empty file") << QByteArray();
    }

    void tellsWhatTheTreeTells() {
        QFETCH(QByteArray, text);
        writeFile(path("in.xml"), text);
        const InputCheck expected = fromTree(path("in.xml"));
        const InputCheck found = examineInput(path("in.xml"));
        QCOMPARE(found.status, expected.status);
        QCOMPARE(found.root, expected.root);
        QCOMPARE(found.topLevelNodes, expected.topLevelNodes);
        QCOMPARE(found.rootNamespace, expected.rootNamespace);
        QCOMPARE(found.reason, expected.reason);
        QCOMPARE(found.line, expected.line);
        QCOMPARE(found.column, expected.column);
    }

    // A stop ends the reading of a long text within a piece or two, and nothing read after it is handed on.
    void stopEndsTheReadingWithinAFile() {
        std::stop_source stop;
        const QByteArray piece = repeated("<a><b>text</b></a>\n", 20000);
        int handedOut = 0;
        outlineXml(
            [&]() -> QByteArrayView {
                if (++handedOut == 2)
                    stop.request_stop();
                return handedOut == 1 ? QByteArrayView("<r>") : QByteArrayView(piece);
            },
            QStringLiteral("long.xml"), stop.get_token());
        QVERIFY2(handedOut <= 3, qPrintable(QString::number(handedOut)));

        const QStringList paths = m_folders.writeFiles({kFine, kFine, kFine});
        std::stop_source listStop;
        QList<int> handedOn;
        const ListCheck check = checkInputs(
            paths,
            [&](int index, const InputCheck&) {
                handedOn << index;
                listStop.request_stop();
            },
            CheckFor::Merge, listStop.get_token());
        QCOMPARE(handedOn, QList<int>{0});
        QCOMPARE(check.inputs.size(), size_t(1));
    }

    void failingProgressStopsTheCheck() {
        QStringList paths;
        for (int i = 0; i < 40; ++i) {
            paths << path(QStringLiteral("f%1.xml").arg(i));
            writeFile(paths.last(), kFine);
        }
        int calls = 0;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, checkInputs(paths, [&](int index, const InputCheck&) {
                                     ++calls;
                                     if (index == 2)
                                         throw std::runtime_error("stop");
                                 }));
        QCOMPARE(calls, 3);
    }

private:
    QString path(const QString& name) const { return m_folders.filePath(name); }

    // Relative paths stay as given in every line; they are read from the working directory.
    static ListCheck checkInFolder(const QStringList& names, const QString& folder) {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(folder);
        ListCheck check = checkInputs(names);
        QDir::setCurrent(previous);
        return check;
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
