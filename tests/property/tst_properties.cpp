// Properties of Merge and Append over seeded random inputs, joined through the join command as the joiner runs it.
// Each property runs kCases cases; case i uses seed first + i. A failing case prints its seed and inputs; set
// CORVANTA_PROPERTY_SEED to start from another seed (a number, or "random" for a fresh one).
#include "engine/join/joincommand.h"
#include "tests/property/randomdocuments.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>
#include <algorithm>
#include <functional>
#include <libxml/parser.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace corvanta;

namespace {

constexpr int kCases = 300;

using Document = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

/// \a xml as any reader of a saved file parses it: nothing from outside, entities kept as references, the text
/// taken as UTF-8. Null unless it is well-formed and namespace-well-formed.
Document parse(const QByteArray& xml) {
    const std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)> context(xmlNewParserCtxt(), &xmlFreeParserCtxt);
    Document doc(xmlCtxtReadMemory(context.get(), xml.constData(), int(xml.size()), nullptr, "UTF-8",
                                   XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
                 &xmlFreeDoc);
    if (!context->wellFormed || !context->nsWellFormed)
        doc.reset();
    else if (doc)
        dropIndentation(xmlDocGetRootElement(doc.get()));
    return doc;
}

QByteArray bytes(const xmlChar* text) {
    return text ? QByteArray(reinterpret_cast<const char*>(text)) : QByteArray();
}

QByteArray namespaceOf(const xmlNode* node) {
    return node->ns ? bytes(node->ns->href) : QByteArray();
}

/// The XPath string value: the text of every descendant, entity references replaced by their own document's
/// declaration.
QByteArray stringValue(const xmlNode* node) {
    const std::unique_ptr<xmlChar, decltype(xmlFree)> content(xmlNodeGetContent(node), xmlFree);
    return bytes(content.get());
}

/// The name Merge compares: an element's local name, an instruction's target, an entity reference's name.
QByteArray baseName(const xmlNode* node) {
    const bool named = node->type == XML_ELEMENT_NODE || node->type == XML_PI_NODE || node->type == XML_ENTITY_REF_NODE;
    return named ? bytes(node->name) : QByteArray();
}

std::vector<const xmlNode*> childNodes(const xmlNode* parent, bool elementsOnly = false) {
    std::vector<const xmlNode*> nodes;
    for (const xmlNode* child = parent->children; child; child = child->next)
        if (!elementsOnly || child->type == XML_ELEMENT_NODE)
            nodes.push_back(child);
    return nodes;
}

QByteArrayList attributesOf(const xmlNode* element) {
    QByteArrayList attributes;
    for (const xmlAttr* attribute = element->properties; attribute; attribute = attribute->next) {
        const std::unique_ptr<xmlChar, decltype(xmlFree)> value(
            xmlNodeListGetString(element->doc, attribute->children, 1), xmlFree);
        attributes << "{" + (attribute->ns ? bytes(attribute->ns->href) : QByteArray()) + "}" + bytes(attribute->name) +
                          "=" + bytes(value.get());
    }
    std::sort(attributes.begin(), attributes.end());
    return attributes;
}

/// The same node: type, expanded name, attributes, content and children alike; namespace declarations may differ.
bool sameNode(const xmlNode* a, const xmlNode* b) {
    if (a->type != b->type || !xmlStrEqual(a->name, b->name))
        return false;
    if (a->type == XML_ELEMENT_NODE) {
        const std::vector<const xmlNode*> left = childNodes(a);
        const std::vector<const xmlNode*> right = childNodes(b);
        return namespaceOf(a) == namespaceOf(b) && attributesOf(a) == attributesOf(b) &&
               std::equal(left.begin(), left.end(), right.begin(), right.end(), sameNode);
    }
    if (a->type == XML_ENTITY_REF_NODE || a->type == XML_DTD_NODE)
        return true;
    return xmlStrEqual(a->content, b->content);
}

/// What Merge does with the inputs, worked out on their parsed trees: for each top-level node, the second-level
/// nodes of later inputs that move, in order. A node moves when it has a base name that neither the first
/// document's top-level node at its position nor a node moved there before it has.
std::vector<std::vector<const xmlNode*>> expectedMoves(const std::vector<Document>& inputs) {
    const std::vector<const xmlNode*> tops = childNodes(xmlDocGetRootElement(inputs.front().get()));
    std::vector<std::vector<const xmlNode*>> moves(tops.size());
    std::vector<std::set<QByteArray>> present(tops.size());
    for (std::size_t j = 0; j < tops.size(); ++j)
        for (const xmlNode* child : childNodes(tops[j]))
            present[j].insert(baseName(child));
    for (std::size_t i = 1; i < inputs.size(); ++i) {
        const std::vector<const xmlNode*> laterTops = childNodes(xmlDocGetRootElement(inputs[i].get()));
        for (std::size_t j = 0; j < tops.size(); ++j)
            for (const xmlNode* child : childNodes(laterTops.at(j)))
                if (const QByteArray name = baseName(child); !name.isEmpty() && present[j].insert(name).second)
                    moves[j].push_back(child);
    }
    return moves;
}

} // namespace

