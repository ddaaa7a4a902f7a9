#include "engine/join/inputprefetcher.h"
#include "engine/join/mergemode.h"
#include "engine/join/targetgate.h"
#include "engine/xml/mergeddocument.h"
#include "engine/xml/xmldocument.h"
#include "engine/xml/xmlparser.h"
#include "engine/xml/xmlsave.h"
#include "tests/support/mergerecord.h"
#include "tests/support/testfiles.h"

#include <QRandomGenerator>
#include <QTest>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace corvanta;

namespace {

const int kDepths[] = {0, 1, 2, 16};

QByteArray longText(char letter, int length) {
    QByteArray text(length, letter);
    for (int i = 37; i < length; i += 61)
        text[i] = ' ';
    return text;
}

QString nameOf(std::string_view name) {
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

// "top index/named siblings before it/name", and "+" when a taker took it.
QStringList listed(const ParsedXml& parsed) {
    QStringList entries;
    for (const LeftOutElement& element : parsed.leftOut)
        entries << QStringLiteral("%1/%2/%3%4")
                       .arg(element.topIndex)
                       .arg(element.namedBefore)
                       .arg(nameOf(element.name))
                       .arg(element.taken ? "+" : "");
    return entries;
}

// Per top-level element, the base names of its children as the parser left them ("#" for unnamed ones).
QStringList shapeOf(const ParsedXml& parsed) {
    QStringList shape;
    const xmlNode* root = parsed.doc ? rootElement(parsed.doc.get()) : nullptr;
    if (!root)
        return shape;
    for (const xmlNode* top = root->children; top; top = top->next) {
        if (top->type != XML_ELEMENT_NODE)
            continue;
        QStringList children;
        for (const xmlNode* child = top->children; child; child = child->next)
            children << (baseName(child).empty() ? QStringLiteral("#") : nameOf(baseName(child)));
        shape << nameOf(baseName(top)) + ":" + children.join(' ');
    }
    return shape;
}

// The text of every child of the first top-level element, joined.
QByteArray textUnderFirstTop(const ParsedXml& parsed) {
    const xmlNode* root = rootElement(parsed.doc.get());
    const xmlNode* top = root ? root->children : nullptr;
    while (top && top->type != XML_ELEMENT_NODE)
        top = top->next;
    QByteArray text;
    for (const xmlNode* child = top ? top->children : nullptr; child; child = child->next)
        if (child->type == XML_TEXT_NODE)
            text += reinterpret_cast<const char*>(child->content);
    return text;
}

QByteArray dumpedNode(xmlNode* node) {
    const std::unique_ptr<xmlBuffer, void (*)(xmlBuffer*)> buffer(xmlBufferCreate(), xmlBufferFree);
    xmlNodeDump(buffer.get(), node->doc, node, 0, 0);
    return QByteArray(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())), xmlBufferLength(buffer.get()));
}

/// A taker that takes all, every other or none of the elements offered, or throws at one of them, and tells what
/// it was asked.
class TestTaker final : public ElementTaker {
public:
    enum class Mode { Every, EveryOther, ThrowOnThird };
    explicit TestTaker(Mode mode, bool fitting = true)
        : m_mode(mode)
        , m_fitting(fitting) {}

    bool take(qsizetype topIndex, xmlNode* element) override {
        ++offered;
        offeredText << QString::number(topIndex) + ":" + QString::fromUtf8(dumpedNode(element));
        if (m_mode == Mode::ThrowOnThird && offered == 3)
            throw std::runtime_error("taker failed");
        if (m_mode == Mode::EveryOther && offered % 2 == 0)
            return false;
        xmlUnlinkNode(element);
        xmlFreeNode(element);
        return true;
    }
    bool fits(const xmlNode* /*root*/) const override {
        ++fitsAsked;
        return m_fitting;
    }
    void forget() override { ++forgotten; }

    int offered = 0;
    QStringList offeredText;
    mutable int fitsAsked = 0;
    int forgotten = 0;

private:
    Mode m_mode;
    bool m_fitting;
};

