#include "engine/text/jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

using namespace corvanta;

class TestJsonText : public QObject {
    Q_OBJECT

private slots:
    void nestsAndSeparatesValues() {
        JsonText json;
        json.beginObject().key("a").number(-3).key("b").beginArray();
        json.boolean(true).boolean(false).beginObject().endObject().beginArray().endArray().string("x");
        json.endArray().key("c").string(u"y").endObject();
        QCOMPARE(json.text(), QByteArray("{\"a\":-3,\"b\":[true,false,{},[],\"x\"],\"c\":\"y\"}"));
    }

    // Whatever a string holds, Qt's parser reads back the same text, and Qt's writer would have written the same
    // bytes: the check's JSON was first written by Qt.
    void stringsSurviveTheRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("quotes and backslashes") << QStringLiteral("C:\\dir\\\"quoted\" \\\\ end\\");
        QTest::newRow("control characters") << QStringLiteral("tab\there\r\nnull\u0001\u001f\u007f\b\f");
        QTest::newRow("non-ASCII") << QStringLiteral("caf\u00e9 \u6f22\u5b57 \U0001F600 \u2028");
        QTest::newRow("empty") << QString();
        QString random;
        QRandomGenerator generator(7);
        for (int i = 0; i < 2000; ++i)
            random.append(QChar(char16_t(generator.bounded(1, 0xD800))));
        QTest::newRow("random characters") << random;
    }

    void stringsSurviveTheRoundTrip() {
        QFETCH(QString, text);
        JsonText json;
        json.beginArray().string(text).string(text.toStdString()).endArray();
        QJsonParseError error;
        const QJsonArray array = QJsonDocument::fromJson(json.text(), &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(array, (QJsonArray{text, text}));
        QCOMPARE(json.text(), QJsonDocument(QJsonArray{text, text}).toJson(QJsonDocument::Compact));
    }

    void loneSurrogateBecomesReplacement() {
        JsonText json;
        json.beginArray().string(QString(QChar(0xD800))).endArray();
        QCOMPARE(json.text(), QByteArray("[\"\xef\xbf\xbd\"]"));
    }

    // Byte for byte what QJsonDocument::Indented writes (members given in Qt's order, by name), empty and nested
    // containers included.
    void indentedLayoutIsQtsIndentedLayout() {
        JsonText json(JsonText::Layout::Indented);
        json.beginObject().key("empty list").beginArray().endArray().key("empty object").beginObject().endObject();
        json.key("inputs").beginArray();
        json.beginObject().key("column").number(12).key("path").string(u"caf\u00e9\t\"x\".xml").endObject();
        json.beginArray().beginArray().endArray().number(-1).beginObject().key("k").boolean(false).endObject();
        json.endArray().string("last").endArray();
        json.key("mergeable").boolean(true).endObject();

        const QJsonObject same{
            {"empty list", QJsonArray()},
            {"empty object", QJsonObject()},
            {"inputs", QJsonArray{QJsonObject{{"column", 12}, {"path", QStringLiteral("caf\u00e9\t\"x\".xml")}},
                                  QJsonArray{QJsonArray(), -1, QJsonObject{{"k", false}}}, "last"}},
            {"mergeable", true}};
        QCOMPARE(json.text() + '\n', QJsonDocument(same).toJson(QJsonDocument::Indented));

        JsonText empty(JsonText::Layout::Indented);
        empty.beginObject().endObject();
        QCOMPARE(empty.text() + '\n', QJsonDocument(QJsonObject()).toJson(QJsonDocument::Indented));
    }
};

QTEST_GUILESS_MAIN(TestJsonText)
#include "tst_jsontext.moc"
