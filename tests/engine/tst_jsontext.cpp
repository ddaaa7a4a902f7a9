#include "jsontext.h"

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

    // Whatever a string holds, Qt's parser reads back the same text.
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
    }

    void loneSurrogateBecomesReplacement() {
        JsonText json;
        json.beginArray().string(QString(QChar(0xD800))).endArray();
        QCOMPARE(json.text(), QByteArray("[\"\xef\xbf\xbd\"]"));
    }

    void qtJsonValuesAreWrittenAlike() {
        const QJsonObject object{{"n", 12},
                                 {"big", qint64(1) << 50},
                                 {"half", 0.5},
                                 {"s", "t\"u"},
                                 {"list", QJsonArray{1, "two", QJsonValue()}},
                                 {"yes", true}};
        JsonText json;
        json.json(object);
        QCOMPARE(QJsonDocument::fromJson(json.text()).object(), object);
    }
};

QTEST_GUILESS_MAIN(TestJsonText)
#include "tst_jsontext.moc"