/// Documents of three top-level elements with what the written-ahead path must get right: mixed content (some
/// of it long enough that libxml2 grows its text buffers), namespaces declared where they are used or not at all
/// in the first document, default namespaces set and unset, comments and processing instructions between
/// elements, xml:space="preserve" scopes at every level, xml:id attributes and repeated names.
QByteArray variedDocument(QRandomGenerator& random, bool preserveRoot) {
    static const char* const prefixes[] = {"", "", "p:", "q:"};
    const bool indent = random.bounded(2);
    const QByteArray nl = indent ? "\n    " : "";
    QByteArray xml = "<r xmlns:p=\"urn:p" + QByteArray::number(random.bounded(2)) + "\"";
    if (preserveRoot)
        xml += " xml:space=\"preserve\"";
    if (random.bounded(3) == 0)
        xml += " xmlns=\"urn:d\"";
    xml += ">";
    int id = 0;
    for (int t = 0; t < 3; ++t) {
        xml += indent ? "\n  " : "";
        xml += "<t" + QByteArray::number(t);
        if (random.bounded(6) == 0)
            xml += " xml:space=\"preserve\"";
        if (random.bounded(5) == 0)
            xml += random.bounded(2) ? " xmlns=\"\"" : " xmlns=\"urn:e\"";
        xml += ">";
        for (int k = int(random.bounded(10)); k > 0; --k) {
            const char* const prefix = prefixes[random.bounded(4)];
            const QByteArray name = prefix + QByteArray("e") + QByteArray::number(random.bounded(8));
            const QByteArray declare = QByteArray(prefix) == "q:" ? " xmlns:q=\"urn:q\"" : "";
            xml += nl;
            switch (random.bounded(10)) {
            case 0:
                xml += "<!--c" + QByteArray::number(k) + "-->";
                break;
            case 1:
                xml += "<?e" + QByteArray::number(random.bounded(8)) + " d?>";
                break;
            case 2:
                xml += "text " + QByteArray::number(k);
                break;
            case 3:
                xml += longText(char('a' + random.bounded(26)), int(random.bounded(1, 6000)));
                break;
            case 4:
                xml += "<" + name + declare + " xml:space=\"preserve\">  <i/> </" + name + ">";
                break;
            case 5:
                xml += "<" + name + declare + " xmlns=\"\"><i>" + longText('x', int(random.bounded(1, 9000))) +
                       "</i></" + name + ">";
                break;
            case 6:
                xml += "<" + name + declare + " xml:id=\"i" + QByteArray::number(t) + "_" + QByteArray::number(++id) +
                       "\" p:at=\"v\"/>";
                break;
            default:
                xml += "<" + name + declare + ">" + nl + "  <i xmlns=\"urn:i\">" + longText('m', 5) + "</i>" + nl +
                       "</" + name + ">";
            }
        }
        xml += indent ? "\n  " : "";
        xml += "</t" + QByteArray::number(t) + ">";
    }
    return xml + (indent ? "\n" : "") + "</r>\n";
}

} // namespace

