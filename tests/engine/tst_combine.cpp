#include "engine/join/combinemode.h"
#include "engine/report/joinreport.h"
#include "engine/xml/combineddocument.h"
#include "engine/xml/recordednode.h"
#include "engine/xml/rootchildrenreader.h"
#include "engine/xml/xmlparser.h"
#include "tests/support/combinedtexts.h"
#include "tests/support/recordinghost.h"
#include "tests/support/testfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace corvanta;

namespace {

struct CombineResult {
    MergeOutcome outcome = MergeOutcome::NotSaved;
    QStringList messages;
    QByteArray output;
    bool written = false;
    QByteArray report;
};

} // namespace

class TestCombine : public QObject {
    Q_OBJECT

private slots:
    void init() { m_folders.renew(); }

    // Exact texts: the result is what sitemap and test-report readers get, indentation included.
    void combinesTopLevelNodes_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<bool>("unique");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QByteArray>("report");

        const QByteArray sitemap = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n";
        QTest::newRow("two sitemaps of 2 and 1 url")
            << QByteArrayList{sitemap + "  <url><loc>https://e.org/a</loc></url>\n"
                                        "  <url><loc>https://e.org/b</loc></url>\n</urlset>\n",
                              sitemap + "<url><loc>https://e.org/c</loc><priority>0.5</priority></url></urlset>"}
            << false
            << sitemap + "  <url>\n    <loc>https://e.org/a</loc>\n  </url>\n"
                         "  <url>\n    <loc>https://e.org/b</loc>\n  </url>\n"
                         "  <url>\n    <loc>https://e.org/c</loc>\n    <priority>0.5</priority>\n  </url>\n"
                         "</urlset>\n"
            << QByteArray("[{base},{added:1}]");
        QTest::newRow("JUnit reports keep every test case")
            << QByteArrayList{"<testsuites name=\"unit\"><testsuite name=\"a\" tests=\"1\"><testcase name=\"t1\"/>"
                              "</testsuite></testsuites>",
                              "<testsuites><testsuite name=\"b\" tests=\"1\"><testcase name=\"t2\"><failure "
                              "message=\"boom\"/></testcase></testsuite></testsuites>"}
            << false
            << QByteArray("<testsuites name=\"unit\">\n  <testsuite name=\"a\" tests=\"1\">\n"
                          "    <testcase name=\"t1\"/>\n  </testsuite>\n  <testsuite name=\"b\" tests=\"1\">\n"
                          "    <testcase name=\"t2\">\n      <failure message=\"boom\"/>\n    </testcase>\n"
                          "  </testsuite>\n</testsuites>\n")
            << QByteArray("[{base},{added:1}]");
        QTest::newRow("order exports of 3, 1 and 2 records")
            << QByteArrayList{"<orders><order id=\"1\"/><order id=\"2\"/><order id=\"3\"/></orders>",
                              "<orders><order id=\"4\"/></orders>",
                              "<orders><order id=\"5\"/><order id=\"6\"/></orders>"}
            << false
            << QByteArray("<orders>\n  <order id=\"1\"/>\n  <order id=\"2\"/>\n  <order id=\"3\"/>\n"
                          "  <order id=\"4\"/>\n  <order id=\"5\"/>\n  <order id=\"6\"/>\n</orders>\n")
            << QByteArray("[{base},{added:1},{added:2}]");
        QTest::newRow("comments and PIs are carried, blank text is not")
            << QByteArrayList{"<!--head--><r><a/></r><!--tail-->", "<r>\n  <!-- note -->\n  <?app go?>\n  <b/>\n</r>"}
            << false
            << QByteArray("<!--head-->\n<r>\n  <a/>\n  <!-- note -->\n  <?app go?>\n  <b/>\n</r>\n<!--tail-->\n")
            << QByteArray("[{base},{added:3}]");
        QTest::newRow("later text turns indentation off, also of what is there")
            << QByteArrayList{"<r><a/></r>", "<r>t &amp; u<![CDATA[<x>]]><b/></r>"} << false
            << QByteArray("<r><a/>t &amp; u<![CDATA[<x>]]><b/></r>\n") << QByteArray("[{base},{added:3}]");
        QTest::newRow("the first document's mixed root is kept as it is")
            << QByteArrayList{"<r>t<a/> <b/>u</r>", "<r><c/></r>"} << false << QByteArray("<r>t<a/> <b/>u<c/></r>\n")
            << QByteArray("[{base},{added:1}]");
        QTest::newRow("the first document's preserved blanks stay, later ones do not")
            << QByteArrayList{"<r xml:space=\"preserve\"> <a/> </r>", "<r xml:space=\"preserve\"> <b/> </r>"} << false
            << QByteArray("<r xml:space=\"preserve\"> <a/> <b/></r>\n") << QByteArray("[{base},{added:1}]");
        QTest::newRow("a default namespace the first root lacks")
            << QByteArrayList{"<s:list xmlns:s=\"urn:s\"><s:item/></s:list>",
                              "<list xmlns=\"urn:s\"><item><sub/></item></list>"}
            << false
            << QByteArray("<s:list xmlns:s=\"urn:s\">\n  <s:item/>\n  <item xmlns=\"urn:s\">\n    <sub/>\n  </item>\n"
                          "</s:list>\n")
            << QByteArray("[{base},{added:1}]");
        QTest::newRow("xml:space of the later root goes with its nodes")
            << QByteArrayList{"<r><a/></r>", "<r xml:space=\"preserve\"><b> x </b></r>"} << false
            << QByteArray("<r>\n  <a/>\n  <b xml:space=\"preserve\"> x </b>\n</r>\n")
            << QByteArray("[{base},{added:1}]");
        QTest::newRow("entities of a later internal subset become their text")
            << QByteArrayList{"<r><a/></r>", "<!DOCTYPE r SYSTEM \"unread.dtd\" [<!ENTITY co \"ACME &#38;amp; Co\">]>"
                                             "<r><b>&co;</b></r>"}
            << false << QByteArray("<r>\n  <a/>\n  <b>ACME &amp; Co</b>\n</r>\n") << QByteArray("[{base},{added:1}]");
        QTest::newRow("repeated records stay without the box")
            << QByteArrayList{"<r><x id=\"1\"/></r>", "<r><x id=\"1\"/><x id=\"2\"/><x id=\"2\"/></r>"} << false
            << QByteArray("<r>\n  <x id=\"1\"/>\n  <x id=\"1\"/>\n  <x id=\"2\"/>\n  <x id=\"2\"/>\n</r>\n")
            << QByteArray("[{base},{added:3}]");
        QTest::newRow("repeated records go with the box, the first document's stay")
            << QByteArrayList{"<r><x id=\"1\"/><x id=\"1\"/></r>", "<r><x id=\"1\"/><x id=\"2\"/><x id=\"2\"/></r>",
                              "<r>\n<x id=\"2\"/><!--c--><x id=\"3\"/></r>"}
            << true
            << QByteArray("<r>\n  <x id=\"1\"/>\n  <x id=\"1\"/>\n  <x id=\"2\"/>\n  <!--c-->\n  <x id=\"3\"/>\n</r>\n")
            << QByteArray("[{base},{added:1,repeated:2},{added:2,repeated:1}]");
        QTest::newRow("empty roots add nothing and take everything")
            << QByteArrayList{"<r/>", "<r></r>", "<r><a/></r>"} << false << QByteArray("<r>\n  <a/>\n</r>\n")
            << QByteArray("[{base},{added:0},{added:1}]");
        QTest::newRow("empty roots only")
            << QByteArrayList{"<r>\n</r>", "<r/>"} << false << QByteArray("<r/>\n") << QByteArray("[{base},{added:0}]");
        QTest::newRow("text after a first root without children")
            << QByteArrayList{"<r>\n</r>", "<r>t<b/></r>", "<r><c/></r>"} << false << QByteArray("<r>t<b/><c/></r>\n")
            << QByteArray("[{base},{added:2},{added:1}]");
    }

    void combinesTopLevelNodes() {
        QFETCH(QByteArrayList, inputs);
        QFETCH(bool, unique);
        QFETCH(QByteArray, expected);
        QFETCH(QByteArray, report);

        // Parsed ahead on the other threads and one by one on this thread, the result is the same.
        for (const int parseAhead : {0, 16}) {
            const CombineResult result = combine(m_folders.writeFiles(inputs), unique, parseAhead);
            QCOMPARE(result.messages, QStringList());
            QCOMPARE(result.outcome, MergeOutcome::Saved);
            QCOMPARE(result.output, expected);
            QCOMPARE(briefReport(result.report), report);
        }
    }

    // A later input read by Expat gives the result libxml2's tree gives, byte for byte; where Expat cannot tell
    // what libxml2 would, libxml2 reads it.
    void expatReadsWhatLibxml2Builds_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("later");
        QTest::addColumn<bool>("readByExpat");

        const QByteArray plain = "<r>\n  <a/>\n</r>";
        QTest::newRow("records with attributes and empty elements")
            << plain << QByteArray("<r><rec id='1' n=\"x\"><v>1</v><e></e><b>  \n </b></rec>\n<rec/></r>") << true;
        QTest::newRow("root text cut by carriage returns after a blank run")
            << plain << QByteArray("<r>\n  <a/>\n \r\r\rq:\r\r <b/>\n</r>") << true;
        QTest::newRow("CDATA sections with a blank between them")
            << plain << QByteArray("<r><![CDATA[e]]]]> <![CDATA[y]]>tail<a><![CDATA[i]]> <![CDATA[j]]>k</a></r>")
            << true;
        QTest::newRow("root text cut by carriage returns at the root's end")
            << plain << QByteArray("<r>\n  <a/>\n \r\r\r8\r\rq:\r\r</r>") << true;
        QTest::newRow("mixed content and blank text beside elements")
            << plain << QByteArray("<r><p>Hello <b>w</b> x<i> <j/> </i></p><q> <s/> <!--c--> </q></r>") << true;
        QTest::newRow("escapes in text and values")
            << plain
            << QByteArray("<r><t a='&lt;&amp;&gt;&quot;\"&#10;&#9;&#13;x\ty\r\nz'>a &lt; b &amp;&gt; \"q\" "
                          "&apos;&#13;\r\n&#x1F600;</t></r>")
            << true;
        QTest::newRow("characters beyond ASCII") << plain
                                                 << QByteArray("<r><t \xC3\xA9='\xE4\xB8\xAD'>\xF0\x9F\x98\x80"
                                                               "</t><\xC3\xA9/></r>")
                                                 << true;
        QTest::newRow("comments, instructions and CDATA, at the top and below")
            << plain
            << QByteArray("<r><!--top--><?pi?><?pi ?><?pi  some data ?><![CDATA[]]><e><!----><?x y?><![CDATA[a]]b]]>"
                          "<![CDATA[]]></e><![CDATA[ <x> "
                          "]]><![CDATA[y]]>tail<![CDATA[z]]><e><![CDATA[]]]]><![CDATA[>]]></e></r>")
            << true;
        QTest::newRow("text at the top turns indentation off")
            << plain << QByteArray("<r>\n  <a><b/></a>\n  some text\n  <c><d/></c>\n</r>") << true;
        QTest::newRow("deeper than the indentation goes")
            << plain
            << QByteArray("<r>" + QByteArray("<d>").repeated(40) + "<e/>" + QByteArray("</d>").repeated(40) + "</r>")
            << true;
        QTest::newRow("the same namespaces on both roots")
            << QByteArray("<r xmlns='urn:d' xmlns:p='urn:p'><a/></r>")
            << QByteArray("<r xmlns:p='urn:p' xmlns='urn:d'><a p:x='1'/><p:b xmlns:q='urn:q' q:y='2'/>"
                          "<c xmlns='urn:other'><d/></c><e xmlns=''/></r>")
            << true;
        QTest::newRow("a namespace name with a reference")
            << plain << QByteArray("<r><c xmlns='&#38;x'><d/></c></r>") << false;
        QTest::newRow("a namespace name that is no URI")
            << plain << QByteArray("<r><a xmlns:q='urn:&quot;&apos;'/></r>") << false;
        QTest::newRow("line ends and white space in values")
            << plain << QByteArray("<r>\r\n<a v='1\r\n2\n3\t4'>x\ry\r\nz</a>\r\n</r>") << true;
        QTest::newRow("only blank text under the root") << plain << QByteArray("<r>\n \t\n</r>") << true;
        QTest::newRow("an empty root") << plain << QByteArray("<r/>") << true;
        QTest::newRow("a declaration and nodes around the root")
            << plain << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><!--c--><r><a/></r><?pi?>") << true;
        QTest::newRow("a first document with all around its root")
            << QByteArray(
                   "<?xml version='1.0' standalone='yes'?>\n<!--before--><?pi  x ?>\n<r a='1&#10;&#9;&lt;&amp;\"' "
                   "xmlns:p='urn:p' p:b=\"'\"><p:x/><!--in--></r>\n<!--after--><?end?>")
            << QByteArray("<r><b/></r>") << true;
        QTest::newRow("an undeclared prefix under a default namespace the first root lacks")
            << QByteArray::fromBase64(
                   "PHVybHNldCB4bWxucz0iaHV1dXV1dXV1dXV1dXR0cDovL3d3dy5zaXRlbWFwcy5vcmcvc2NoZW1hcy9zaXRlbWFwLzAuOSI+"
                   "PHVybD48bG9jPmh0dHBzOi8vZXhhbXBsZS4geG0/OmJhc2U9Imh0dHA6Ly94LyJvcmcvPC9sb2M+PC91cmw+PC91cmxzZXQ+")
            << QByteArray::fromBase64(
                   "PHVybHNldCB4bWxucz0iaHR0cDovL3d3dy5zaXRlbWFwcy5vcmcvc2NoZW1hcy9zaXRlbWFwLzAuOSI+Cjx1cmw+"
                   "PGxvYz5odHRwczovL2V4YW1wbGUub3JnL2I8L2xvYz48bGFzdG1vZD4yMDI2LTAxLTAxPC9sYXN0bW9kPjwvdXJsPgptbj0idXJ"
                   "uOmQiIHhtbG5zOnA9InVybjpwIj4KICA8dG9wPgogICAgPHA6YSBwOng9IjEiPm9uZTwvcDphPgogIGlvbj0iMC4wIj8+"
                   "CjxyIHhsc21uPSJ1cm46ZCIgeG1sbnM6cD0idXJuOnAiPgogIDx0b3A+CiAgICA8cDphIHA6eD0iMSI+b25lPC9wOmE+"
                   "CiAgICA8YiB4bWxucz0iIj50d288L2I+CiAgPC90b3A+"
                   "CiAgPC9yPgogIDxiIHhtbG5zPSIiPnR3bzwvYj4KICA8L3RvcD4KCiAgICA8cDphIHA6eD0iMSI+b25lPC9wOmE+"
                   "CiAgaW9uPSIwLjAiPz4KPHIgeGxzbW49InVybjpkIiB4bWxuczpwPSJ1cm56cCI+"
                   "CiAgPHRvcD4KICAgIDxwOmEgcDp4PSJ1cm46ZCIgeG1sbnM6cD0idXJuOnAiPgogIDx0b3A+CiAgICA8cDphIHA6eD0iMSI+"
                   "b25lPC9wOmE+CiAgaW9uPSIwLjAiPz4KPHIgeGxzbW49InVybjpkIiB4bWxuczpwPSJ1cm46cCI+"
                   "CiAgPHRvcD4KICAgIDxwOmEgcDp4PSIxIj5vbmU8L3A6YT4KICAgIDxiIHhtbG5zPSIiPnR3bzwvYj4KICA8L3RvcD4KICA8L3I"
                   "+CiAgPGIgeG1sbnM9IiI+dHdvPC9iPgogIDwvdG9wPgoKICAgIDxwOmEgcDp4PSIxIj5vbmU8L3A6YT4KICBpb249IjAuMCI/"
                   "Pgo8ciB4bHNtbj0idXJuOmQiIHhtbG5zOnA9InVybnpwIj4KICA8dG9wPgogICAgPHA6YSBwOng9IjEiPm9ubW49InVybjpkIiB"
                   "4bWxuczpwPSJ1cmxuczpwPSJ1cm56cCI+"
                   "CiAgPHRvcD4KICAgIDxwOmEgcDp4PSJ1cm46ZCIgeG1sbnM6cD0idXJuOnAiPgogIDx0b3A+CiAgICA8cDphIHA6eD0iMSI+"
                   "b25lPC9wOmE+CiAgaW9uPSIwLjAiPz4KPHIgeGxzbW49InVybjpkIiB4bWxuczpwPSJ1cm46cCI+"
                   "CiAgPHRvcD4KICAgIDxwOmEgcDp4PSIxIj5vbmU8L3A6YT4KICAgIDxiIHhtbG5zPXR3bzwvIVsmbTtUQVt5XV0wPnRhaWI+"
                   "CjwgIDwvcj4vdG8gIDwvcj4KPmh0dHA6Ly/+/3cudzMub3JnLzIwMDwvdXJsc2V0Pg==")
            << false;
        const QString inUtf16 = QStringLiteral("\ufeff<r><a/></r>");
        QTest::newRow("a first document of UTF-16 bytes given as UTF-8")
            << QByteArray(reinterpret_cast<const char*>(inUtf16.utf16()), 2 * inUtf16.size())
            << QByteArray("<r><b/></r>") << false;
        QTest::newRow("a first document whose root holds text")
            << QByteArray("<r>\n  <a/>\n  text\n</r>") << QByteArray("<r><b/></r>") << true;

        QTest::newRow("a document type") << plain << QByteArray("<!DOCTYPE r [<!ENTITY e 'v'>]><r><a>&e;</a></r>")
                                         << false;
        QTest::newRow("xml:space") << plain << QByteArray("<r><a xml:space='preserve'> <b/> </a></r>") << false;
        QTest::newRow("a default namespace the first root lacks")
            << plain << QByteArray("<r xmlns='urn:d'><a/></r>") << false;
        QTest::newRow("no default namespace where the first root has one")
            << QByteArray("<r xmlns='urn:d'/>") << QByteArray("<d:r xmlns:d='urn:d'><a/></d:r>") << false;
        QTest::newRow("a prefix bound otherwise")
            << QByteArray("<r xmlns:p='urn:1'/>") << QByteArray("<r xmlns:p='urn:2'><p:a/></r>") << false;
        QTest::newRow("version 1.1") << plain << QByteArray("<?xml version='1.1'?><r><a/></r>") << false;
        QTest::newRow("not well-formed") << plain << QByteArray("<r><a></b></r>") << false;
        QTest::newRow("an undeclared prefix") << plain << QByteArray("<r><p:a/></r>") << false;
        QTest::newRow("an attribute twice by namespace")
            << plain << QByteArray("<r><a xmlns:p='urn:x' xmlns:q='urn:x' p:v='1' q:v='2'/></r>") << false;
        QTest::newRow("a colon in an instruction") << plain << QByteArray("<r><?a:b?></r>") << false;
        QTest::newRow("an empty prefixed namespace") << plain << QByteArray("<r><a xmlns:p=''/></r>") << false;
    }

    void expatReadsWhatLibxml2Builds() {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, later);
        QFETCH(bool, readByExpat);

        // Short pieces in one reused buffer, as a file is read: no view outlives its piece.
        const TextOpener pieces = [&]() -> TextPieces {
            return [rest = QByteArrayView(later), buffer = std::make_shared<QByteArray>()]() mutable {
                *buffer = rest.first(std::min<qsizetype>(rest.size(), 16)).toByteArray();
                rest = rest.sliced(buffer->size());
                return QByteArrayView(*buffer);
            };
        };
        {
            CombinedDocument combined(parseXml(first, QStringLiteral("first.xml")), nullptr, false);
            const std::shared_ptr<const CombineTarget> target = combined.target();
            RootChildrenWriter reader([&] { return target; }, later.size(), false);
            QCOMPARE(readRootChildren(pieces, QStringLiteral("later.xml"), {}, reader).has_value(), readByExpat);
        }
        const QString path = m_folders.filePath(QStringLiteral("combined.xml"));
        const CombinedTexts byExpat = combineTexts(first, pieces, later.size(), true, path);
        const CombinedTexts byLibxml2 = combineTexts(first, pieces, later.size(), false, path);
        QVERIFY(byExpat.sameRoot || !readByExpat);
        QCOMPARE(byExpat.errors, byLibxml2.errors);
        QCOMPARE(byExpat.result, byLibxml2.result);
    }

    // The result goes to its file while the inputs come: a file that fails meanwhile is told where the save is,
    // with the system's reason, and goes.
    void failingSaveIsReportedAt170() {
        const QByteArray big = "<r>" + QByteArray("<x>text</x>").repeated(100000) + "</r>";
        const QStringList paths = m_folders.writeFiles({big, "<r><y/></r>", big});
        for (const int parseAhead : {0, 16}) {
            CombineResult result;
            {
                const FileSizeLimit limit(qint64{64} * 1024);
                result = combine(paths, false, parseAhead);
            }
            QCOMPARE(result.messages, QStringList(QStringLiteral("report:%1: File too large at 170")
                                                      .arg(m_folders.filePath(QStringLiteral("work/working.xml")))));
            QVERIFY(!result.written);
        }
    }

    void stopsBeforeWritingAnything_data() {
        QTest::addColumn<QByteArrayList>("inputs");
        QTest::addColumn<QString>("message");

        QTest::newRow("root names differ") << QByteArrayList{"<urlset/>", "<urlset/>", "<sitemapindex/>"}
                                           << QStringLiteral("The root element of %1 is \"urlset\", but that of %3 is "
                                                             "\"sitemapindex\": files are combined only under the same "
                                                             "root element. Join aborted.");
        QTest::newRow("namespaces differ")
            << QByteArrayList{"<p:r xmlns:p=\"urn:a\"><x/></p:r>", "<r xmlns=\"urn:a\"/>", "<r xmlns=\"urn:b\"/>"}
            << QStringLiteral(
                   "The root element of %1 is \"r\" in namespace \"urn:a\", but that of %3 is \"r\" in "
                   "namespace \"urn:b\": files are combined only under the same root element. Join aborted.");
        QTest::newRow("no namespace against one")
            << QByteArrayList{"<r/>", "<r/>", "<r xmlns=\"urn:b\"><x/></r>"}
            << QStringLiteral("The root element of %1 is \"r\" in no namespace, but that of %3 is \"r\" in namespace "
                              "\"urn:b\": files are combined only under the same root element. Join aborted.");
        QTest::newRow("a later input that does not parse")
            << QByteArrayList{"<r/>", "<r><a/></r>", "<r><a></r>"}
            << QStringLiteral("Error reading %3\r\nerror:Opening and ending tag mismatch: a line 1 and r\r\nLine:1\r\n"
                              "position:11");
        QTest::newRow("a first input that does not parse")
            << QByteArrayList{"<r>", "<r/>", "<r/>"}
            << QStringLiteral("Error reading %1\r\nerror:Premature end of data in tag r line 1\r\nLine:1\r\n"
                              "position:4");
    }

    void stopsBeforeWritingAnything() {
        QFETCH(QByteArrayList, inputs);
        QFETCH(QString, message);

        const QStringList paths = m_folders.writeFiles(inputs);
        for (const int parseAhead : {0, 16}) {
            const CombineResult result = combine(paths, false, parseAhead);
            QCOMPARE(result.outcome, MergeOutcome::Stopped);
            QString expected = QStringLiteral("message:") + message;
            expected.replace(QLatin1String("%1"), paths.at(0)).replace(QLatin1String("%3"), paths.at(2));
            QCOMPARE(result.messages, QStringList{expected});
            QVERIFY(!result.written);
        }
    }

    // The streaming itself: once the target is known, a later input leaves no top-level node in its document.
    void laterInputsAreWrittenAsParsed_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("units");
        QTest::addColumn<int>("leftInTree");

        QTest::newRow("records") << QByteArray("<r>\n <a/>\n <b>x</b>\n</r>") << 2 << 0;
        QTest::newRow("nodes after the last element too") << QByteArray("<r><a/><!--c-->t</r>") << 3 << 0;
        QTest::newRow("a document type holds the tree")
            << QByteArray("<!DOCTYPE r SYSTEM \"x\" [<!ENTITY e \"v\">]><r><a/><b/></r>") << 0 << 2;
    }

    void laterInputsAreWrittenAsParsed() {
        QFETCH(QByteArray, input);
        QFETCH(int, units);
        QFETCH(int, leftInTree);

        ParsedXml first = parseXml("<r/>", QStringLiteral("first.xml"));
        CombinedDocument combined(std::move(first), nullptr, false);
        std::shared_ptr<const CombineTarget> target = combined.target();
        RootChildrenWriter writer([&] { return target; }, input.size(), false);
        const ParsedXml later = parseXml(input, QStringLiteral("later.xml"), {}, nullptr, &writer);
        QVERIFY(later.doc);
        int written = 0;
        for (; !writer.atEnd(); ++written)
            writer.moveNext(nullptr);
        QCOMPARE(written, units);
        QCOMPARE(int(childCount(rootElement(later.doc.get()))), leftInTree);
    }

    // Texts of megabytes go to files beside the working file and come back whole; the files go with the run.
    void largeInputsComeBackWhole_data() {
        QTest::addColumn<QList<int>>("records");
        QTest::newRow("small, beside memory") << QList<int>{10, 20};
        QTest::newRow("a later input beyond a writer's memory") << QList<int>{10, 40000};
        QTest::newRow("a result beyond the result's memory") << QList<int>{60000, 60000, 30000};
    }

    void largeInputsComeBackWhole() {
        QFETCH(QList<int>, records);
        QByteArrayList inputs;
        QByteArray expected = "<orders>\n";
        int id = 0;
        for (const int count : records) {
            QByteArray text = "<orders>";
            for (int i = 0; i < count; ++i, ++id) {
                const QByteArray record = "<order id=\"" + QByteArray::number(id) + "\"/>";
                text += record;
                expected += "  " + record + "\n";
            }
            inputs << text + "</orders>";
        }
        expected += "</orders>\n";
        for (const int parseAhead : {0, 16}) {
            const CombineResult result = combine(m_folders.writeFiles(inputs), false, parseAhead);
            QCOMPARE(result.outcome, MergeOutcome::Saved);
            QCOMPARE(result.output.size(), expected.size());
            QVERIFY(result.output == expected);
            QCOMPARE(QDir(m_folders.filePath(QStringLiteral("work"))).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"working.xml"});
        }
    }

    // Hundreds of inputs, bad ones first and scattered: keeping going gives, byte for byte, what the good ones alone
    // give, whether the inputs are parsed ahead or not, and names each one left out once, at the end.
    void keepGoingCombinesWhatTheGoodInputsAloneCombine_data() {
        // Kinds: 0 not well-formed, 1 another root name, 2 another root namespace, 3 unreadable, 4 missing. An
        // input of another root before the first usable one would be the base.
        QTest::addColumn<QList<int>>("badAt");
        QTest::addColumn<QList<int>>("kinds");
        // The good roots hold text and preserve white space, so the base is kept as written.
        QTest::addColumn<bool>("mixed");
        QTest::newRow("the first one bad") << QList<int>{0} << QList<int>{0} << false;
        QTest::newRow("the first ones bad, of every kind")
            << QList<int>{0, 1, 2, 3, 9, 10} << QList<int>{4, 0, 3, 0, 1, 2} << false;
        QTest::newRow("the first ones bad, the roots holding text")
            << QList<int>{0, 1, 2, 150} << QList<int>{3, 0, 4, 1} << true;
        QTest::newRow("scattered") << QList<int>{7, 100, 201, 250, 299} << QList<int>{0, 1, 2, 3, 4} << false;
        QTest::newRow("none bad") << QList<int>{} << QList<int>{} << true;
    }

    void keepGoingCombinesWhatTheGoodInputsAloneCombine() {
        QFETCH(QList<int>, badAt);
        QFETCH(QList<int>, kinds);
        QFETCH(bool, mixed);
        const QByteArrayList badTexts{"<r>\n  <t>", "<q>\n  <t/>\n</q>", "<r xmlns=\"urn:other\">\n  <t/>\n</r>"};
        QStringList all;
        QStringList good;
        for (int i = 0; i < 300; ++i) {
            const QString path = m_folders.filePath(QStringLiteral("in%1.xml").arg(i));
            const int kind = badAt.contains(i) ? kinds[badAt.indexOf(i)] : -1;
            const QByteArray n = QByteArray::number(i);
            if (kind < 0)
                writeFile(path, "<?xml version=\"1.0\"?>\n<!-- file " + n + " -->\n<r a=\"" + n + "\"" +
                                    (mixed ? " xml:space=\"preserve\"" : "") + ">\n\n  <!-- c -->\n  <t n=\"" + n +
                                    "\"><u/></t>\n" + (mixed ? "  words " + n + "\n" : QByteArray()) + "  <?pi " + n +
                                    "?>\n</r>\n");
            else if (kind == 3)
                QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), path)); // opens, but cannot be read
            else if (kind < 3)
                writeFile(path, badTexts[kind]);
            all << path;
            if (kind < 0)
                good << path;
        }
        const CombineResult expected = combine(good, false, 16);
        QCOMPARE(expected.outcome, MergeOutcome::Saved);
        for (const int parseAhead : {0, 16}) {
            const CombineResult result = combine(all, false, parseAhead, true);
            QCOMPARE(result.outcome, MergeOutcome::Saved);
            QVERIFY(result.output == expected.output);
            QCOMPARE(result.messages.size(), badAt.isEmpty() ? 0 : 1);
            if (!badAt.isEmpty())
                QVERIFY2(result.messages[0].contains(QStringLiteral("%1 could not be joined")
                                                         .arg(badAt.size() == 1
                                                                  ? QStringLiteral("1 file")
                                                                  : QStringLiteral("%1 files").arg(badAt.size()))),
                         qPrintable(result.messages[0]));
            const QJsonArray inputs = QJsonDocument::fromJson(result.report).object()["inputs"].toArray();
            QCOMPARE(inputs.size(), 300);
            int base = 0;
            while (badAt.contains(base))
                ++base;
            QCOMPARE(inputs[base].toObject()["role"].toString(), QStringLiteral("base"));
            for (const int at : badAt)
                QCOMPARE(inputs[at].toObject()["role"].toString(), QStringLiteral("skipped"));
        }
        // Without keeping going the first bad input stops the join.
        if (!badAt.isEmpty())
            QCOMPARE(combine(all, false, 16).outcome, MergeOutcome::Stopped);
    }