class TestProperties : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QByteArray chosen = qgetenv("CORVANTA_PROPERTY_SEED");
        bool given = false;
        m_firstSeed = chosen.toUInt(&given);
        if (chosen == "random")
            m_firstSeed = QRandomGenerator::system()->generate();
        else if (!given)
            m_firstSeed = 20261208;
        qInfo("first seed %u (CORVANTA_PROPERTY_SEED)", m_firstSeed);
    }

    void init() { m_folders.renew(); }

    void mergeResultParsesNamespaceWellFormed() {
        forEachCase([&](quint32 seed) {
            RandomDocuments random(seed);
            const QByteArray result = merge(random.nextInputs());
            QVERIFY2(parse(result) != nullptr, result.constData());
        });
    }

    // Elements are identified by their path of element positions: the first document's keep theirs, and the m-th
    // element that moves under top-level node j becomes element number (first document's elements there) + m of
    // it, its descendants following it. Each keeps its expanded name and its string value, entities replaced by
    // the meaning their own document gave them; only the root and the top-level nodes gain text. Nothing else is
    // there.
    void mergeKeepsNamespaceAndStringValueOfEveryElement() {
        forEachCase([&](quint32 seed) {
            RandomDocuments random(seed);
            const std::vector<Document> inputs = parseAll(m_inputs = random.nextInputs());
            const Document result = parse(merge(m_inputs));
            QVERIFY(result);
            const xmlNode* firstRoot = xmlDocGetRootElement(inputs.front().get());
            const xmlNode* resultRoot = xmlDocGetRootElement(result.get());
            QCOMPARE(namespaceOf(resultRoot), namespaceOf(firstRoot));
            QCOMPARE(bytes(resultRoot->name), bytes(firstRoot->name));
            const std::vector<const xmlNode*> firstTops = childNodes(firstRoot, true);
            const std::vector<const xmlNode*> resultTops = childNodes(resultRoot, true);
            QCOMPARE(resultTops.size(), firstTops.size());
            const std::vector<std::vector<const xmlNode*>> moves = expectedMoves(inputs);
            for (std::size_t j = 0; j < firstTops.size(); ++j) {
                QCOMPARE(namespaceOf(resultTops[j]), namespaceOf(firstTops[j]));
                QCOMPARE(bytes(resultTops[j]->name), bytes(firstTops[j]->name));
                std::vector<const xmlNode*> expected = childNodes(firstTops[j], true);
                for (const xmlNode* moved : moves[j])
                    if (moved->type == XML_ELEMENT_NODE)
                        expected.push_back(moved);
                const std::vector<const xmlNode*> actual = childNodes(resultTops[j], true);
                QCOMPARE(actual.size(), expected.size());
                for (std::size_t k = 0; k < actual.size(); ++k) {
                    compareElements(expected[k], actual[k]);
                    if (QTest::currentTestFailed())
                        return;
                }
            }
        });
    }

    // The first document's nodes are all there, in order: its prolog, epilog, root and top-level nodes alike, and
    // under each top-level node its own children first, followed by exactly the moved nodes, by base name.
    void mergeKeepsTheFirstDocumentsNodesInOrder() {
        forEachCase([&](quint32 seed) {
            RandomDocuments random(seed);
            const std::vector<Document> inputs = parseAll(m_inputs = random.nextInputs());
            const Document result = parse(merge(m_inputs));
            QVERIFY(result);
            const std::vector<const xmlNode*> firstOutside =
                childNodes(reinterpret_cast<xmlNode*>(inputs.front().get()));
            const std::vector<const xmlNode*> resultOutside = childNodes(reinterpret_cast<xmlNode*>(result.get()));
            QCOMPARE(resultOutside.size(), firstOutside.size());
            for (std::size_t i = 0; i < firstOutside.size(); ++i)
                if (firstOutside[i]->type != XML_ELEMENT_NODE)
                    QVERIFY(sameNode(firstOutside[i], resultOutside[i]));
            const xmlNode* firstRoot = xmlDocGetRootElement(inputs.front().get());
            const xmlNode* resultRoot = xmlDocGetRootElement(result.get());
            QCOMPARE(attributesOf(resultRoot), attributesOf(firstRoot));
            const std::vector<const xmlNode*> firstTops = childNodes(firstRoot);
            const std::vector<const xmlNode*> resultTops = childNodes(resultRoot);
            QCOMPARE(resultTops.size(), firstTops.size());
            const std::vector<std::vector<const xmlNode*>> moves = expectedMoves(inputs);
            for (std::size_t j = 0; j < firstTops.size(); ++j) {
                QCOMPARE(attributesOf(resultTops[j]), attributesOf(firstTops[j]));
                const std::vector<const xmlNode*> own = childNodes(firstTops[j]);
                const std::vector<const xmlNode*> all = childNodes(resultTops[j]);
                QCOMPARE(all.size(), own.size() + moves[j].size());
                for (std::size_t k = 0; k < own.size(); ++k)
                    QVERIFY2(sameNode(own[k], all[k]), qPrintable(QStringLiteral("top %1 child %2").arg(j).arg(k)));
                for (std::size_t m = 0; m < moves[j].size(); ++m)
                    QCOMPARE(baseName(all[own.size() + m]), baseName(moves[j][m]));
            }
        });
    }

    // Every second-level node of the copy has a base name the document already has there (or none, and is not
    // taken), so nothing moves and the result is the document, canonically.
    void mergeWithACompactCopyGivesTheDocumentBack() {
        forEachCase([&](quint32 seed) {
            RandomDocuments random(seed);
            const RandomDocuments::Document document = random.nextDocument();
            const QByteArray original = RandomDocuments::write(document, true);
            m_inputs = {original, RandomDocuments::write(document, false)};
            if (QRandomGenerator(seed).bounded(2) == 0)
                std::swap(m_inputs[0], m_inputs[1]);
            const QByteArray result = merge(m_inputs);
            QCOMPARE(canonicalXml(result, true, true), canonicalXml(original, true, true));
        });
    }

    // The saved result R, listed before its inputs or after them, merges to R again (canonically), without any
    // message: every base name of every input is under R's top-level node already. (This holds because the
    // second-level entity references only use entities that every input declares the same way; one that the first
    // document declared otherwise would have become text, lose its name, and come in once more.)
    void savedResultMergesAgainWithItsInputs() {
        forEachCase([&](quint32 seed) {
            RandomDocuments random(seed);
            const QByteArrayList inputs = random.nextInputs();
            m_inputs = inputs;
            const QByteArray saved = merge(inputs);
            QVERIFY(parse(saved));
            const QByteArray expected = canonicalXml(saved, true, true);
            QCOMPARE(canonicalXml(merge(QByteArrayList{saved} + inputs), true, true), expected);
            QCOMPARE(canonicalXml(merge(inputs + QByteArrayList{saved}), true, true), expected);
        });
    }

    // Texts written in every encoding the reader knows; each reads back as itself, so the joined text is theirs
    // in order. A zero-length file reads as "empty file".
    void appendGivesTheDecodedTextsInOrder() {
        forEachCase([&](quint32 seed) {
            QRandomGenerator draw(seed);
            QString expected;
            m_inputs.clear();
            for (int count = int(draw.bounded(1, 6)); m_inputs.size() < count;) {
                const auto [bytes, text] = encodedText(draw);
                m_inputs << bytes;
                expected += text;
            }
            RecordingHost host(m_folders.writeFiles(m_inputs, QStringLiteral("in-%1.xml")), true);
            joinFiles(host);
            QCOMPARE(host.messages(), QStringList());
            QVERIFY(host.handedOff());
            QCOMPARE(host.resultsText, expected);
            QCOMPARE(host.resultsText.toUtf8(), expected.toUtf8());
        });
    }