class TestWriteAhead : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void writtenAheadIsTheBuiltResult_data() {
        QTest::addColumn<QByteArrayList>("texts");
        const QByteArray plain = "<r>\n  <a>\n    <x/>\n  </a>\n  <b>\n    <x/>\n  </b>\n</r>\n";
        QTest::newRow("first: leading elements, then text")
            << QByteArrayList{"<r>\n  <a><x/><y>in</y> then text <z/></a>\n  <b><w/></b>\n</r>",
                              "<r><a><v/><x/><u><i/></u></a><b><u/><w/></b></r>", "<r><a><t/></a><b><t/></b></r>"};
        QTest::newRow("first: leading elements, then text after indentation")
            << QByteArrayList{"<r>\n  <a>\n    <x/>\n    <y/>\n    text\n  </a>\n</r>", "<r><a><v/><x/></a></r>"};
        QTest::newRow("first: a comment and a processing instruction between elements")
            << QByteArrayList{"<r>\n  <a>\n    <x/>\n    <!--c-->\n    <y/>\n  </a>\n  <b>\n    <x/>\n    <?y d?>\n"
                              "    <z/>\n  </b>\n</r>",
                              "<r><a><y/><v/></a><b><y/><v/></b></r>"};
        QTest::newRow("first: text directly under the root") << QByteArrayList{
            "<r>\n  <a><x/></a>\n  text\n  <b><y/></b>\n</r>", "<r>\n  <a><z/><x/></a>\n  more\n  <b><w/></b>\n</r>"};
        QTest::newRow("first: nodes around the root and its top-level elements")
            << QByteArrayList{"<!--c--><r>\n  <!--d-->\n  <a>\n    <x/>\n  </a>\n  <?p d?>\n  <b>\n    <y/>\n"
                              "  </b>\n</r>\n<?q?>",
                              "<r><!--d--><a><z/><x/></a><?p d?><b><z/></b></r>"};
        QTest::newRow("first: a CDATA section after leading elements")
            << QByteArrayList{"<r>\n  <a>\n    <x/>\n    <![CDATA[ c ]]>\n  </a>\n</r>",
                              "<r><a><![CDATA[d]]><y/><![CDATA[e]]><z>\n<i/>\n</z></a></r>"};
        QTest::newRow("first: a parse error after leading elements")
            << QByteArrayList{"<r>\n  <a>\n    <x/>\n    <y/>\n  </a>\n  <b>", "<r><a><z/></a><b/></r>"};
        QTest::newRow("first: the only input") << QByteArrayList{"<r>\n  <a>\n    <x/>\n    <y/>\n  </a>\n</r>"};
        QTest::newRow("first: a document type")
            << QByteArrayList{"<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"t\">]>\n<r>\n  <a>\n    <x/>\n    &e;\n"
                              "  </a>\n</r>",
                              "<r><a><y/><e/></a></r>", "<r><a><z/></a></r>"};
        QTest::newRow("preserved space on the root") << QByteArrayList{
            "<r xml:space=\"preserve\">\n <a>\n  <x/>\n </a>\n</r>",
            "<r xml:space=\"preserve\">\n <a>\n  <y> <z/> </y>\n </a>\n</r>", "<r>\n <a>\n  <w/>\n </a>\n</r>"};
        QTest::newRow("preserved space on a top-level element")
            << QByteArrayList{"<r>\n <a xml:space=\"preserve\">\n  <x/>\n </a>\n <b><x/></b>\n</r>",
                              "<r>\n <a>\n  <y>\n   <i/>\n  </y>\n </a>\n <b>\n  <y> <i/> </y>\n </b>\n</r>",
                              "<r><a xml:space=\"preserve\"> <z> <i/> </z> </a><b><z/></b></r>"};
        QTest::newRow("preserved space on a second-level element")
            << QByteArrayList{"<r>\n <a>\n  <x xml:space=\"preserve\"> <i/> </x>\n </a>\n</r>",
                              "<r>\n <a>\n  <y xml:space=\"preserve\">\n   <i/>\n  </y>\n  <z>\n   <i/>\n  </z>\n"
                              " </a>\n</r>"};
        QTest::newRow("later: mixed content around elements")
            << QByteArrayList{plain, "<r><a>before <y>in</y> between <z/> after</a><b>t<y/><x/>u<v/>w</b></r>",
                              "<r><a>s<y/>t<w>in</w>u</a><b><v/></b></r>"};
        QTest::newRow("later: long mixed content")
            << QByteArrayList{plain,
                              "<r><a>s<y>" + longText('y', 9000) + "</y>" + longText('t', 5000) + "<z>" +
                                  longText('z', 70) + "</z>" + longText('u', 12000) + "<w/></a><b>" +
                                  longText('b', 4000) + "<y>" + longText('i', 20000) + "</y>e</b></r>",
                              "<r><a>" + longText('p', 30000) + "<v>" + longText('q', 100) + "</v>x</a><b/></r>"};
        QTest::newRow("later: namespaces the first document lacks")
            << QByteArrayList{"<r xmlns:p=\"urn:p\"><a><p:x/></a><b xmlns=\"urn:d\"><x/></b></r>",
                              "<r xmlns:q=\"urn:q\"><a><q:y q:at=\"1\"/><p:z xmlns:p=\"urn:other\"/></a>"
                              "<b><y/><z xmlns=\"urn:d\"><i xmlns=\"\"/></z></b></r>",
                              "<r xmlns=\"urn:d\"><a><w/><v xmlns=\"\"><i/></v></a><b xmlns=\"\"><w/></b></r>"};
        QTest::newRow("later: default namespace in the first, none in the later")
            << QByteArrayList{"<r><a xmlns=\"urn:d\"><x/></a><b xmlns=\"urn:d\"/></r>",
                              "<r><a><y/><z xmlns=\"\"/><v xmlns=\"urn:d\"><i xmlns=\"\"/></v></a><b><y/></b></r>"};
        const QByteArray typed = QByteArray("<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"entity text\">]>\n") +
                                 "<r>\n  <a>\n    <y/>\n    &e;\n  </a>\n  <b>\n    <y/>\n  </b>\n</r>";
        QTest::newRow("document type and entity at the second level, then none")
            << QByteArrayList{plain, typed, "<r><a><z><i/></z></a><b><z/></b></r>",
                              "<r><a><w>\n<i/>\n</w></a><b><w/></b></r>", "<r><a><v/><z/></a><b><v/></b></r>"};
        // A large input that turns indentation off is still parsing while the small ones after it are written
        // ahead, indented: they are rewritten as they are merged.
        QByteArray slowTyped = "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"entity text\">]>\n<r>\n  <a>\n    &e;\n";
        for (int i = 0; i < 40000; ++i)
            slowTyped += "    <s" + QByteArray::number(i % 500) + "><i/></s" + QByteArray::number(i % 500) + ">\n";
        slowTyped += "  </a>\n  <b/>\n</r>\n";
        QByteArrayList afterSlow{plain, slowTyped};
        for (int i = 0; i < 12; ++i)
            afterSlow << "<r><a><n" + QByteArray::number(i) + ">\n<i/>\n</n" + QByteArray::number(i) +
                             "><x/></a><b/></r>";
        QTest::newRow("indentation turned off while later inputs are written ahead") << afterSlow;
        // A first document long enough that the small inputs after it are written ahead while it is read, for the
        // top-level elements whose start tags were read so far.
        QByteArray records;
        for (int i = 0; i < 30000; ++i)
            records += "    <s" + QByteArray::number(i % 700) + " n=\"" + QByteArray::number(i) + "\"/>\n";
        const QByteArrayList smallLater{
            "<r xmlns:p=\"urn:p\"><a><p:n1/><s3/><z>\n<i/>\n</z></a><b><y/></b><c/></r>",
            "<r><a><w xmlns=\"urn:d\"><i/></w></a><b xmlns=\"urn:d\"><y/><v/></b><c><x/></c></r>",
            "<r><a><s5/><u/></a><b><q:v xmlns:q=\"urn:q\"/></b><c><x/><t/></c></r>"};
        QTest::newRow("written ahead while the first is read: namespaces and an element without children")
            << QByteArrayList{"<r xmlns:p=\"urn:p\">\n  <a>\n" + records + "  </a>\n  <b xmlns=\"urn:d\">\n    <y/>\n" +
                              records + "  </b>\n  <c/>\n</r>\n"} +
                   smallLater;
        QTest::newRow("written ahead while the first is read: indentation turned off at the end")
            << QByteArrayList{"<r xmlns:p=\"urn:p\">\n  <a>\n" + records + "  text</a>\n  <b>\n" + records +
                              "  </b>\n  <c>\n    <x/>\n  </c>\n</r>\n"} +
                   smallLater;
        QTest::newRow("written ahead while the first is read: it does not parse")
            << QByteArrayList{"<r xmlns:p=\"urn:p\">\n  <a>\n" + records + "  </a>\n  <b>\n" + records +
                              "  </c>\n</r>\n"} +
                   smallLater;
        QTest::newRow("a name repeated within one later input")
            << QByteArrayList{plain, "<r><a><y/><y n=\"2\"/><z/><y n=\"3\"/><x/><z/></a><b><y/><y/></b></r>",
                              "<r><a><z/><y/></a><b/></r>"};
        QByteArray many = "<r><a>";
        for (int i = 0; i < 300; ++i)
            many += "<n" + QByteArray::number(i) + ">v</n" + QByteArray::number(i) + ">";
        QTest::newRow("a later input with more top-level nodes")
            << QByteArrayList{plain, many + "</a><b><y/></b></r>", many + "</a><b/><c><y/></c></r>", plain};
        QTest::newRow("a parse error after many elements were taken")
            << QByteArrayList{plain, "<r><a><y/></a><b/></r>", many + "<broken></a><b/></r>", plain};
        QTest::newRow("later: processing instructions and comments among the elements") << QByteArrayList{
            plain, "<r><!--c--><a><?p d?><y/><!--k--><?q?><x/><?p e?><z/></a><?top?><b><?p?><w/></b></r>",
            "<r><!--c--><a><?p?><v/></a><?top?><b><v/></b></r>"};
        QTest::newRow("later: CDATA sections that join, below a moved element")
            << QByteArrayList{plain, "<r><a><y><![CDATA[]]]]><![CDATA[>]]><![CDATA[]]></y></a><b/></r>"};
        QTest::newRow("later: text beside the top-level elements")
            << QByteArrayList{plain, "<r>\n  <a><y/></a>\n  text\n  <b><y/></b>\n</r>", "<r><a><z/></a><b/></r>"};
        QTest::newRow("xml:id attributes")
            << QByteArrayList{"<r><a><x xml:id=\"i1\"/></a><b/></r>",
                              "<r><a><y xml:id=\"i1\"/><z xml:id=\"i2\"><i xml:id=\"i3\"/></z></a><b><y/></b></r>",
                              "<r><a><w xml:id=\"i2\"/></a><b><v xml:id=\"i1\"/></b></r>"};
    }

    // However the inputs ahead are parsed, written or re-parsed: the same report to the byte, the same messages
    // and the same result as when every node is built.
    void writtenAheadIsTheBuiltResult() {
        QFETCH(QByteArrayList, texts);
        compareWithBuilt(m_folders.writeFiles(texts));
    }

    void writtenAheadIsTheBuiltResultOnGeneratedInputs_data() {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 12; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }

    void writtenAheadIsTheBuiltResultOnGeneratedInputs() {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        const bool preserveRoot = seed % 5 == 0;
        QByteArrayList texts;
        for (int i = int(random.bounded(2, 8)); i > 0; --i)
            texts << variedDocument(random, preserveRoot);
        compareWithBuilt(m_folders.writeFiles(texts));
    }

    void parserHandsEachCompleteSecondLevelElementToTheTaker_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("leftOut");
        QTest::addColumn<QStringList>("shape");
        QTest::newRow("every one") << int(TestTaker::Mode::Every)
                                   << QStringList{"0/0/x+", "0/0/y+", "0/0/x+", "0/1/z+", "0/1/w+", "1/0/x+"}
                                   << QStringList{"a:# # e #", "b:"};
        QTest::newRow("every other one") << int(TestTaker::Mode::EveryOther)
                                         << QStringList{"0/0/x+", "0/1/x+", "0/3/w+"}
                                         << QStringList{"a:# # y e # z #", "b:x"};
    }

    // Taken elements are listed where they stood, counted like the named nodes that stay; text, comments and
    // entity text are not named.
    void parserHandsEachCompleteSecondLevelElementToTheTaker() {
        QFETCH(int, mode);
        QFETCH(QStringList, leftOut);
        QFETCH(QStringList, shape);
        TestTaker taker{TestTaker::Mode(mode)};

        const ParsedXml parsed = parseXml("<r>\n  <a>t<x/><!--c--><y/><x><x/></x><?e d?>u<z/>&amp;<w/></a>\n"
                                          "  <b><x/></b>\n</r>",
                                          path("in.xml"), {}, nullptr, &taker);

        QVERIFY(parsed.doc);
        QCOMPARE(taker.offered, 6);
        QCOMPARE(listed(parsed), leftOut);
        QCOMPARE(shapeOf(parsed), shape);
        QCOMPARE(taker.forgotten, 0);
    }

    // A taken element comes without indentation (inside the scope of xml:space="preserve" with it) and with its
    // ancestors' namespaces in reach; an element within it is never offered.
    void takerSeesTheElementAsTheFinishedDocumentHoldsIt() {
        TestTaker taker(TestTaker::Mode::Every);

        const ParsedXml parsed = parseXml("<r xmlns:p=\"urn:p\">\n  <a>\n    <p:x>\n      <i/>\n    </p:x>\n  </a>\n"
                                          "  <b xml:space=\"preserve\">\n    <y>\n      <i/>\n    </y>\n  </b>\n</r>",
                                          path("in.xml"), {}, nullptr, &taker);

        QVERIFY(parsed.doc);
        QCOMPARE(taker.offeredText, (QStringList{"0:<p:x><i/></p:x>", "1:<y>\n      <i/>\n    </y>"}));
    }

    // The parser keeps the declarations in scope aside; a taken element frees its own, and the elements after it
    // that use the same prefix must find theirs, not the freed ones.
    void elementsAfterATakenOneFindTheirNamespaces() {
        TestTaker taker(TestTaker::Mode::Every);

        const ParsedXml parsed =
            parseXml("<r xmlns:p=\"urn:p\"><a><q:x xmlns:q=\"urn:q1\"/><q:y xmlns:q=\"urn:q2\"/>"
                     "<p:z xmlns:p=\"urn:p2\"/><p:w/><v xmlns:q=\"urn:q3\"><q:i q:at=\"1\"/></v></a>"
                     "<b><q:u xmlns:q=\"urn:q4\"/></b></r>",
                     path("in.xml"), {}, nullptr, &taker);

        QVERIFY(parsed.doc);
        QCOMPARE(
            taker.offeredText,
            (QStringList{"0:<q:x xmlns:q=\"urn:q1\"/>", "0:<q:y xmlns:q=\"urn:q2\"/>", "0:<p:z xmlns:p=\"urn:p2\"/>",
                         "0:<p:w/>", "0:<v xmlns:q=\"urn:q3\"><q:i q:at=\"1\"/></v>", "1:<q:u xmlns:q=\"urn:q4\"/>"}));
    }

    void takerThatThrowsEndsTheParse() {
        TestTaker taker(TestTaker::Mode::ThrowOnThird);
        bool thrown = false;
        try {
            parseXml("<r><a><x/><y/><z/><w/></a><b><v/></b></r>", path("in.xml"), {}, nullptr, &taker);
        } catch (const std::runtime_error& error) {
            thrown = QByteArray(error.what()) == "taker failed";
        }
        QVERIFY(thrown);
        QCOMPARE(taker.offered, 3); // nothing after it
    }

    void documentThatDoesNotFitIsParsedAgainWithoutTaking_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("fitting");
        QTest::addColumn<int>("offered");
        QTest::addColumn<QStringList>("shape");
        QTest::addColumn<bool>("wellFormed");
        QTest::newRow("the taker finds it does not fit")
            << QByteArray("<r><a><x/><y/></a></r>") << false << 2 << QStringList{"a:x y"} << true;
        QTest::newRow("blank text at the root put back")
            << QByteArray("<r>\n  <a><x/></a>\n  text</r>") << true << 1 << QStringList{"a:x"} << true;
        QTest::newRow("a parse error after taking")
            << QByteArray("<r><a><x/><y/></a><b>") << true << 2 << QStringList{} << false;
    }

    void documentThatDoesNotFitIsParsedAgainWithoutTaking() {
        QFETCH(QByteArray, xml);
        QFETCH(bool, fitting);
        QFETCH(int, offered);
        QFETCH(QStringList, shape);
        QFETCH(bool, wellFormed);
        TestTaker taker(TestTaker::Mode::Every, fitting);
        const ParsedXml plain = parseXml(xml, path("in.xml"));

        const ParsedXml parsed = parseXml(xml, path("in.xml"), {}, nullptr, &taker);

        QCOMPARE(taker.offered, offered);
        QCOMPARE(taker.forgotten, 1);
        QCOMPARE(listed(parsed), QStringList());
        QCOMPARE(shapeOf(parsed), shape);
        QCOMPARE(bool(parsed.doc), wellFormed);
        QCOMPARE(parsed.error.reason, plain.error.reason);
        QCOMPARE(parsed.error.line, plain.error.line);
        QCOMPARE(parsed.error.column, plain.error.column);
    }

    void documentWithADocumentTypeGivesNothingToTheTaker() {
        TestTaker taker(TestTaker::Mode::Every);
        const ParsedXml parsed = parseXml("<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"t\">]><r><a><x/>&e;<y/></a></r>",
                                          path("in.xml"), {}, nullptr, &taker);
        QVERIFY(parsed.doc);
        QCOMPARE(taker.offered, 0);
        QCOMPARE(shapeOf(parsed), QStringList{"a:x e y"});
    }

    void textAfterATakenElementJoinsTheTextBeforeIt_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("inside");
        QTest::addColumn<int>("after");
        QTest::newRow("short, long inside, long") << 1 << 9000 << 7000;
        QTest::newRow("long, longer inside, long") << 3000 << 20000 << 5000;
        QTest::newRow("long, short inside, short") << 5000 << 3 << 10;
        QTest::newRow("short everywhere") << 2 << 2 << 2;
    }

    // libxml2 joins text to the last text it made, by lengths it kept; after a take the last child is older text.
    void textAfterATakenElementJoinsTheTextBeforeIt() {
        QFETCH(int, before);
        QFETCH(int, inside);
        QFETCH(int, after);
        const QByteArray first = longText('b', before);
        const QByteArray second = longText('a', after);
        TestTaker taker(TestTaker::Mode::Every);

        const ParsedXml parsed = parseXml("<r><a>" + first + "<x>" + longText('i', inside) + "</x>" + second + "<y>" +
                                              longText('j', inside) + "</y>" + first + "</a></r>",
                                          path("in.xml"), {}, nullptr, &taker);

        QVERIFY(parsed.doc);
        QCOMPARE(taker.offered, 2);
        QCOMPARE(shapeOf(parsed), QStringList{"a:#"});
        QCOMPARE(textUnderFirstTop(parsed), first + second + first);
    }

    void firstChildrenWriterTakesOnlyLeadingChildrenWhereIndented_data() {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("leftOut");
        QTest::addColumn<QStringList>("shape");
        QTest::newRow("indented children")
            << QByteArray("<r>\n  <a>\n    <x/>\n    <y/>\n  </a>\n  <b>\n    <z/>\n  </b>\n</r>")
            << QStringList{"0/0/x+", "0/0/y+", "1/0/z+"} << QStringList{"a:", "b:"};
        QTest::newRow("up to a comment") << QByteArray("<r><a><x/><!--c--><y/></a></r>") << QStringList{"0/0/x+"}
                                         << QStringList{"a:# y"};
        QTest::newRow("text after them: parsed again")
            << QByteArray("<r><a><x/><y/>text</a><b><z/></b></r>") << QStringList{} << QStringList{"a:x y #", "b:z"};
        QTest::newRow("blank text after them in mixed content: parsed again")
            << QByteArray("<r><a><x/> <y/> <!--c-->t</a></r>") << QStringList{} << QStringList{"a:x # y # # #"};
        QTest::newRow("text where nothing was taken") << QByteArray("<r><a><!--c--><x/>text</a><b><z/></b></r>")
                                                      << QStringList{"1/0/z+"} << QStringList{"a:# x #", "b:"};
        QTest::newRow("an entity reference after them: parsed again")
            << QByteArray("<r><a><x/>&amp;</a></r>") << QStringList{} << QStringList{"a:x #"};
        QTest::newRow("text under the root: parsed again")
            << QByteArray("<r><a><x/></a>text<b><z/></b></r>") << QStringList{} << QStringList{"a:x", "b:z"};
        QTest::newRow("preserved space on the root")
            << QByteArray("<r xml:space=\"preserve\"><a><x/></a></r>") << QStringList{} << QStringList{"a:x"};
        QTest::newRow("preserved space on a top-level element")
            << QByteArray("<r><a xml:space=\"preserve\"><x/></a><b><y/></b></r>") << QStringList{"1/0/y+"}
            << QStringList{"a:x", "b:"};
    }

    void firstChildrenWriterTakesOnlyLeadingChildrenWhereIndented() {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, leftOut);
        QFETCH(QStringList, shape);
        FirstChildrenWriter writer;

        const ParsedXml parsed = parseXml(xml, path("in.xml"), {}, nullptr, &writer);

        QVERIFY(parsed.doc);
        QCOMPARE(listed(parsed), leftOut);
        QCOMPARE(shapeOf(parsed), shape);
        QVERIFY(!writer.fits(nullptr));
    }

    // A piece written indented ahead, while text that the merge adds meanwhile turns indentation off there, comes
    // out as if it had been merged from its tree.
    void pieceWrittenIndentedIsRewrittenOnceIndentationIsOff_data() {
        QTest::addColumn<QByteArray>("later");
        QTest::newRow("plain") << QByteArray("<r><a><y>\n<i/>\n</y><w/></a><b><y><i/></y></b></r>");
        QTest::newRow("namespaces added and kept")
            << QByteArray("<r xmlns:q=\"urn:q\"><a><y>\n<q:i q:at=\"1\"/>\n</y><p:w xmlns:p=\"urn:other\"><i "
                          "xmlns=\"urn:d\"/></p:w></a><b xmlns=\"urn:e\"><y><i/></y></b></r>");
        QTest::newRow("preserved space, mixed content, names already there")
            << QByteArray("<r><a><y xml:space=\"preserve\">\n <i/>\n</y><w>t <i/> u</w><x/><v><i>\n</i></v><u>\n "
                          "<i/>\n</u></a><b xml:space=\"preserve\"><y> <i/> </y></b></r>");
    }

    void pieceWrittenIndentedIsRewrittenOnceIndentationIsOff() {
        QFETCH(QByteArray, later);
        const QByteArray first =
            "<r xmlns:p=\"urn:p\">\n  <a xmlns=\"urn:d\">\n    <x/>\n  </a>\n  <b>\n    <x/>\n  </b>\n</r>\n";
        const QByteArray textual = "<!DOCTYPE r SYSTEM \"r.dtd\" [<!ENTITY e \"words\">]><r><a>&e;<v/></a><b/></r>";
        const QStringList paths = m_folders.writeFiles({first, textual, later});
        const QByteArray built = merge(paths, 0, MergeParsing::BuildEveryNode).output;
        QVERIFY(!built.isEmpty());

        MergedNames names;
        auto base = std::make_unique<MergedDocument>(parseXml(first, paths[0]), names);
        base->writeFirstChildren();
        const std::shared_ptr<const WriteAheadTarget> target = base->writeAheadTarget();
        QCOMPARE(target->tops.size(), std::size_t(2));
        QVERIFY(target->tops[0].indented && target->tops[1].indented);
        AheadWriter writer(target, later.size());
        const ParsedXml ahead = parseXml(later, paths[2], {}, nullptr, &writer);
        QVERIFY(ahead.leftOut.size() >= 3);
        QVERIFY(writer.nextIndented());

        // Text is added under "a" after the later input was written ahead for an indented "a".
        const ParsedXml between = parseXml(textual, paths[1]);
        base->takeNodesFrom(textual.size());
        for (xmlNode* child = rootElement(between.doc.get())->children->children; child;) {
            xmlNode* next = child->next;
            base->append(0, child);
            child = next;
        }
        const std::shared_ptr<const WriteAheadTarget> republished = base->writeAheadTarget();
        QVERIFY(republished != target);
        QVERIFY(!republished->tops[0].indented && republished->tops[1].indented);
        base->takeNodesFrom(later.size());
        for (const LeftOutElement& element : ahead.leftOut) {
            QVERIFY(element.taken);
            if (base->nodeExists(element.topIndex, element.name))
                writer.dropNext();
            else
                QCOMPARE(base->appendWritten(element.topIndex, element.name, writer), element.name);
        }
        const QString saved = path("saved.xml");
        base->save(saved);

        QCOMPARE(readFile(saved), built);
    }

    // A writer at a top-level element that the provisional target does not know yet waits for one that does, and
    // ends its wait when no first document comes.
    void writerWaitsForATargetThatCoversItsTopLevelElement() {
        const auto provisional = [](qsizetype tops) {
            auto target = std::make_shared<WriteAheadTarget>();
            target->provisional = true;
            target->tops.resize(std::size_t(tops));
            for (WriteAheadTarget::Top& top : target->tops)
                top.node = reinterpret_cast<const xmlNode*>(&top); // never read: covers() looks only at its presence
            return target;
        };
        TargetGate<WriteAheadTarget> gate{std::stop_token()};
        const auto coversThird = [](const WriteAheadTarget& target) { return target.covers(2); };
        std::shared_ptr<const WriteAheadTarget> seen;
        std::thread writer([&] { seen = gate.waitFor(1, coversThird).target; });
        gate.publish(provisional(1));
        const std::shared_ptr<const WriteAheadTarget> fuller = provisional(3);
        gate.publish(fuller);
        writer.join();
        QCOMPARE(seen, fuller);

        TargetGate<WriteAheadTarget> released{std::stop_token()};
        released.publish(provisional(1));
        std::thread waiting([&] { seen = released.waitFor(1, coversThird).target; });
        released.release();
        waiting.join();
        QVERIFY(seen && !seen->covers(2)); // the writer then keeps the elements as nodes
    }

    // The writers ahead share the first document: one may still be writing when the merge has gone.
    void aheadWriterOutlivesTheMergedDocument() {
        const QByteArray first = "<r xmlns:p=\"urn:p\">\n  <a>\n    <x/>\n  </a>\n</r>\n";
        const QByteArray later = "<r><a><p:y xmlns:p=\"urn:p\"/><z/></a></r>";
        const QStringList paths = m_folders.writeFiles({first, later});
        MergedNames names;
        auto base = std::make_unique<MergedDocument>(parseXml(first, paths[0]), names);
        base->writeFirstChildren();
        AheadWriter writer(base->writeAheadTarget(), 64);
        base.reset();

        const ParsedXml parsed = parseXml(later, paths[1], {}, nullptr, &writer);

        QCOMPARE(listed(parsed), (QStringList{"0/0/y+", "0/0/z+"}));
        ChunkedText text;
        writer.moveNext(text);
        writer.dropNext();
        QCOMPARE(joined(text), QByteArray("    <p:y xmlns:p=\"urn:p\"/>\n"));
        QVERIFY(merge(paths, 0, MergeParsing::BuildEveryNode).output.contains(joined(text)));
    }

    void aheadWriterLeavesWhatTheFirstDocumentCannotHold() {
        MergedNames names;
        MergedDocument base(parseXml("<r><!--c--><a/></r>", path("in1.xml")), names);
        base.writeFirstChildren();
        AheadWriter writer(base.writeAheadTarget(), 64);

        const ParsedXml parsed =
            parseXml("<r><b><z/></b><a><y/></a><c><w/></c></r>", path("in2.xml"), {}, nullptr, &writer);

        QCOMPARE(listed(parsed), QStringList{"1/0/y+"});
        QCOMPARE(shapeOf(parsed), (QStringList{"b:z", "a:", "c:w"}));
    }

    // Each input gets its taker on the thread that parses it, the first one on the thread that takes it, once its
    // size is known; what each taker took comes with its input.
    void prefetcherAsksForATakerForEveryInputOnItsParsingThread() {
        QByteArrayList texts;
        for (int i = 0; i < 5; ++i) {
            QByteArray xml = "<r>\n  <a>";
            for (int k = 0; k <= i; ++k)
                xml += "<e" + QByteArray::number(k) + "/>";
            texts << xml + "</a>\n</r>\n";
        }
        const QStringList paths = m_folders.writeFiles(texts);
        for (int depth : kDepths) {
            struct Asked {
                qsizetype size;
                std::thread::id thread;
            };
            std::mutex mutex;
            std::map<qsizetype, Asked> asked;
            std::vector<std::unique_ptr<TestTaker>> takers(std::size_t(texts.size()));
            InputPrefetcher::TakerFor takerFor = [&](qsizetype index, qsizetype textSize) -> ElementTaker* {
                const std::lock_guard lock(mutex);
                asked.emplace(index, Asked{textSize, std::this_thread::get_id()});
                takers.at(std::size_t(index)) = std::make_unique<TestTaker>(TestTaker::Mode::Every);
                return takers.at(std::size_t(index)).get();
            };
            InputPrefetcher prefetcher(paths, depth, nullptr, takerFor);

            for (int i = 0; i < texts.size(); ++i) {
                const PreparedInput input = prefetcher.takeNext();
                QVERIFY(input.parsed.doc);
                QCOMPARE(qsizetype(input.parsed.leftOut.size()), qsizetype(i + 1));
                QVERIFY(input.parsed.leftOut.back().taken);
                const std::lock_guard lock(mutex);
                QVERIFY(asked.count(i));
                QCOMPARE(asked.at(i).size, input.textSize);
                QCOMPARE(input.textSize, qsizetype(texts[i].size()));
                QCOMPARE(asked.at(i).thread == std::this_thread::get_id(), depth == 0 || i == 0);
            }
            QCOMPARE(asked.size(), std::size_t(texts.size()));
        }
    }

    void chunkedTextMovesAcrossBlocksAndFreesThem() {
        ChunkedText text;
        QByteArray whole;
        for (int i = 0; i < 200; ++i) {
            const QByteArray piece = longText(char('a' + i % 26), 1 + (i * 37) % 300);
            text.append(piece);
            whole += piece;
        }
        QCOMPARE(text.size(), whole.size());
        QVERIFY(text.chunks().size() > 4);

        ChunkedText::Cursor cursor;
        ChunkedText into;
        qsizetype at = 0;
        // Lengths that end inside a block, exactly at its end and past several blocks; every other one dropped.
        const qsizetype firstBlock = text.chunks().front().size();
        const qsizetype lengths[] = {1, firstBlock - 1, 300, 0, 2000, 7, 9000};
        QByteArray expected;
        for (std::size_t k = 0; k < std::size(lengths); ++k) {
            const qsizetype length = std::min(lengths[k], whole.size() - at);
            text.moveTo(cursor, length, k % 2 ? nullptr : &into);
            if (k % 2 == 0)
                expected += whole.mid(at, length);
            at += length;
            QCOMPARE(cursor.position, at);
        }
        text.moveTo(cursor, whole.size(), &into); // asks for more than is left
        expected += whole.mid(at);

        QCOMPARE(joined(into), expected);
        QCOMPARE(into.size(), expected.size());
        QCOMPARE(cursor.chunk, text.chunks().size());
        for (const QByteArray& chunk : text.chunks())
            QVERIFY(chunk.isEmpty() && chunk.capacity() == 0);
    }