private:
    CombineResult combine(const QStringList& paths, bool unique, int parseAhead, bool keepGoing = false) const {
        RecordingHost host(paths);
        host.keepGoing = keepGoing;
        JoinReport report(JoinReport::Mode::Combine, unique);
        host.observer = &report;
        StepRunner steps([&](int step, const QString& description) {
            host.showErrorReport(QStringLiteral("%1 at %2").arg(description).arg(step));
        });
        QDir(m_folders.path()).mkpath(QStringLiteral("work"));
        const QString working = m_folders.filePath(QStringLiteral("work/working.xml"));
        QFile::remove(working);
        CombineResult result;
        result.outcome = runCombineMode(host, steps, working, unique, parseAhead);
        report.finish(result.outcome == MergeOutcome::Saved);
        result.messages = host.messages();
        result.written = QFile::exists(working);
        if (result.written)
            result.output = readFile(working);
        result.report = report.toJson();
        return result;
    }

    // The report's inputs in brief: "[{base},{added:1,repeated:2}]".
    static QByteArray briefReport(const QByteArray& json) {
        QByteArrayList inputs;
        for (const auto& value : QJsonDocument::fromJson(json).object().value("inputs").toArray()) {
            const QJsonObject input = value.toObject();
            if (input.value("role").toString() == QLatin1String("base")) {
                inputs << "{base}";
                continue;
            }
            QByteArray brief = "{added:" + QByteArray::number(input.value("added").toInteger());
            if (input.contains("repeated"))
                brief += ",repeated:" + QByteArray::number(input.value("repeated").toInteger());
            inputs << brief + "}";
        }
        return "[" + inputs.join(',') + "]";
    }

    TestFolders m_folders;
};

QTEST_GUILESS_MAIN(TestCombine)
#include "tst_combine.moc"
