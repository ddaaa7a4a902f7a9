#include "engine/join/errorreport.h"
#include "engine/join/joincommand.h"
#include "tests/support/recordinghost.h"
#include "tests/support/smallfilesystem.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>
#include <memory>
#include <vector>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace corvanta;

using Files = QHash<QString, QByteArray>;

namespace {

// What a Merge of \a count inputs shows while it reads them: the busy pointer, then the progress before each input.
QStringList reading(qsizetype count) {
    QStringList events{"busy"};
    for (qsizetype i = 1; i <= count; ++i)
        events << QStringLiteral("progress %1").arg(double(i) / double(count) * 100.0);
    return events;
}

const QStringList kIdle{"idle", "progress 0"};
const QStringList kResults{"text", "results", "hide"};

QStringList handedOff(qsizetype count) {
    return reading(count) + kIdle + kResults;
}
const QString kStructureMessage = QStringLiteral("message:XML files do not have same structure, join aborted.");

QString parseErrorMessage(const QString& path, const QString& reason, int line, int column) {
    return QStringLiteral("message:Error reading %1\r\nerror:%2\r\nLine:%3\r\nposition:%4")
        .arg(path, reason)
        .arg(line)
        .arg(column);
}

QString report(const QString& description, int step) {
    return QStringLiteral("report:") + applicationErrorReport(description, location::JoinFiles, step, QString());
}

// Every element and attribute of a document as "{uri}local", in document order; "error: ..." when the text is not
// namespace-well-formed.
QStringList expandedNames(const QString& xml) {
    QStringList names;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        names << QStringLiteral("{%1}%2").arg(reader.namespaceUri(), reader.name());
        for (const QXmlStreamAttribute& attribute : reader.attributes())
            names << QStringLiteral("@{%1}%2").arg(attribute.namespaceUri(), attribute.name());
    }
    if (reader.hasError())
        names << QStringLiteral("error: ") + reader.errorString();
    return names;
}

QByteArray billionLaughsDeclarations() {
    QByteArray declarations = "<!ENTITY lol0 \"lol\">\n";
    for (int level = 1; level <= 9; ++level) {
        declarations += "<!ENTITY lol" + QByteArray::number(level) + " \"";
        for (int copy = 0; copy < 10; ++copy)
            declarations += "&lol" + QByteArray::number(level - 1) + ";";
        declarations += "\">\n";
    }
    return declarations;
}

/// Seeded random inputs of one shape for Merge: the same root and number of top-level nodes, second-level nodes
/// with namespaces, mixed content, xml:space scopes, CDATA, comments and instructions, some inputs indented.
class RandomInputs {
public:
    explicit RandomInputs(quint32 seed)
        : m_random(seed) {}

    QByteArrayList next() {
        const int tops = bounded(1, 4);
        const bool preserveRoot = chance(4);
        QByteArrayList inputs;
        for (int count = bounded(2, 5); inputs.size() < count;) {
            const bool indent = !preserveRoot && chance(2);
            QByteArray input = "<r" + pick({"", " xmlns=\"urn:d\""}) + " xmlns:p=\"" + pick({"urn:p", "urn:q"}) + "\"" +
                               (preserveRoot ? " xml:space=\"preserve\"" : "") + ">";
            for (int t = 0; t < tops; ++t)
                input += (indent ? "\n  " : "") + topLevel(indent);
            inputs << input + (indent ? "\n" : "") + "</r>";
        }
        return inputs;
    }

private:
    QByteArray topLevel(bool indent) {
        const bool preserve = chance(4);
        QByteArray node = "<t" + QByteArray(preserve ? " xml:space=\"preserve\"" : "") + ">";
        for (int i = bounded(0, 4); i > 0; --i)
            node += QByteArray(indent && !preserve ? "\n    " : preserve && chance(2) ? " " : "") + secondLevel();
        return node + (indent && !preserve ? "\n  " : "") + "</t>";
    }

    QByteArray secondLevel() {
        const QByteArray name = "n" + QByteArray::number(bounded(0, 6));
        switch (bounded(0, 8)) {
        case 0:
            return "<?" + name + " data?>";
        case 1:
            return "<!--c" + name + "-->";
        case 2:
            return "<p:" + name + " p:k=\"1\"/>";
        default:
            return "<" + name + attributes() + ">" + content() + "</" + name + ">";
        }
    }

    QByteArray attributes() { return chance(3) ? " k=\"a &amp; b\"" : QByteArray(); }

    QByteArray content() {
        switch (bounded(0, 8)) {
        case 0:
            return "Hello <b>big</b> <i>world</i>";
        case 1:
            return "<b>x</b> <i>y</i> end";
        case 2:
            return "\n      <c>\n        <d/>\n      </c>\n    ";
        case 3:
            return "<![CDATA[a < b]]> <e/>";
        case 4:
            return "<w xml:space=\"preserve\">  <d/> </w>";
        case 5:
            return "<e xmlns=\"\"><f/></e>";
        case 6:
            return "<p:g xmlns:p=\"urn:g\"><p:h/></p:g>";
        default:
            return {};
        }
    }

    QByteArray pick(std::initializer_list<const char*> choices) {
        return *(choices.begin() + bounded(0, int(choices.size())));
    }
    int bounded(int lowest, int highest) { return int(m_random.bounded(lowest, highest)); }
    bool chance(int oneIn) { return m_random.bounded(oneIn) == 0; }

    QRandomGenerator m_random;
};

} // namespace

