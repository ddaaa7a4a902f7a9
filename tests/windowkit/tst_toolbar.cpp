#include "windowkit/windowkit.h"

#include <QAction>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

using namespace corvanta;

class TestToolBar : public QObject {
    Q_OBJECT

private slots:
    // Both windows find their buttons by these names and rely on a click running exactly the button's command.
    void eachButtonRunsItsCommandAndCarriesItsNames() {
        QWidget window;
        QList<int> run;
        const auto action = [&](const QString& caption, const QString& icon, int id) {
            auto* made = new QAction(QIcon(icon), caption, &window);
            connect(made, &QAction::triggered, [&run, id] { run << id; });
            return made;
        };
        QToolBar* bar = buildStandardToolBar(
            &window,
            {{action(QStringLiteral("First"), QStringLiteral(":/icons/back.png"), 7), QStringLiteral("first"), 100},
             {action(QStringLiteral("Second wide"), QStringLiteral(":/no/such.png"), 3), QStringLiteral("second"),
              180}});
        bar->setGeometry(0, 0, 400, bar->sizeHint().height());
        window.resize(400, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(bar->parent(), &window);
        QCOMPARE(bar->objectName(), QStringLiteral("Standard"));
        QVERIFY(!bar->isMovable());
        QVERIFY(!bar->isFloatable());
        QCOMPARE(bar->font(), barFont());
        auto* second = window.findChild<QToolButton*>(QStringLiteral("secondButton"));
        auto* first = window.findChild<QToolButton*>(QStringLiteral("firstButton"));
        QVERIFY(first && second);
        QCOMPARE(bar->widgetForAction(window.findChild<QAction*>(QStringLiteral("firstAction"))), first);
        QCOMPARE(bar->widgetForAction(window.findChild<QAction*>(QStringLiteral("secondAction"))), second);
        QCOMPARE(first->width(), 100);
        QCOMPARE(second->width(), 180);
        QCOMPARE(second->text(), QStringLiteral("Second wide"));

        QTest::mouseClick(second, Qt::LeftButton);
        QTest::mouseClick(first, Qt::LeftButton);
        QTest::mouseClick(second, Qt::LeftButton);
        QCOMPARE(run, (QList<int>{3, 7, 3}));
    }

    void controlFontIsTheBoldLargerCalibri() {
        QCOMPARE(controlFont().family(), QStringLiteral("Calibri"));
        QCOMPARE(controlFont().pointSizeF(), 11.25);
        QVERIFY(controlFont().bold());
        QCOMPARE(barFont().family(), QStringLiteral("Calibri"));
        QCOMPARE(barFont().pointSizeF(), 11.0);
        QVERIFY(!barFont().bold());
    }
};

QTEST_MAIN(TestToolBar)
#include "tst_toolbar.moc"
