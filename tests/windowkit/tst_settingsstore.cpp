#include "windowkit/settingsstore.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

using namespace corvanta;

class TestSettingsStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init() {
        QSettings raw(QStringLiteral("Tavrino"), QStringLiteral("Corvanta"));
        raw.clear();
        raw.sync();
    }

    void absentKeysReadAsTheirDefaults() {
        SettingsStore store;
        QCOMPARE(store.read(settings::AppendMode), false);
        QCOMPARE(store.read(settings::MergeMode), true);
        QCOMPARE(store.read(settings::SelectedTab), 0);
        QCOMPARE(store.read(settings::Extension), QStringLiteral("xml"));
    }

    void storedTextsConvert_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("asOption1");
        QTest::addColumn<bool>("asOption2");
        QTest::addColumn<int>("asTab");
        QTest::newRow("one") << "1" << true << true << 1;
        QTest::newRow("zero") << "0" << false << false << 0;
        QTest::newRow("other number is true") << "2" << true << true << 2;
        QTest::newRow("negative number is true") << "-1" << true << true << -1;
        QTest::newRow("decimal zero") << "0.0" << false << false << 0;
        QTest::newRow("decimal rounds") << "1.4" << true << true << 1;
        QTest::newRow("blanks around a number") << " 1 " << true << true << 1;
        QTest::newRow("word reads as default") << "Options" << false << true << 0;
        QTest::newRow("empty reads as default") << "" << false << true << 0;
        QTest::newRow("number with trailing text reads as default") << "1x" << false << true << 0;
        QTest::newRow("out of range reads as default") << "1e30" << true << true << 0;
        QTest::newRow("not finite reads as default") << "nan" << false << true << 0;
    }

    void storedTextsConvert() {
        QFETCH(QString, stored);
        QFETCH(bool, asOption1);
        QFETCH(bool, asOption2);
        QFETCH(int, asTab);
        QSettings raw(QStringLiteral("Tavrino"), QStringLiteral("Corvanta"));
        for (const char* key : {"Option1", "Option2", "TabControl1"})
            raw.setValue(QLatin1String(key), stored);
        raw.sync();

        SettingsStore store;
        QCOMPARE(store.read(settings::AppendMode), asOption1);
        QCOMPARE(store.read(settings::MergeMode), asOption2);
        QCOMPARE(store.read(settings::SelectedTab), asTab);
    }

    void writesAreTextsOnDiskAtOnce() {
        SettingsStore store;
        store.write(settings::MergeMode, false);
        store.write(settings::AppendMode, true);
        store.write(settings::SelectedTab, 1);
        store.write(settings::Extension, QStringLiteral("xml"));

        const QString file = QSettings(QStringLiteral("Tavrino"), QStringLiteral("Corvanta")).fileName();
        QVERIFY(file.endsWith(QStringLiteral("Tavrino/Corvanta.conf")));
        QFile conf(file);
        QVERIFY(conf.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = conf.readAll().split('\n');
        for (const char* line : {"[General]", "Option1=1", "Option2=0", "TabControl1=1", "Extension=xml"})
            QVERIFY2(lines.contains(line), line);
    }
};

QTEST_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
