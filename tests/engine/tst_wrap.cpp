#include "engine/join/joincommand.h"
#include "engine/text/textfile.h"
#include "engine/xml/xmldocument.h"
#include "engine/xml/xmlwrap.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>
#include <memory>

using namespace corvanta;

namespace {

const QByteArray kStart = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<files>\n";
const QByteArray kEnd = "</files>\n";

QByteArray utf16(const QString& text) {
    QStringEncoder encoder(QStringConverter::Utf16LE);
    return encoder.encode(text);
}

/// What the stripper hands on of \a text given in \a pieces (their lengths; the rest comes last).
QByteArray stripped(const QByteArray& text, const QList<qsizetype>& pieces) {
    QByteArray out;
    ByteArraySink sink(out);
    PrologStripper stripper(sink);
    qsizetype at = 0;
    for (const qsizetype length : pieces) {
        stripper.write(QByteArrayView(text).sliced(at, length));
        at += length;
    }
    stripper.write(QByteArrayView(text).sliced(at));
    stripper.finish();
    return out;
}

/// The names of the element children of the root of \a xml, or "not well-formed".
QStringList rootAndChildren(const QByteArray& xml) {
    const XmlDocument doc(xmlReadMemory(xml.constData(), int(xml.size()), nullptr, nullptr,
                                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const xmlNode* root = rootElement(doc.get());
    if (!root)
        return {QStringLiteral("not well-formed")};
    QStringList names{QString::fromUtf8(reinterpret_cast<const char*>(root->name))};
    for (const xmlNode* child = root->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            names << QString::fromUtf8(reinterpret_cast<const char*>(child->name));
    return names;
}

/// The text directly inside the root of \a xml (a document libxml2 parses), outside its element children.
QString textBetweenRoots(const QByteArray& xml) {
    const XmlDocument doc(xmlReadMemory(xml.constData(), int(xml.size()), nullptr, nullptr,
                                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    const xmlNode* root = rootElement(doc.get());
    QString text;
    for (const xmlNode* child = root ? root->children : nullptr; child; child = child->next)
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
            text += QString::fromUtf8(reinterpret_cast<const char*>(child->content));
    return text;
}

} // namespace

class TestWrap : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    void wrappedInputKeepsItsDocumentWithoutTheProlog_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QString>("root"); // empty when the input is no document
        QTest::newRow("no declaration") << QByteArray("<a x='1'>t</a>") << QByteArray("<a x='1'>t</a>") << "a";
        QTest::newRow("declaration and its line break")
            << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>\n") << QByteArray("<a/>\n") << "a";
        QTest::newRow("declaration and CR LF")
            << QByteArray("<?xml version='1.0'?>\r\n<a/>") << QByteArray("<a/>") << "a";
        QTest::newRow("declaration without line break")
            << QByteArray("<?xml version='1.0'?><a/>") << QByteArray("<a/>") << "a";
        QTest::newRow("only one line break goes")
            << QByteArray("<?xml version='1.0'?>\n\n<a/>") << QByteArray("\n<a/>") << "a";
        QTest::newRow("byte order mark and declaration")
            << QByteArray("\xef\xbb\xbf<?xml version=\"1.0\"?>\n<a>\xc3\xa9</a>") << QByteArray("<a>\xc3\xa9</a>")
            << "a";
        QTest::newRow("byte order mark alone") << QByteArray("\xef\xbb\xbf<a/>") << QByteArray("<a/>") << "a";
        QTest::newRow("utf-16 with a declaration naming utf-16")
            << utf16(QStringLiteral("\ufeff<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>\u20ac</a>"))
            << QByteArray("<a>\xe2\x82\xac</a>") << "a";
        QTest::newRow("document type with an internal subset over lines")
            << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE a [\n  <!ELEMENT a (#PCDATA)>\n"
                          "  <!ATTLIST a b CDATA \"x>y]\">\n  <!-- ]> -->\n  <?pi ]>?>\n]>\n<a/>\n")
            << QByteArray("<a/>\n") << "a";
        QTest::newRow("document type without subset")
            << QByteArray("<!DOCTYPE a SYSTEM \"a[1].dtd\">\r\n<a/>") << QByteArray("<a/>") << "a";
        QTest::newRow("white space, comments and instructions before the root stay")
            << QByteArray("<?xml version=\"1.0\"?>\n\n<!-- <!DOCTYPE no> -->\n<!DOCTYPE a>\n<?style x?>\n  <a/>")
            << QByteArray("\n<!-- <!DOCTYPE no> -->\n<?style x?>\n  <a/>") << "a";
        QTest::newRow("declaration-like text later stays")
            << QByteArray("<a><!-- <?xml version=\"1.0\"?> --><![CDATA[<?xml version=\"1.0\"?><!DOCTYPE b>]]></a>")
            << QByteArray("<a><!-- <?xml version=\"1.0\"?> --><![CDATA[<?xml version=\"1.0\"?><!DOCTYPE b>]]></a>")
            << "a";
        QTest::newRow("instruction whose name begins with xml stays")
            << QByteArray("<?xml-stylesheet href=\"s.css\"?>\n<a/>")
            << QByteArray("<?xml-stylesheet href=\"s.css\"?>\n<a/>") << "a";
        QTest::newRow("leading white space and a comment before the root stay")
            << QByteArray("\n  <!-- first -->\r\n<a/>") << QByteArray("\n  <!-- first -->\r\n<a/>") << "a";
        QTest::newRow("declaration after leading white space")
            << QByteArray("\n  <?xml version='1.0'?><a/>") << QByteArray("\n  <a/>") << "a";
        QTest::newRow("declaration after white space, with its CR LF")
            << QByteArray(" \t\r\n<?xml\tversion=\"1.0\"?>\r\n<a/>") << QByteArray(" \t\r\n<a/>") << "a";
        QTest::newRow("byte order mark, white space, declaration")
            << QByteArray("\xef\xbb\xbf\n<?xml version=\"1.0\"?>\n<!DOCTYPE a>\n<a/>") << QByteArray("\n<a/>") << "a";
        QTest::newRow("utf-16 little-endian, white space, declaration")
            << utf16(QStringLiteral("\ufeff\r\n <?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>\u20ac</a>"))
            << QByteArray("\r\n <a>\xe2\x82\xac</a>") << "a";
        QTest::newRow("utf-16 big-endian, white space, declaration")
            << QByteArray(QStringEncoder(QStringConverter::Utf16BE)(
                   QStringLiteral("\ufeff\n<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>\u00e9</a>")))
            << QByteArray("\n<a>\xc3\xa9</a>") << "a";
        QTest::newRow("declaration after a comment and a second declaration")
            << QByteArray("<?xml version='1.0'?>\n<!-- c -->\n<?xml version='1.0'?>\n<?xml version='1.0'?><a/>")
            << QByteArray("<!-- c -->\n<a/>") << "a";
        QTest::newRow("instructions that are no declaration stay")
            << QByteArray(" <?xm?><?xmlns x?><?xml-model href='m'?><a/>")
            << QByteArray(" <?xm?><?xmlns x?><?xml-model href='m'?><a/>") << QString();
        QTest::newRow("no xml at all") << QByteArray("plain text") << QByteArray("plain text") << QString();
        QTest::newRow("short") << QByteArray("<a/>") << QByteArray("<a/>") << "a";
    }

    void wrappedInputKeepsItsDocumentWithoutTheProlog() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, kept);
        QFETCH(QString, root);
        const QString path = m_folders.filePath("in.xml");
        writeFile(path, input);

        // The text arrives in blocks of any size: cut anywhere, and byte by byte, it gives the same.
        const QByteArray text = readTextFileEncoded(path);
        for (qsizetype cut = 0; cut <= text.size(); ++cut)
            QVERIFY2(stripped(text, {cut}) == kept, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        QCOMPARE(stripped(text, QList<qsizetype>(text.size(), 1)), kept);

        RecordingHost host({path}, true);
        host.wrapRoot = QStringLiteral("files");
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
        const QByteArray result = host.resultsText.toUtf8();
        QCOMPARE(result, kStart + kept + "\n" + kEnd);
        if (!root.isEmpty())
            QCOMPARE(rootAndChildren(result), (QStringList{"files", root}));
    }

    void missingAndEmptyInputsAddNothingAndMissingOnesAreTold() {
        const QString a = m_folders.filePath("a.xml"), empty = m_folders.filePath("empty.xml");
        const QString b = m_folders.filePath("b.xml");
        writeFile(a, "<?xml version=\"1.0\"?>\n<a>1</a>\n");
        writeFile(empty, "");
        writeFile(b, "<b>2</b>");
        RecordingHost host({a, m_folders.filePath("missing.xml"), empty, b}, true);
        host.wrapRoot = QStringLiteral("files");
        joinFiles(host);
        QCOMPARE(host.reports().size(), 1);
        QVERIFY(host.reports()[0].startsWith(QStringLiteral("No such file or directory\r\n")));
        QCOMPARE(host.resultsText.toUtf8(), kStart + "<a>1</a>\n\n<b>2</b>\n" + kEnd);
        QCOMPARE(rootAndChildren(host.resultsText.toUtf8()), (QStringList{"files", "a", "b"}));

        RecordingHost none({m_folders.filePath("missing.xml")}, true);
        none.wrapRoot = QStringLiteral("r");
        joinFiles(none);
        QCOMPARE(none.reports().size(), 1);
        QCOMPARE(none.resultsText, QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n</r>\n"));
    }

    // Inputs of many blocks and of a few bytes, side by side: every byte of each arrives once and in order.
    void largeAndSmallInputsKeepEveryByteInOrder() {
        QByteArray body;
        for (int i = 0; body.size() < qsizetype{700} * 1024; ++i)
            body += "<n i=\"" + QByteArray::number(i) + "\">caf\xc3\xa9</n>\n";
        const QString large = m_folders.filePath("large.xml"), small = m_folders.filePath("small.xml");
        writeFile(large, "<?xml version=\"1.0\"?>\n<!-- big -->\n<big>" + body + "</big>\n");
        writeFile(small, "<s/>");
        RecordingHost host({small, large, small}, true);
        host.wrapRoot = QStringLiteral("files");
        joinFiles(host);
        QCOMPARE(host.messages(), QStringList());
        QVERIFY(host.resultsText.toUtf8() == kStart + "<s/>\n<!-- big -->\n<big>" + body + "</big>\n\n<s/>\n" + kEnd);
    }

    void droppedEntityDeclarationsAreToldAndTheResultStillMade() {
        const QString entities = m_folders.filePath("entities.xml"), plain = m_folders.filePath("plain.xml");
        writeFile(entities, "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n  <!ENTITY co \"Corvanta\">\n]>\n<r>&co;</r>\n");
        writeFile(plain, "<!DOCTYPE p [<!ELEMENT p EMPTY>]><p/>");
        RecordingHost host({entities, plain}, true);
        host.wrapRoot = QStringLiteral("files");
        joinFiles(host);
        QCOMPARE(host.messages(),
                 QStringList{QStringLiteral("warning:The document type declaration of %1 declares entities. Wrapping "
                                            "leaves the declaration out, so references to them in the joined "
                                            "document are undefined.")
                                 .arg(entities)});
        QVERIFY(host.handedOff());
        QCOMPARE(host.resultsText.toUtf8(), kStart + "<r>&co;</r>\n\n<p/>\n" + kEnd);
    }

    // Seeded random documents with every kind of prolog (a declaration after white space too), in UTF-8 with or without
    // a byte order mark and in UTF-16: wrapped together, they always make one document whose root holds their roots in
    // order.
    void wrappedRandomDocumentsAreOneWellFormedDocument() {
        static const QList<QString> declarations = {
            QString(), QStringLiteral("<?xml version=\"1.0\"?>\n"),
            QStringLiteral("<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\r\n"),
            QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"),
            QStringLiteral("\n  <?xml version=\"1.0\"?>\n")};
        static const QList<QString> misc = {QStringLiteral("\n"),
                                            QStringLiteral("  "),
                                            QStringLiteral("<!-- a comment with <?xml version=\"1.0\"?> -->"),
                                            QStringLiteral("<!---->"),
                                            QStringLiteral("<?style href=\"a>b\"?>"),
                                            QStringLiteral("<?xml-stylesheet href=\"s.css\"?>")};
        static const QList<QString> doctypes = {
            QStringLiteral("<!DOCTYPE %1>"), QStringLiteral("<!DOCTYPE %1 SYSTEM \"x>y.dtd\">\n"),
            QStringLiteral("<!DOCTYPE %1 [\n  <!ELEMENT %1 ANY>\n  <!ATTLIST %1 a CDATA \"]>\">\n"
                           "  <!-- ]> --><?pi ]> ?>\n]>\r\n"),
            QStringLiteral("<!DOCTYPE %1 PUBLIC '-//x//y' 'z' [<!NOTATION n SYSTEM 'n'>]>")};
        static const QList<QString> bodies = {QStringLiteral("text"),
                                              QStringLiteral("<c/>"),
                                              QStringLiteral("caf\u00e9 \U0001F600"),
                                              QStringLiteral("<![CDATA[<?xml version=\"1.0\"?><!DOCTYPE x>]]>"),
                                              QStringLiteral("<!-- <!DOCTYPE y [ <!ENTITY e 'x'> ]> -->"),
                                              QStringLiteral("&amp;&lt;&#233;")};
        QRandomGenerator random(17); // fixed: a failure can be replayed
        for (int round = 0; round < 60; ++round) {
            QStringList paths;
            QStringList roots{QStringLiteral("files")};
            for (int n = 1 + random.bounded(4); n > 0; --n) {
                const QString root = QStringLiteral("r%1").arg(random.bounded(100));
                QString text = declarations[random.bounded(declarations.size())];
                for (int m = random.bounded(3); m > 0; --m)
                    text += misc[random.bounded(misc.size())];
                if (random.bounded(2))
                    text += doctypes[random.bounded(doctypes.size())].arg(root);
                for (int m = random.bounded(3); m > 0; --m)
                    text += misc[random.bounded(misc.size())];
                text += QStringLiteral("<%1 a=\"1\">").arg(root);
                for (int m = random.bounded(4); m > 0; --m)
                    text += bodies[random.bounded(bodies.size())];
                text += QStringLiteral("</%1>").arg(root);
                for (int m = random.bounded(2); m > 0; --m)
                    text += misc[random.bounded(misc.size())];
                QByteArray bytes;
                switch (random.bounded(3)) {
                case 0:
                    bytes = text.toUtf8();
                    break;
                case 1:
                    bytes = "\xef\xbb\xbf" + text.toUtf8();
                    break;
                default:
                    bytes = utf16(QChar(0xFEFF) + text);
                    break;
                }
                paths += m_folders.filePath(QStringLiteral("in%1.xml").arg(paths.size()));
                writeFile(paths.last(), bytes);
                roots += root;
            }
            RecordingHost host(paths, true);
            host.wrapRoot = QStringLiteral("files");
            joinFiles(host);
            const QByteArray result = host.resultsText.toUtf8();
            QVERIFY2(host.messages().isEmpty(), qPrintable(host.messages().join('\n')));
            QVERIFY2(rootAndChildren(result) == roots, result.constData());
            QVERIFY2(textBetweenRoots(result).trimmed().isEmpty(), result.constData()); // no prolog left over
        }
    }

    void rootNamesAreXmlNamesWithoutColon() {
        for (const char* name : {"files", "_x", "a-b.c", "\xc3\xa9t\xc3\xa9"})
            QVERIFY2(isWrapRootName(QString::fromUtf8(name)), name);
        for (const char* name : {"", "1a", "a:b", "a b", "-a", "<a>", "a&b"})
            QVERIFY2(!isWrapRootName(QString::fromUtf8(name)), name);
    }

private:
    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestWrap)
#include "tst_wrap.moc"