private:
    QString path(const QString& name) const { return m_folders.filePath(name); }

    static QByteArray joined(const ChunkedText& text) {
        QByteArray bytes;
        for (const QByteArray& chunk : text.chunks())
            bytes += chunk;
        return bytes;
    }

    MergeRecord merge(const QStringList& paths, int parseAhead, MergeParsing parsing) const {
        return recordMerge(paths, path(QStringLiteral("working.xml")), parseAhead, parsing);
    }

    void compareWithBuilt(const QStringList& paths) const {
        const MergeRecord built = merge(paths, 0, MergeParsing::BuildEveryNode);
        for (int ahead : kDepths) {
            const MergeRecord written = merge(paths, ahead, MergeParsing::LeaveOutKnownNames);
            const QByteArray where = QByteArray("look-ahead ") + QByteArray::number(ahead);
            QVERIFY2(written.events == built.events, where + "\n" + written.events.join('\n').toUtf8() +
                                                         "\n--- built:\n" + built.events.join('\n').toUtf8());
            QVERIFY2(written.report == built.report, where + "\n" + written.report + "\n--- built:\n" + built.report);
            QVERIFY2(written.output == built.output, where + "\n" + written.output + "\n--- built:\n" + built.output);
        }
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestWriteAhead)
#include "tst_writeahead.moc"