private:
    void forEachCase(const std::function<void(quint32 seed)>& property) {
        for (int i = 0; i < kCases; ++i) {
            const quint32 seed = m_firstSeed + quint32(i);
            m_inputs.clear();
            property(seed);
            if (QTest::currentTestFailed()) {
                qWarning("failing case: CORVANTA_PROPERTY_SEED=%u", seed);
                for (const QByteArray& input : m_inputs)
                    qWarning("input:\n%s", input.constData());
                return;
            }
        }
    }

    /// The saved result of merging \a inputs; fails the test unless it is handed off without any message.
    QByteArray merge(const QByteArrayList& inputs) {
        if (m_inputs.isEmpty())
            m_inputs = inputs;
        RecordingHost host(m_folders.writeFiles(inputs, QStringLiteral("in-%1.xml")));
        joinFiles(host);
        if (!host.messages().isEmpty() || !host.handedOff()) {
            qWarning("%s", qPrintable(host.events.join(QLatin1Char('\n'))));
            QTest::qFail("the merge was handed off without a message", __FILE__, __LINE__);
        }
        return host.resultsText.toUtf8();
    }

    std::vector<Document> parseAll(const QByteArrayList& inputs) {
        std::vector<Document> documents;
        for (const QByteArray& input : inputs) {
            documents.push_back(parse(input));
            if (!documents.back())
                QTest::qFail("a generated input is namespace-well-formed", __FILE__, __LINE__);
        }
        return documents;
    }

    void compareElements(const xmlNode* expected, const xmlNode* actual) {
        QCOMPARE(bytes(actual->name), bytes(expected->name));
        QCOMPARE(namespaceOf(actual), namespaceOf(expected));
        QCOMPARE(stringValue(actual), stringValue(expected));
        const std::vector<const xmlNode*> left = childNodes(expected, true);
        const std::vector<const xmlNode*> right = childNodes(actual, true);
        QCOMPARE(right.size(), left.size());
        for (std::size_t k = 0; k < left.size(); ++k) {
            compareElements(left[k], right[k]);
            if (QTest::currentTestFailed())
                return;
        }
    }

    /// A random text and the bytes of a file holding it in one encoding, with the text the reader makes of them.
    static std::pair<QByteArray, QString> encodedText(QRandomGenerator& draw) {
        static const QStringList pieces{QStringLiteral("<r>"),
                                        QStringLiteral("tea"),
                                        QStringLiteral(" caf\u00e9 "),
                                        QStringLiteral("\u51cd\u9802"),
                                        QStringLiteral("\U0001F375"),
                                        QStringLiteral("\r\n"),
                                        QStringLiteral("\u20ac\u201c\u201d"),
                                        QStringLiteral("\u00ff"),
                                        QString(QChar(0))};
        QString text;
        for (int i = int(draw.bounded(0, 6)); i > 0; --i)
            text += pieces[int(draw.bounded(pieces.size()))];
        if (text.startsWith(QChar(0)))
            text.prepend(QLatin1Char('x')); // after FF FE, a first U+0000 would make the mark UTF-32's
        const auto encode = [&](QStringConverter::Encoding encoding) {
            return QByteArray(QStringEncoder(encoding)(text));
        };
        switch (draw.bounded(0, 9)) {
        case 0:
            return {"\xFF\xFE" + encode(QStringConverter::Utf16LE), QChar(0xFEFF) + text};
        case 1:
            return {"\xFE\xFF" + encode(QStringConverter::Utf16BE), QChar(0xFEFF) + text};
        case 2: // any other first byte 0xFF or 0xFE is UTF-16 little-endian without a mark
            return {encode(QStringConverter::Utf16LE).prepend("\xFE\0", 2), QChar(0x00FE) + text};
        case 3:
            return {QByteArray("\xFF\xFE\0\0", 4) + encode(QStringConverter::Utf32LE), QChar(0xFEFF) + text};
        case 4:
            return {QByteArray("\0\0\xFE\xFF", 4) + encode(QStringConverter::Utf32BE), QChar(0xFEFF) + text};
        case 5: // UTF-16 with an odd last byte, which reads as U+FFFD
            return {"\xFF\xFE" + encode(QStringConverter::Utf16LE) + "A", QChar(0xFEFF) + text + QChar(0xFFFD)};
        case 6: { // Windows-1252: each of its own bytes before ASCII, so no byte run reads as UTF-8
            QByteArray bytes;
            QString cp1252;
            for (int i = int(draw.bounded(1, 5)); i > 0; --i) {
                static const QList<QPair<char, QString>> letters{{'\xE9', QStringLiteral("\u00e9")},
                                                                 {'\x80', QStringLiteral("\u20ac")},
                                                                 {'\x93', QStringLiteral("\u201c")},
                                                                 {'\xC3', QStringLiteral("\u00c3")}};
                const auto& letter = letters[int(draw.bounded(letters.size()))];
                bytes += letter.first + QByteArray("x");
                cp1252 += letter.second + QStringLiteral("x");
            }
            return {bytes, cp1252};
        }
        case 7:
            return {"\xEF\xBB\xBF" + text.toUtf8(), QChar(0xFEFF) + text};
        default:
            if (text.isEmpty())
                return {QByteArray(), QStringLiteral("empty file")};
            return {text.toUtf8(), text};
        }
    }

    quint32 m_firstSeed = 0;
    TestFolders m_folders;
    QByteArrayList m_inputs; // of the current case, shown when it fails
};

QTEST_GUILESS_MAIN(TestProperties)
#include "tst_properties.moc"