class TestMerge : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void mergesSecondLevelNodes_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("withComments");

        QTest::newRow("new base name is appended") << QByteArrayList{"<r><a><x/></a></r>", "<r><a><x/><y/></a></r>"}
                                                   << QByteArray("<r><a><x/><y/></a></r>") << false;
        QTest::newRow("top-level nodes pair by position, not name")
            << QByteArrayList{"<r><a><x/></a></r>", "<r><b><y/></b></r>"} << QByteArray("<r><a><x/><y/></a></r>")
            << false;
        QTest::newRow("prefix is no part of the base name")
            << QByteArrayList{"<r><a><x/></a></r>", "<r xmlns:p=\"urn:p\"><a><p:x/></a></r>"}
            << QByteArray("<r><a><x/></a></r>") << false;
        QTest::newRow("base names compare case-sensitively")
            << QByteArrayList{"<r><a><Item/></a></r>", "<r><a><item/></a></r>"}
            << QByteArray("<r><a><Item/><item/></a></r>") << false;
        QTest::newRow("one node per base name from one input")
            << QByteArrayList{"<r><a/></r>", "<r><a><y n=\"1\"/><y n=\"2\"/></a></r>"}
            << QByteArray("<r><a><y n=\"1\"/></a></r>") << false;
        QTest::newRow("duplicates of the first input stay")
            << QByteArrayList{"<r><a><x/><x/></a></r>", "<r><a><x/><z/></a></r>"}
            << QByteArray("<r><a><x/><x/><z/></a></r>") << false;
        QTest::newRow("prefixed root matches unprefixed root")
            << QByteArrayList{"<p:r xmlns:p=\"urn:p\"><a/></p:r>", "<r><a><x/></a></r>"}
            << QByteArray("<p:r xmlns:p=\"urn:p\"><a><x/></a></p:r>") << false;
        QTest::newRow("pretty-printed and compact copies have the same shape")
            << QByteArrayList{"<r>\n  <a>\n    <x/>\n  </a>\n  <b/>\n</r>\n", "<r><a><y/></a><b><z/></b></r>"}
            << QByteArray("<r><a><x/><y/></a><b><z/></b></r>") << false;
        QTest::newRow("comments: the first input's stay, later ones are not taken")
            << QByteArrayList{"<r><a><!--keep--><x/></a></r>", "<r><a><!--drop--><y/></a></r>"}
            << QByteArray("<r><a><!--keep--><x/><y/></a></r>") << true;
        QTest::newRow("later text and CDATA are not taken")
            << QByteArrayList{"<r><a>t<x/></a></r>", "<r><a>u<![CDATA[v]]><y/></a></r>"}
            << QByteArray("<r><a>t<x/><y/></a></r>") << false;
        QTest::newRow("processing instructions go by their target")
            << QByteArrayList{"<r><a/></r>", "<r><a><?p one?><?p two?><?q three?></a></r>"}
            << QByteArray("<r><a><?p one?><?q three?></a></r>") << false;
        QTest::newRow("a node moves whole")
            << QByteArrayList{"<r><a/></r>", "<r><a><x k=\"v\"><d>text<e/>more</d><!--c--></x></a></r>"}
            << QByteArray("<r><a><x k=\"v\"><d>text<e/>more</d><!--c--></x></a></r>") << true;
        QTest::newRow("inputs in list order, first name wins")
            << QByteArrayList{"<r><a/></r>", "<r><a><x n=\"2\"/></a></r>", "<r><a><y/><x n=\"3\"/></a></r>"}
            << QByteArray("<r><a><x n=\"2\"/><y/></a></r>") << false;
        QTest::newRow("every top-level node, whatever its type")
            << QByteArrayList{"<r><a/><!--c--><b><p/></b></r>", "<r><a><x/></a>text<b><p/><q/></b></r>"}
            << QByteArray("<r><a><x/></a><!--c--><b><p/><q/></b></r>") << true;
        QTest::newRow("blank text under xml:space preserve counts")
            << QByteArrayList{"<r xml:space=\"preserve\"> <a/> </r>", "<r xml:space=\"preserve\"> <a><x/></a> </r>"}
            << QByteArray("<r xml:space=\"preserve\"> <a><x/></a> </r>") << false;
        QTest::newRow("blank-only content is no node")
            << QByteArrayList{"<r/>", "<r> </r>"} << QByteArray("<r/>") << false;
        QTest::newRow("blanks in element-only content under a mixed root are no nodes")
            << QByteArrayList{"<r>t<a/><b/></r>", "<r>t<a>\n <x/>\n</a><b> <y/> </b></r>"}
            << QByteArray("<r>t<a><x/></a><b><y/></b></r>") << false;
        QTest::newRow("spaces of mixed content move with their node")
            << QByteArrayList{"<r><a/></r>",
                              "<r><a><p>Hello <b>big</b> <i>world</i></p><q><b>x</b> <i>y</i> z</q></a></r>"}
            << QByteArray("<r><a><p>Hello <b>big</b> <i>world</i></p><q><b>x</b> <i>y</i> z</q></a></r>") << false;

        QTest::newRow("whitespace-only text in a later input is no node")
            << QByteArrayList{"<r><a/></r>", "<r>\n\t<a>  <x/>\r\n </a>\n</r>"} << QByteArray("<r><a><x/></a></r>")
            << false;
    }

    void mergesSecondLevelNodes() {
        QFETCH(QByteArrayList, inputs);
        QFETCH(QByteArray, expected);
        QFETCH(bool, withComments);

        RecordingHost host(m_folders.writeFiles(inputs));
        join(host);

        QCOMPARE(host.events, handedOff(inputs.size())); // no message
        QCOMPARE(canonicalXml(host.resultsText.toUtf8(), withComments), canonicalXml(expected, withComments));
    }

    void structureDifferenceStopsTheRun_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::newRow("different root names") << QByteArrayList{"<r/>", "<s/>"};
        QTest::newRow("root names differ in case") << QByteArrayList{"<r/>", "<R/>"};
        QTest::newRow("two and three top-level nodes") << QByteArrayList{"<r><a/><b/></r>", "<r><a/><b/><c/></r>"};
        QTest::newRow("a comment is a top-level node") << QByteArrayList{"<r><a/></r>", "<r><a/><!--c--></r>"};
        QTest::newRow("third differs from second")
            << QByteArrayList{"<r><a/></r>", "<r><a><x/></a></r>", "<r><a/><b/></r>"};
        QTest::newRow("a space between elements of mixed content is a node")
            << QByteArrayList{"<r>t<a/><b/></r>", "<r>t<a/> <b/></r>"};
        QTest::newRow("indentation inside xml:space preserve is a node")
            << QByteArrayList{"<r xml:space=\"preserve\"><a/></r>", "<r xml:space=\"preserve\">\n  <a/>\n</r>"};
    }

    void structureDifferenceStopsTheRun() {
        QFETCH(QByteArrayList, inputs);
        RecordingHost host(m_folders.writeFiles(inputs));
        join(host);
        QCOMPARE(host.events, reading(inputs.size()) + kIdle + QStringList(kStructureMessage));
        QVERIFY(!host.resultsShown && !host.mainHidden);
        QVERIFY(m_folders.tempEntries().isEmpty());
    }

    // The pointer and the progress bar move as in Append mode: the progress before each input is read, both back
    // once the result is saved.
    void showsPointerAndProgressAsAppendDoes() {
        RecordingHost four(
            m_folders.writeFiles({"<r><a/></r>", "<r><a><x/></a></r>", "<r><a><y/></a></r>", "<r><a/></r>"}));
        join(four);
        QCOMPARE(four.events, (QStringList{"busy", "progress 25", "progress 50", "progress 75", "progress 100", "idle",
                                           "progress 0", "text", "results", "hide"}));

        RecordingHost three(four.items.mid(0, 3));
        join(three);
        const std::vector<double> expected{100.0 / 3.0, 200.0 / 3.0, 100.0, 0.0}; // fractional, unrounded
        QCOMPARE(three.progress.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(three.progress[i], expected[i]);
    }

    void malformedSecondInputIsReportedThenStops() {
        const QStringList paths = m_folders.writeFiles({"<r><a/></r>", "<r><a></r>"});
        RecordingHost host(paths);
        join(host);
        const QString noRoot = paths[1] + QStringLiteral(" has no root element to compare.");
        const QStringList shown{parseErrorMessage(paths[1], "Opening and ending tag mismatch: a line 1 and r", 1, 11),
                                report(noRoot, 142), report(noRoot, 144)};
        QCOMPARE(host.events, reading(2) + shown + kIdle + QStringList(kStructureMessage));
    }

    void malformedFirstInputStopsAtTheSecond() {
        const QStringList paths = m_folders.writeFiles({"<r>", "<r/>"});
        RecordingHost host(paths);
        join(host);
        const QString noRoot = paths[0] + QStringLiteral(" has no root element to compare.");
        QCOMPARE(host.messages(),
                 (QStringList{parseErrorMessage(paths[0], "Premature end of data in tag r line 1", 1, 4),
                              report(noRoot, 142), report(noRoot, 144), kStructureMessage}));
    }

    void badSingleInput_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");

        QTest::newRow("missing file") << "missing" << QByteArray() << "Document is empty" << 1 << 1;
        QTest::newRow("zero-length file reads as \"empty file\"")
            << "file" << QByteArray() << "Start tag expected, '<' not found" << 1 << 1;
        QTest::newRow("binary file") << "file"
                                     << QByteArray("\x7f"
                                                   "ELF\x02\x01\x01\0\0\0\xff\xfe",
                                                   12)
                                     << "Start tag expected, '<' not found" << 1 << 1;
        QTest::newRow("truncated UTF-16")
            << "file" << QByteArray("\xff\xfe<\0r\0>\0<\0a\0/\0>\0<\0/\0r\0>", 23) << "expected '>'" << 1 << 12;
        QTest::newRow("100,000 levels deep")
            << "file" << QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000)
            << "Excessive depth in document: nesting deeper than 256 levels" << 1 << 772;
        QTest::newRow("content model 130 levels deep")
            << "file"
            << "<!DOCTYPE r [<!ELEMENT r " + QByteArray("(").repeated(130) + "a" + QByteArray(")").repeated(130) +
                   ">]><r/>"
            << "Element content declaration nested deeper than 128 levels" << 1 << 155;
        QTest::newRow("undeclared prefix")
            << "file" << QByteArray("<r><p:a/></r>") << "Namespace prefix p on a is not defined" << 1 << 8;
    }

    void badSingleInput() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        QFETCH(int, line);
        QFETCH(int, column);
        const QString input = path("in.xml");
        if (kind == "file")
            writeFile(input, bytes);

        RecordingHost host({input});
        join(host);

        QCOMPARE(host.messages(), (QStringList{parseErrorMessage(input, reason, line, column), "warning:Join Fail."}));
        QVERIFY(!host.resultsShown);
    }

    void unreadableInputIsReportedAt132ThenParsedAsEmpty() {
        const QString folder = path("folder.xml");
        QVERIFY(QDir().mkpath(folder));
        RecordingHost host({folder});
        join(host);
        QCOMPARE(host.messages(),
                 (QStringList{report("Is a directory", 132), parseErrorMessage(folder, "Document is empty", 1, 1),
                              "warning:Join Fail."}));
    }

    void textDecodesAsEveryTextFileRead_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        const QString declared = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>caf\u00e9</r>\n");
        const QString wide = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>caf\u00e9</r>");
        QTest::newRow("UTF-16LE with its declaration")
            << QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2)
            << declared;
        const QString wide32 = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-32\"?><r>caf\u00e9</r>");
        QByteArray utf32be("\0\0\xfe\xff", 4);
        for (const char32_t c : wide32.toUcs4())
            utf32be += QByteArray(1, '\0') + char(c >> 16) + char(c >> 8) + char(c);
        QTest::newRow("UTF-32BE with its declaration") << utf32be << declared;
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xef\xbb\xbf<r>caf\xc3\xa9</r>") << QStringLiteral("<r>caf\u00e9</r>\n");
        QTest::newRow("invalid UTF-8 falls back to Windows-1252")
            << QByteArray("<?xml version=\"1.0\"?><r>caf\xe9</r>") << declared;
        QTest::newRow("declared Latin-1 but UTF-8 bytes")
            << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\xc3\xa9</r>") << declared;
    }

    void textDecodesAsEveryTextFileRead() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        RecordingHost host(m_folders.writeFiles({bytes}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(host.resultsText, expected);
    }

    void savedLayout_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<QString>("expected");

        QTest::newRow("declaration, document type, comments and instructions kept")
            << QByteArrayList{"<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\n"
                              "<!DOCTYPE r [\n<!ELEMENT r (a)>\n<!ELEMENT a (x*)>\n<!ELEMENT x EMPTY>\n]>\n"
                              "<!--top--><?pi x?>\n<r>\n  <a>\n    <x/>\n  </a>\n</r>\n<!--end-->\n",
                              "<?xml version=\"1.0\"?><!--later--><?later?><r><a><y/></a></r>"}
            << QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                              "<!DOCTYPE r [\n<!ELEMENT r (a)>\n<!ELEMENT a (x)*>\n<!ELEMENT x EMPTY>\n]>\n"
                              "<!--top-->\n<?pi x?>\n<r>\n  <a>\n    <x/>\n    <y/>\n  </a>\n</r>\n<!--end-->\n");
        QTest::newRow("no declaration when the first input has none")
            << QByteArrayList{"<r><a><x><z/></x></a></r>", "<?xml version=\"1.0\"?><r><a><y/></a></r>"}
            << QStringLiteral("<r>\n  <a>\n    <x>\n      <z/>\n    </x>\n    <y/>\n  </a>\n</r>\n");
        QTest::newRow("mixed content left as it is")
            << QByteArrayList{"<r><a>one <b>two</b> three</a></r>", "<r><a><c/></a></r>"}
            << QStringLiteral("<r>\n  <a>one <b>two</b> three<c/></a>\n</r>\n");
        QTest::newRow("spaces between elements of mixed content stay")
            << QByteArrayList{"<p>Hello <b>big</b> <i>world</i></p>"}
            << QStringLiteral("<p>Hello <b>big</b> <i>world</i></p>\n");
        QTest::newRow("mixed content whose text comes last")
            << QByteArrayList{"<r><p><b>big</b> <i>world</i> end</p></r>"}
            << QStringLiteral("<r>\n  <p><b>big</b> <i>world</i> end</p>\n</r>\n");
        QTest::newRow("an entity reference makes content mixed")
            << QByteArrayList{"<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT b ANY><!ENTITY e \"v\">]>"
                              "<r><a><b/> &e; <b/></a></r>",
                              "<r><a/></r>"}
            << QStringLiteral("<!DOCTYPE r [\n<!ELEMENT r ANY>\n<!ELEMENT a ANY>\n<!ELEMENT b ANY>\n"
                              "<!ENTITY e \"v\">\n]>\n<r>\n  <a><b/> &e; <b/></a>\n</r>\n");
        QTest::newRow("nothing added in an xml:space preserve root")
            << QByteArrayList{"<r xml:space=\"preserve\"><a><x/></a><b/></r>",
                              "<r xml:space=\"preserve\"><a><y/></a><b><z/></b></r>"}
            << QStringLiteral("<r xml:space=\"preserve\"><a><x/><y/></a><b><z/></b></r>\n");
        QTest::newRow("nothing added in a preserve scope below the root")
            << QByteArrayList{"<r><a xml:space=\"preserve\"><x><z/></x></a><b/></r>", "<r><a><y/></a><b><w/></b></r>"}
            << QStringLiteral("<r>\n  <a xml:space=\"preserve\"><x><z/></x><y/></a>\n  <b>\n    <w/>\n  </b>\n</r>\n");
        QTest::newRow("a moved node that declares preserve keeps its content as it is")
            << QByteArrayList{"<r><a/></r>", "<r><a><y xml:space=\"preserve\"><z><w/></z></y></a></r>"}
            << QStringLiteral("<r>\n  <a>\n    <y xml:space=\"preserve\"><z><w/></z></y>\n  </a>\n</r>\n");
        QTest::newRow("xml:space default inside preserve adds nothing either")
            << QByteArrayList{"<r xml:space=\"preserve\"><a xml:space=\"default\"><x/></a></r>"}
            << QStringLiteral("<r xml:space=\"preserve\"><a xml:space=\"default\"><x/></a></r>\n");
    }

    void savedLayout() {
        QFETCH(QByteArrayList, inputs);
        QFETCH(QString, expected);
        RecordingHost host(m_folders.writeFiles(inputs));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(host.resultsText, expected);
    }

    void singleInputSurvivesTheRoundTrip() {
        const QByteArray input = "<?xml version=\"1.0\"?>\n<!--head-->\n<r xmlns=\"urn:d\" xmlns:p=\"urn:p\">\n"
                                 "  <a p:k=\"1\">text &amp; more<![CDATA[<raw>]]></a>\n  <?pi data?>\n"
                                 "  <b xml:space=\"preserve\">  </b>\n  <p:c><!--inner--></p:c>\n</r>\n";
        RecordingHost host(m_folders.writeFiles({input}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(canonicalXml(host.resultsText.toUtf8(), true), canonicalXml(input, true));
    }

    void namespacesKeepTheirUris_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("no namespace under a default namespace gets xmlns=\"\"")
            << QByteArrayList{"<r xmlns=\"urn:d\"><a><x/></a></r>", "<r><a><y><z/></y></a></r>"}
            << QStringList{"{urn:d}r", "{urn:d}a", "{urn:d}x", "{}y", "{}z"};
        QTest::newRow("prefix declared on the later root only")
            << QByteArrayList{"<r><a/></r>", "<r xmlns:p=\"urn:p\"><a><p:y p:k=\"1\"><p:z/></p:y></a></r>"}
            << QStringList{"{}r", "{}a", "{urn:p}y", "@{urn:p}k", "{urn:p}z"};
        QTest::newRow("default namespace of the later root")
            << QByteArrayList{"<r><a/></r>", "<r xmlns=\"urn:e\"><a><y><z/></y></a></r>"}
            << QStringList{"{}r", "{}a", "{urn:e}y", "{urn:e}z"};
        QTest::newRow("other default namespace on each side")
            << QByteArrayList{"<r xmlns=\"urn:d\"><a/></r>", "<r xmlns=\"urn:e\"><a><y/></a></r>"}
            << QStringList{"{urn:d}r", "{urn:d}a", "{urn:e}y"};
        QTest::newRow("same default namespace on both sides")
            << QByteArrayList{"<r xmlns=\"urn:d\"><a/></r>", "<r xmlns=\"urn:d\"><a><y/></a></r>"}
            << QStringList{"{urn:d}r", "{urn:d}a", "{urn:d}y"};
        QTest::newRow("one prefix bound to two URIs")
            << QByteArrayList{"<r xmlns:p=\"urn:1\"><p:a/></r>", "<r xmlns:p=\"urn:2\"><a><p:y/></a></r>"}
            << QStringList{"{}r", "{urn:1}a", "{urn:2}y"};
        QTest::newRow("prefixed node, unprefixed child, default namespace in the first input")
            << QByteArrayList{"<r xmlns=\"urn:d\"><a/></r>", "<r xmlns:p=\"urn:p\"><a><p:y><z/></p:y></a></r>"}
            << QStringList{"{urn:d}r", "{urn:d}a", "{urn:p}y", "{}z"};
        QTest::newRow("declarations inside the moved node stay")
            << QByteArrayList{"<r xmlns=\"urn:d\"><a/></r>",
                              "<r><a><y xmlns=\"urn:y\"><z xmlns=\"\"><q:w xmlns:q=\"urn:q\"/></z></y></a></r>"}
            << QStringList{"{urn:d}r", "{urn:d}a", "{urn:y}y", "{}z", "{urn:q}w"};
        QTest::newRow("a top-level node's prefix shadows the root's")
            << QByteArrayList{"<r xmlns:p=\"urn:2\"><a xmlns:p=\"urn:1\"/></r>",
                              "<r xmlns:p=\"urn:2\"><a><p:y/></a></r>"}
            << QStringList{"{}r", "{}a", "{urn:2}y"};
        QTest::newRow("a top-level node's default namespace")
            << QByteArrayList{"<r><a xmlns=\"urn:d\"/></r>", "<r><a><y/></a></r>"}
            << QStringList{"{}r", "{urn:d}a", "{}y"};
        QTest::newRow("xml:lang keeps the XML namespace")
            << QByteArrayList{"<r><a/></r>", "<r><a><y xml:lang=\"en\"/></a></r>"}
            << QStringList{"{}r", "{}a", "{}y", "@{http://www.w3.org/XML/1998/namespace}lang"};
    }

    void namespacesKeepTheirUris() {
        QFETCH(QByteArrayList, inputs);
        QFETCH(QStringList, names);
        RecordingHost host(m_folders.writeFiles(inputs));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(expandedNames(host.resultsText), names);
        QVERIFY2(canonicalXml(host.resultsText.toUtf8()) != "<not well-formed>", qPrintable(host.resultsText));
    }

    void documentTypes_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("dtdFile");
        QTest::addColumn<QByteArray>("dtd");
        QTest::addColumn<QString>("error"); // empty: the input is accepted

        const QByteArray subset = "<!ELEMENT r (a)><!ELEMENT a (x*)><!ELEMENT x EMPTY>";
        QTest::newRow("valid internal subset")
            << "<!DOCTYPE r [" + subset + "]><r><a><x/></a></r>" << QString() << QByteArray() << QString();
        QTest::newRow("invalid internal subset") << "<!DOCTYPE r [" + subset + "]>\n<r><a><y/></a></r>" << QString()
                                                 << QByteArray() << "No declaration for element y|2|11";
        // Nothing outside the input is read: a DTD that reaches outside is neither loaded nor validated.
        QTest::newRow("local external DTD: not read, not validated")
            << QByteArray("<!DOCTYPE r SYSTEM \"dtd/r.dtd\"><r><a/><a/></r>") << "dtd/r.dtd" << subset << QString();
        QTest::newRow("local external DTD by absolute file URL: not read, not validated")
            << QByteArray("<!DOCTYPE r SYSTEM \"file://%DIR%/dtd/r.dtd\"><r><a/><a/></r>") << "dtd/r.dtd" << subset
            << QString();
        QTest::newRow("missing external DTD: not validated")
            << QByteArray("<!DOCTYPE r SYSTEM \"none.dtd\"><r><a><y/></a></r>") << QString() << QByteArray()
            << QString();
        QTest::newRow("DTD on the web: not fetched, not validated")
            << QByteArray("<!DOCTYPE r PUBLIC \"-//X//DTD R//EN\" \"http://192.0.2.1/r.dtd\"><r><a><y/></a></r>")
            << QString() << QByteArray() << QString();
        QTest::newRow("internal subset that uses an external parameter entity: not validated")
            << "<!DOCTYPE r [<!ENTITY % more SYSTEM \"more.ent\">%more;" + subset + "]><r><a><y/></a></r>"
            << "more.ent" << QByteArray("<!ELEMENT y EMPTY>") << QString();
        QTest::newRow("internal subset with an unused external parameter entity: validated")
            << "<!DOCTYPE r [<!ENTITY % more SYSTEM \"more.ent\">" + subset + "]>\n<r><a><y/></a></r>"
            << "more.ent" << QByteArray("<!ELEMENT y EMPTY>") << "No declaration for element y|2|11";
        QTest::newRow("document type declared, element not declared")
            << QByteArray("<!DOCTYPE r [<!ENTITY e \"v\">]><r><a/></r>") << QString() << QByteArray()
            << "No declaration for element a|1|38";
    }

    void documentTypes() {
        QFETCH(QByteArray, input);
        QFETCH(QString, dtdFile);
        QFETCH(QByteArray, dtd);
        QFETCH(QString, error);
        if (!dtdFile.isEmpty())
            writeFile(path(dtdFile), dtd);
        const QStringList paths =
            m_folders.writeFiles({QByteArray(input).replace("%DIR%", QFile::encodeName(m_folders.path()))});

        RecordingHost host(paths);
        join(host);

        if (error.isEmpty()) {
            QCOMPARE(host.events, handedOff(host.items.size()));
            QVERIFY2(host.resultsText.startsWith("<!DOCTYPE r "), qPrintable(host.resultsText));
        } else {
            const QStringList parts = error.split('|');
            QCOMPARE(host.messages(),
                     (QStringList{parseErrorMessage(paths[0], parts[0], parts[1].toInt(), parts[2].toInt()),
                                  "warning:Join Fail."}));
        }
    }

    void externalDtdThatIsNoFileIsNotRead() {
#ifdef Q_OS_UNIX
        // A named pipe would block the parse for ever.
        QVERIFY(::mkfifo(QFile::encodeName(path("pipe.dtd")).constData(), 0600) == 0);
        RecordingHost host(m_folders.writeFiles({"<!DOCTYPE r SYSTEM \"pipe.dtd\"><r><a><y/></a></r>"}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
#else
        QSKIP("named pipes are a Unix matter");
#endif
    }

    void externalEntitiesStayReferences() {
        writeFile(path("secret.txt"), "SECRET");
        const QStringList paths = m_folders.writeFiles({"<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a ANY><!ELEMENT x "
                                                        "EMPTY><!ENTITY s SYSTEM \"secret.txt\"><!ENTITY e \"v\">]>"
                                                        "<r><a>&s;</a></r>",
                                                        "<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a ANY><!ELEMENT x "
                                                        "EMPTY><!ENTITY e \"v\">]><r><a>&e;<x/></a></r>"});
        RecordingHost host(paths);
        join(host);
        QCOMPARE(host.messages(), QStringList());
        QCOMPARE(host.events, handedOff(host.items.size()));
        QVERIFY2(host.resultsText.contains("<a>&s;&e;<x/></a>"), qPrintable(host.resultsText));
        QVERIFY(!host.resultsText.contains("SECRET"));
    }

    // Documents that try to copy a local file into the result or into a message. %DIR% stands for the folder of
    // the input and of the files beside it, %SECRET% for the secret file there.
    void hostileDocumentsReadNothingOutsideTheirText_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Files>("files");  // written beside the input
        QTest::addColumn<QString>("kept"); // in the result; empty: the input fails to parse

        // Declares the elements too, so that a program that read it would validate the document and take it.
        const QByteArray declareLeak =
            "<!ENTITY % all \"<!ENTITY leak '%file;'>\">%all;<!ELEMENT r ANY><!ELEMENT a ANY>";
        const QByteArray errorLeak = "<!ENTITY % eval \"<!ENTITY &#x25; error SYSTEM "
                                     "'file:///nonexistent/%file;'>\">%eval;%error;";
        for (const auto& [kind, prefix] : {std::pair{"file URL", "file://%DIR%/"}, std::pair{"absolute path", "%DIR%/"},
                                           std::pair{"relative path", ""}}) {
            const QByteArray file = "<!ENTITY % file SYSTEM \"" + QByteArray(prefix) + "secret.txt\">";
            QTest::addRow("parameter entities declare an entity with a file's text, %s", kind)
                << "<!DOCTYPE r [" + file + "<!ENTITY % dtd SYSTEM \"" + prefix +
                       "declare.dtd\">%dtd;]>"
                       "<r><a>&leak;</a></r>"
                << Files{{"declare.dtd", declareLeak}} << "<a>&leak;</a>";
            // The secret makes an invalid address, which libxml2 names in its first error.
            QTest::addRow("error message carries a file's text, %s", kind)
                << "<!DOCTYPE r [" + file + "<!ENTITY % dtd SYSTEM \"" + prefix + "error.dtd\">%dtd;]><r>"
                << Files{{"error.dtd", errorLeak}} << QString();
        }
        QTest::newRow("error that would carry a file's text, in a document that parses")
            << QByteArray("<!DOCTYPE r [<!ENTITY % file SYSTEM \"secret.txt\"><!ENTITY % dtd SYSTEM \"error.dtd\">"
                          "%dtd;]><r/>")
            << Files{{"error.dtd", errorLeak}} << "<r/>";
        QTest::newRow("external subset declares an entity with a file's text")
            << QByteArray("<!DOCTYPE r SYSTEM \"declare.dtd\"><r><a>&leak;</a></r>")
            << Files{{"declare.dtd", "<!ENTITY % file SYSTEM \"secret.txt\">" + declareLeak}} << "<a>&leak;</a>";
        QTest::newRow("external subset puts a file's text into an error message")
            << QByteArray("<!DOCTYPE r SYSTEM \"error.dtd\"><r/>")
            << Files{{"error.dtd", "<!ENTITY % file SYSTEM \"secret.txt\">" + errorLeak}} << "<r/>";
        QTest::newRow("external general entity")
            << QByteArray("<!DOCTYPE r [<!ENTITY s SYSTEM \"file://%DIR%/secret.txt\">]><r><a>&s;</a></r>") << Files{}
            << "<a>&s;</a>";
        QTest::newRow("external general entity in a validated document")
            << QByteArray("<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a (#PCDATA)><!ENTITY s SYSTEM \"secret.txt\">]>"
                          "<r><a>&s;</a></r>")
            << Files{} << "<a>&s;</a>";
        QTest::newRow("unparsed entity")
            << QByteArray("<!DOCTYPE r [<!ELEMENT r EMPTY><!NOTATION n SYSTEM \"n\"><!ENTITY u SYSTEM "
                          "\"secret.txt\" NDATA n><!ATTLIST r f ENTITY #IMPLIED>]><r f=\"u\"/>")
            << Files{} << "<r f=\"u\"/>";
        QTest::newRow("XInclude")
            << QByteArray("<r xmlns:xi=\"http://www.w3.org/2001/XInclude\"><a><xi:include href=\"secret.txt\" "
                          "parse=\"text\"/></a></r>")
            << Files{} << "<xi:include href=\"secret.txt\" parse=\"text\"/>";
        QTest::newRow("entity bomb in a local external DTD")
            << QByteArray("<!DOCTYPE lolz SYSTEM \"bomb.dtd\"><lolz>&lol9;</lolz>")
            << Files{{"bomb.dtd", billionLaughsDeclarations()}} << "<lolz>&lol9;</lolz>";
        QTest::newRow("catalog instruction")
            << QByteArray("<?oasis-xml-catalog catalog=\"file://%DIR%/catalog.xml\"?>"
                          "<!DOCTYPE r PUBLIC \"-//X//R//EN\" \"none.dtd\"><r><a>&leak;</a></r>")
            << Files{{"catalog.xml", "<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\"><public "
                                     "publicId=\"-//X//R//EN\" uri=\"declare.dtd\"/></catalog>"},
                     {"declare.dtd", "<!ENTITY % file SYSTEM \"secret.txt\">" + declareLeak}}
            << "<a>&leak;</a>";
    }

    void hostileDocumentsReadNothingOutsideTheirText() {
        QFETCH(QByteArray, input);
        QFETCH(Files, files);
        QFETCH(QString, kept);
        const QByteArray secret = "SECRET-7f3a";
        writeFile(path("secret.txt"), secret + " of two\nlines");
        const QByteArray dir = QFile::encodeName(m_folders.path());
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writeFile(path(it.key()), QByteArray(it.value()).replace("%DIR%", dir));
        const QStringList paths = m_folders.writeFiles({input.replace("%DIR%", dir)});

        RecordingHost host(paths);
        join(host);

        for (const QString& shown : host.events + QStringList{host.resultsText})
            QVERIFY2(!shown.contains(QLatin1String(secret)), qPrintable(shown));
        if (kept.isEmpty()) {
            QCOMPARE(host.messages().size(), 2);
            QVERIFY(host.messages()[0].startsWith("message:Error reading " + paths[0]));
            QVERIFY(!host.resultsShown);
        } else {
            QVERIFY2(host.events == handedOff(1), qPrintable(host.events.join(u'|')));
            QVERIFY2(host.resultsText.contains(kept), qPrintable(host.resultsText));
        }
    }

    // The first document's type declaration is saved as it was written: its external identifier and internal
    // subset, nothing of the external DTD (which exists here), nothing of the later inputs' declarations.
    void savedDocumentTypeIsTheFirstDocumentsAsWritten() {
        writeFile(path("r.dtd"), "<!ENTITY fromfile \"FROM-FILE\"><!ATTLIST a d CDATA \"DEFAULTED\">");
        RecordingHost host(
            m_folders.writeFiles({"<!DOCTYPE r PUBLIC \"-//X//DTD R//EN\" \"r.dtd\" [<!ENTITY e \"v\">]>"
                                  "<r><a>&e;&fromfile;</a></r>",
                                  "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY later \"w\">]><r><a><x/></a></r>"}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(host.resultsText, QStringLiteral("<!DOCTYPE r PUBLIC \"-//X//DTD R//EN\" \"r.dtd\" [\n"
                                                  "<!ENTITY e \"v\">\n]>\n<r>\n  <a>&e;&fromfile;<x/></a>\n</r>\n"));
    }

    // Refused at its read step without being opened: a named pipe would hang the join, a device never ends.
    void inputThatIsNoRegularFileIsRefusedAt132_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "/dev/zero";
        QTest::newRow("link to /dev/urandom") << "/dev/urandom";
    }

    void inputThatIsNoRegularFileIsRefusedAt132() {
#ifdef Q_OS_UNIX
        QFETCH(QString, kind);
        const QString input = path("in.xml");
        if (kind == "fifo")
            QVERIFY(::mkfifo(QFile::encodeName(input).constData(), 0600) == 0);
        else
            QVERIFY(QFile::link(kind, input));
        const QStringList good = m_folders.writeFiles({"<r><a><x/></a></r>"});

        RecordingHost host({good[0], input});
        join(host);

        QCOMPARE(host.messages(),
                 (QStringList{report("not a regular file", 132), parseErrorMessage(input, "Document is empty", 1, 1),
                              report(input + " has no root element to compare.", 142),
                              report(input + " has no root element to compare.", 144), kStructureMessage}));
#else
        QSKIP("named pipes and devices are a Unix matter");
#endif
    }

    void fullWorkingFolderFailsTheSaveAt170() {
        const SmallFileSystem small(64);
        qputenv("TEMP", QFile::encodeName(small.path()));
        QByteArray big = "<r><a>";
        for (int i = 0; i < 4000; ++i)
            big += "<item n=\"" + QByteArray::number(i) + "\">some text to fill the disk</item>";
        RecordingHost host(m_folders.writeFiles({big + "</a></r>", "<r><a><more/></a></r>"}));

        join(host);

        const QStringList messages = host.messages();
        QCOMPARE(messages.size(), 2);
        QVERIFY2(messages[0].startsWith("report:" + small.path()), qPrintable(messages[0]));
        QVERIFY2(messages[0].contains("/temp.xml: No space left on device\r\nin Quorvel5/20/2014.Form1.Start at line "
                                      "170\r\r"),
                 qPrintable(messages[0]));
        QCOMPARE(messages[1], QStringLiteral("warning:Join Fail."));
        QVERIFY(!host.resultsShown);
        QVERIFY(small.isEmpty());
    }

    void entityBombsFailFast_data() {
        QTest::addColumn<QByteArray>("input");

        const QByteArray entities = billionLaughsDeclarations();
        const QByteArray element = "<!ELEMENT lolz (#PCDATA)><!ATTLIST lolz a CDATA #IMPLIED>";
        QTest::newRow("in text") << "<!DOCTYPE lolz [" + entities + element + "]><lolz>&lol9;</lolz>";
        QTest::newRow("in an attribute") << "<!DOCTYPE lolz [" + entities + element + "]><lolz a=\"&lol9;\"/>";
        QTest::newRow("in text, external DTD on the web (parsed without validation)")
            << "<!DOCTYPE lolz SYSTEM \"http://192.0.2.1/lolz.dtd\" [" + entities + "]><lolz>&lol9;</lolz>";
        QTest::newRow("in an attribute, external DTD on the web (parsed without validation)")
            << "<!DOCTYPE lolz SYSTEM \"http://192.0.2.1/lolz.dtd\" [" + entities + "]><lolz a=\"&lol9;\"/>";
        QTest::newRow("in an attribute, no element declarations")
            << "<!DOCTYPE lolz [" + entities + "]><lolz a=\"&lol9;\"/>";
        QTest::newRow("long entity repeated in an attribute") << "<!DOCTYPE r [<!ENTITY e \"" +
                                                                     QByteArray(100000, 'x') + "\">]><r a=\"" +
                                                                     QByteArray("&e;").repeated(20000) + "\"/>";
    }

    void entityBombsFailFast() {
        QFETCH(QByteArray, input);
        const QStringList paths = m_folders.writeFiles({input});
        RecordingHost host(paths);
        join(host);
        QCOMPARE(host.messages().size(), 2);
        const QString expected = QStringLiteral("message:Error reading %1\r\nerror:").arg(paths[0]);
        QVERIFY2(host.messages()[0].startsWith(expected + "Detected an entity reference loop"),
                 qPrintable(host.messages()[0]));
        QCOMPARE(host.messages()[1], QStringLiteral("warning:Join Fail."));
    }

    void entityReferencesKeepTheirMeaning_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("unread"); // external entities the second input's message names

        const QByteArray elements = "<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT n ANY><!ELEMENT m ANY><!ELEMENT x ANY>"
                                    "<!ATTLIST n k CDATA #IMPLIED>";
        const auto later = [&](const QByteArray& entities, const QByteArray& body) {
            return "<!DOCTYPE r [" + elements + entities + "]>" + body;
        };
        const QByteArray co = "<!ENTITY co \"ACME Corp\">";

        QTest::newRow("first declares nothing: the text replaces the reference")
            << QByteArrayList{"<r><a/></r>", later(co, "<r><a><n>&co; Ltd</n></a></r>")}
            << QStringLiteral("<r>\n  <a>\n    <n>ACME Corp Ltd</n>\n  </a>\n</r>\n") << QStringList();
        QTest::newRow("first declares another text: the text replaces the reference")
            << QByteArrayList{later("<!ENTITY co \"Different Inc\">", "<r><a><n>&co;</n></a></r>"),
                              later(co, "<r><a><m>&co;</m></a></r>")}
            << QString("<!DOCTYPE r [\n" + elementsText() +
                       "<!ENTITY co \"Different Inc\">\n]>\n<r>\n  <a>\n    <n>&co;</n>\n"
                       "    <m>ACME Corp</m>\n  </a>\n</r>\n")
            << QStringList();
        QTest::newRow("first declares the same text: the reference stays")
            << QByteArrayList{later(co, "<r><a/></r>"), later(co, "<r><a><m>&co;</m></a></r>")}
            << QString("<!DOCTYPE r [\n" + elementsText() +
                       "<!ENTITY co \"ACME Corp\">\n]>\n<r>\n  <a>\n    <m>&co;</m>\n  </a>\n</r>\n")
            << QStringList();
        QTest::newRow("markup and references in the entity's text")
            << QByteArrayList{"<r xmlns:b=\"urn:other\"><a/></r>",
                              later(co + "<!ELEMENT b ANY><!ENTITY sig \"<b>by &co;</b>!\">",
                                    "<r><a><n>&sig;</n></a></r>")}
            << QStringLiteral("<r xmlns:b=\"urn:other\">\n  <a>\n    <n><b>by ACME Corp</b>!</n>\n  </a>\n</r>\n")
            << QStringList();
        QTest::newRow("in an attribute, white space of the text becomes spaces")
            << QByteArrayList{"<r><a/></r>",
                              later(co + "<!ENTITY ws \"a&#9;b&#10;c\">", "<r><a><n k=\"&co; &amp; &ws;\"/></a></r>")}
            << QStringLiteral("<r>\n  <a>\n    <n k=\"ACME Corp &amp; a b c\"/>\n  </a>\n</r>\n") << QStringList();
        QTest::newRow("a second-level reference gives its text")
            << QByteArrayList{"<r><a><x/></a></r>", later(co, "<r><a>&co;</a></r>")}
            << QStringLiteral("<r>\n  <a><x/>ACME Corp</a>\n</r>\n") << QStringList();
        QTest::newRow("an empty entity leaves nothing")
            << QByteArrayList{"<r><a/></r>", later("<!ENTITY nil \"\">", "<r><a><n>[&nil;]</n></a></r>")}
            << QStringLiteral("<r>\n  <a>\n    <n>[]</n>\n  </a>\n</r>\n") << QStringList();
        QTest::newRow("external entity: named once in a message, the node still moves")
            << QByteArrayList{"<r><a/></r>", later("<!ENTITY ext SYSTEM \"ext.txt\">",
                                                   "<r><a><n k=\"1\">&ext;</n><m>&ext;</m></a></r>")}
            << QStringLiteral("<r>\n  <a>\n    <n k=\"1\">&ext;</n>\n    <m>&ext;</m>\n  </a>\n</r>\n")
            << QStringList{"ext"};
        QTest::newRow("external entity declared the same way: no message")
            << QByteArrayList{later("<!ENTITY ext SYSTEM \"ext.txt\">", "<r><a/></r>"),
                              later("<!ENTITY ext SYSTEM \"ext.txt\">", "<r><a><n>&ext;</n></a></r>")}
            << QString("<!DOCTYPE r [\n" + elementsText() +
                       "<!ENTITY ext SYSTEM \"ext.txt\">\n]>\n<r>\n  <a>\n    <n>&ext;</n>\n  </a>\n</r>\n")
            << QStringList();
    }

    void entityReferencesKeepTheirMeaning() {
        QFETCH(QByteArrayList, inputs);
        QFETCH(QString, expected);
        QFETCH(QStringList, unread);
        const QStringList paths = m_folders.writeFiles(inputs);
        RecordingHost host(paths);
        join(host);

        QStringList messages;
        for (const QString& entity : unread)
            messages << QStringLiteral("warning:%1 refers to the external entity \"%2\", which the first document does "
                                       "not declare the same way. External entities are never read: the moved nodes "
                                       "keep the reference \"&%2;\".")
                            .arg(paths[1], entity);
        QCOMPARE(host.messages().join("\n---\n"), messages.join("\n---\n"));
        QVERIFY(host.handedOff());
        QCOMPARE(host.resultsText, expected);
    }

    // Entity text that would multiply a document's size many times over is not written out: the nodes that would
    // go past the bound stay where they are. Each document has its own bound.
    void entityExpansionIsBounded() {
        const QByteArray declarations = "<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT n ANY><!ELEMENT m ANY>"
                                        "<!ELEMENT w ANY><!ENTITY big \"" +
                                        QByteArray(200000, 'x') + "\">]>";
        RecordingHost host(m_folders.writeFiles(
            {"<r><a/></r>", declarations + "<r><a><n>" + QByteArray("&big;").repeated(100) + "</n><m>&big;</m></a></r>",
             declarations + "<r><a><w>&big;</w></a></r>"}));
        join(host);
        QCOMPARE(host.messages(),
                 QStringList{report("Cannot write out entity \"big\" in a moved node: its text would grow past five "
                                    "times the size of its document.",
                                    164) +
                             "\r\nThis step failed for 1 more node under the same top-level node."});
        QCOMPARE(host.resultsText, "<r>\n  <a>\n    <w>" + QString(200000, 'x') + "</w>\n  </a>\n</r>\n");
    }

    void idAttributesMoveBetweenValidatedDocuments() {
        const QByteArray subset = "<!DOCTYPE r [<!ELEMENT r (a)><!ELEMENT a (x|y)*><!ELEMENT x EMPTY>"
                                  "<!ELEMENT y EMPTY><!ATTLIST x id ID #REQUIRED><!ATTLIST y id ID #REQUIRED>]>";
        RecordingHost host(m_folders.writeFiles({subset + "<r><a><x id=\"i1\"/></a></r>",
                                                 subset + "<r><a><x id=\"i2\"/><y id=\"i3\"/></a></r>",
                                                 subset + "<r><a><y id=\"i4\"/></a></r>"}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(canonicalXml(host.resultsText.toUtf8()), canonicalXml("<r><a><x id=\"i1\"/><y id=\"i3\"/></a></r>"));
    }

    void workingFolderThatCannotBeMadeIsReportedAt104_data() {
        QTest::addColumn<QString>("temp");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "no/such/folder"
                                 << "No such file or directory";
        QTest::newRow("a file") << "in1.xml"
                                << "Not a directory";
    }

    void workingFolderThatCannotBeMadeIsReportedAt104() {
        QFETCH(QString, temp);
        QFETCH(QString, reason);
        RecordingHost host(m_folders.writeFiles({"<r/>"}));
        qputenv("TEMP", QFile::encodeName(path(temp)));
        join(host);
        QCOMPARE(
            host.messages(),
            (QStringList{report(QStringLiteral("Cannot make a working folder in %1: %2").arg(path(temp), reason), 104),
                         "warning:Join Fail."}));
        QVERIFY(!host.resultsShown);
    }

    void failingSaveIsReportedAt170WithTheSystemsReason() {
        const QByteArray big = "<r><a>" + QByteArray("<x>text</x>").repeated(100000) + "</a></r>";
        RecordingHost host(m_folders.writeFiles({big}));
        {
            const FileSizeLimit limit(qint64{64} * 1024); // the working file fails as on a full disk
            join(host);
        }
        const QStringList messages = host.messages();
        QCOMPARE(messages.size(), 2);
        QVERIFY2(QRegularExpression(QStringLiteral("^report:%1/corvanta-[^/]+/temp\\.xml: File too large\r\nin "
                                                   "Quorvel5/20/2014\\.Form1\\.Start at line 170\r\r")
                                        .arg(QRegularExpression::escape(m_folders.tempPath())))
                     .match(messages[0])
                     .hasMatch(),
                 qPrintable(messages[0]));
        QCOMPARE(messages[1], QStringLiteral("warning:Join Fail."));
        QVERIFY(m_folders.tempEntries().isEmpty());
    }

    void topLevelNodeThatCannotHoldChildren() {
        RecordingHost host(m_folders.writeFiles({"<r><!--c--><b/></r>", "<r><a><x/><y/>t</a><b><z/></b></r>"}));
        join(host);
        const QString cannot = QStringLiteral("Cannot add \"%1\" to top-level node 1 of the first document: a "
                                              "comment cannot hold child nodes.");
        const QStringList reports{report(cannot.arg("x"), 164) +
                                  "\r\nThis step failed for 1 more node under the same top-level node."};
        QCOMPARE(host.events, reading(2) + reports + kIdle + kResults);
        QCOMPARE(canonicalXml(host.resultsText.toUtf8(), true), canonicalXml("<r><!--c--><b><z/></b></r>", true));
    }

    // One report per top-level node whose children all fail, however many they are, each with its count.
    void repeatedFailuresUnderOneTopLevelNodeGiveOneReport() {
        QByteArray many;
        for (int i = 0; i < 100000; ++i)
            many += "<n" + QByteArray::number(i) + "/>";
        RecordingHost host(m_folders.writeFiles(
            {"<r><!--c-->text<b/></r>", "<r><a>" + many + "</a><t><u/><v/><w/></t><b><z/></b></r>"}));
        join(host);
        const QString line = QStringLiteral("\r\nThis step failed for %1 more nodes under the same top-level node.");
        QCOMPARE(host.messages(),
                 (QStringList{report("Cannot add \"n0\" to top-level node 1 of the first document: a comment cannot "
                                     "hold child nodes.",
                                     164) +
                                  line.arg(99999),
                              report("Cannot add \"u\" to top-level node 2 of the first document: a text node cannot "
                                     "hold child nodes.",
                                     164) +
                                  line.arg(2)}));
        QVERIFY(host.handedOff());
        QCOMPARE(canonicalXml(host.resultsText.toUtf8(), true), canonicalXml("<r><!--c-->text<b><z/></b></r>", true));
    }

    // The saved result, listed first before the inputs it came from, merges to itself: nothing of the inputs is
    // missing from it, and its layout reads back as the same nodes.
    void savedResultMergesAgainWithItsInputs_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::newRow("namespaces") << QByteArrayList{
            "<r xmlns=\"urn:d\" xmlns:p=\"urn:p\"><a><x/></a><p:b/></r>",
            "<r><a><y><z/></y></a><b><p:q xmlns:p=\"urn:q\"/></b></r>",
            "<r xmlns:p=\"urn:p\"><a><p:w p:k=\"1\"/></a><b xmlns=\"urn:e\"><v/></b></r>"};
        QTest::newRow("mixed content") << QByteArrayList{
            "<r><a>one <b>two</b> three</a><c/></r>",
            "<r><a><p>Hello <b>big</b> <i>world</i></p></a><c><q><b>x</b> <i>y</i> z</q></c></r>"};
        QTest::newRow("xml:space preserve root") << QByteArrayList{
            "<r xml:space=\"preserve\"><a><x/></a><b/></r>", "<r xml:space=\"preserve\"><a><y> <z/> </y></a><b/></r>"};
        QTest::newRow("xml:space scopes below the root and in moved nodes")
            << QByteArrayList{"<r><a xml:space=\"preserve\">\n <x/>\n</a><b/></r>",
                              "<r><a><y/></a><b><z xml:space=\"preserve\"><w> </w></z></b></r>",
                              "<r xml:space=\"preserve\"><a/><b><v> <u/> </v></b></r>"};
        QTest::newRow("entities of later inputs") << QByteArrayList{
            "<r><a/></r>", "<!DOCTYPE r [<!ELEMENT r ANY><!ELEMENT a ANY><!ELEMENT n ANY>"
                           "<!ELEMENT b ANY><!ATTLIST n k CDATA #IMPLIED><!ENTITY co \"ACME\">"
                           "<!ENTITY m \"<b>&co;</b> Corp\">]><r><a><n k=\"&co;\">&m; &co;</n></a></r>"};
        QTest::newRow("prolog, comments, instructions and CDATA") << QByteArrayList{
            "<?xml version=\"1.0\"?>\n<!--head--><?pi x?><r><a><!--c--><x><![CDATA[<raw>]]></x></a></r>",
            "<r><a><?y data?><z>t<![CDATA[ ]]></z></a></r>"};
    }

    void savedResultMergesAgainWithItsInputs() {
        QFETCH(QByteArrayList, inputs);
        mergesAgain(inputs);
    }

    void savedResultOfRandomInputsMergesAgain() {
        RandomInputs random(20240612);
        for (int round = 0; round < 40; ++round) {
            const QByteArrayList inputs = random.next();
            mergesAgain(inputs);
            if (QTest::currentTestFailed())
                qWarning().noquote() << "inputs:" << inputs.join("\n---\n");
            QVERIFY(!QTest::currentTestFailed());
        }
    }

    void hundredThousandDistinctNames() {
        // The first input holds the even names, the second all of them: the odd ones follow in document order.
        QByteArray first = "<r><a>", second = "<r><a>";
        for (int i = 0; i < 100000; ++i) {
            const QByteArray node = "<n" + QByteArray::number(i) + "/>";
            if (i % 2 == 0)
                first += node;
            second += node;
        }
        RecordingHost host(m_folders.writeFiles({first + "</a></r>", second + "<n0/><n1/></a></r>"}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));

        QXmlStreamReader reader(host.resultsText);
        QStringList names;
        while (!reader.atEnd())
            if (reader.readNext() == QXmlStreamReader::StartElement)
                names << reader.name().toString();
        QVERIFY(!reader.hasError());
        QCOMPARE(names.size(), 2 + 100000);
        QCOMPARE(names.mid(2, 3), (QStringList{"n0", "n2", "n4"}));
        QCOMPARE(names.at(2 + 49999), QStringLiteral("n99998"));
        QCOMPARE(names.mid(2 + 50000, 3), (QStringList{"n1", "n3", "n5"}));
        QCOMPARE(names.last(), QStringLiteral("n99999"));
    }

    void hugeSingleLine() {
        const QByteArray line = "<r><a>" + QByteArray("<x k=\"v\">text</x>").repeated(400000) + "<y/></a></r>";
        RecordingHost host(m_folders.writeFiles({"<r><a/></r>", line}));
        join(host);
        QCOMPARE(host.events, handedOff(host.items.size()));
        QCOMPARE(canonicalXml(host.resultsText.toUtf8()), canonicalXml("<r><a><x k=\"v\">text</x><y/></a></r>"));
    }

private:
    // The element declarations of entityReferencesKeepTheirMeaning() as libxml2 writes them.
    static QString elementsText() {
        return QStringLiteral("<!ELEMENT r ANY>\n<!ELEMENT a ANY>\n<!ELEMENT n ANY>\n<!ELEMENT m ANY>\n"
                              "<!ELEMENT x ANY>\n<!ATTLIST n k CDATA #IMPLIED>\n");
    }

    QString path(const QString& name) const {
        return m_folders.filePath(name);
    }

    // Merges inputs, then the saved result followed by the same inputs; both without a message, the second result
    // the same as the first, byte for byte.
    void mergesAgain(const QByteArrayList& inputs) {
        const QStringList paths = m_folders.writeFiles(inputs);
        RecordingHost first(paths);
        join(first);
        QCOMPARE(first.messages(), QStringList());
        QVERIFY(first.handedOff());
        const QString saved = path("saved.xml");
        writeFile(saved, first.resultsText.toUtf8());

        RecordingHost again(QStringList{saved} + paths);
        join(again);
        QCOMPARE(again.messages(), QStringList());
        QCOMPARE(again.resultsText, first.resultsText);
    }

    // Runs the join over the host's list and checks that no input changed, whatever the outcome.
    void join(RecordingHost& host) const {
        QHash<QString, QByteArray> before;
        for (const QString& input : host.items)
            if (QFileInfo(input).isFile())
                before.insert(input, readFile(input));
        joinFiles(host);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(readFile(it.key()) == it.value(), qPrintable(it.key() + " changed"));
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"
