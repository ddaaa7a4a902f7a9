#include "results/findbar.h"
#include "results/resultsview.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <memory>

using namespace corvanta;

namespace {

// "Beta" at 6, 17 and 28.
const QString kText = QStringLiteral("alpha Beta gamma BETA delta beta end");

} // namespace

class TestFindBar : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_window = std::make_unique<QWidget>();
        m_window->setFixedSize(400, 330);
        m_view = new ResultsView(m_window.get());
        m_view->setGeometry(10, 50, 380, 270);
        m_view->setText(kText);
        m_bar = new FindBar(m_view, m_window.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_view->setFocus();
        QTRY_VERIFY(m_view->hasFocus());
    }

    void cleanup() { m_window.reset(); }

    void ctrlFOpensTheFieldInTheTextsPlaceAndEscapeClosesIt() {
        const QRect textPlace = m_view->geometry();

        QTest::keyClick(m_view, Qt::Key_F, Qt::ControlModifier);

        QVERIFY(m_bar->isVisible());
        QCOMPARE(m_window->size(), QSize(400, 330));
        QCOMPARE(m_view->geometry().top(), textPlace.top());
        QCOMPARE(m_bar->geometry().bottom(), textPlace.bottom());
        QCOMPARE(m_bar->geometry().top(), m_view->geometry().bottom() + 1);
        QCOMPARE(m_bar->width(), textPlace.width());
        QTRY_VERIFY(field()->hasFocus());

        QTest::keyClick(field(), Qt::Key_Escape);

        QVERIFY(!m_bar->isVisible());
        QCOMPARE(m_view->geometry(), textPlace);
        QTRY_VERIFY(m_view->hasFocus());
    }

    void enterAndF3FindForwardsAndWrap() {
        openWith(QStringLiteral("beta"));
        QList<qsizetype> found;
        QStringList statuses;
        const auto step = [&](Qt::Key key) {
            QTest::keyClick(field(), key);
            QCOMPARE(m_view->selectedText().toLower(), QStringLiteral("beta"));
            found << m_view->selectionStart();
            statuses << status();
        };

        step(Qt::Key_Return);
        step(Qt::Key_Return);
        step(Qt::Key_F3);
        step(Qt::Key_F3);

        QCOMPARE(found, (QList<qsizetype>{6, 17, 28, 6}));
        QCOMPARE(statuses.mid(0, 3), (QStringList{QString(), QString(), QString()}));
        QCOMPARE(statuses.at(3), QStringLiteral("Reached the end, continued from the top"));
        // The field tells a screen reader the same.
        QCOMPARE(field()->accessibleDescription(), statuses.at(3));
    }

    void shiftF3FindsBackwardsAndWraps() {
        openWith(QStringLiteral("beta"));
        QTest::keyClick(field(), Qt::Key_Return);
        QCOMPARE(m_view->selectionStart(), 6);

        QTest::keyClick(field(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(m_view->selectionStart(), 28);
        QCOMPARE(status(), QStringLiteral("Reached the top, continued from the end"));

        QTest::keyClick(field(), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(m_view->selectionStart(), 17);
        QCOMPARE(status(), QString());
    }

    void missingTextIsReportedAndTheSelectionKept() {
        m_view->setSelection(6, 4);
        openWith(QStringLiteral("zeta"));

        QTest::keyClick(field(), Qt::Key_Return);

        QCOMPARE(status(), QStringLiteral("Not found"));
        QCOMPARE(field()->accessibleDescription(), QStringLiteral("Not found"));
        QCOMPARE(m_view->selectionStart(), 6);
        QCOMPARE(m_view->selectionLength(), 4);

        QTest::keyClick(field(), Qt::Key_Backspace);
        QCOMPARE(status(), QString());
    }

    void matchCaseFindsOnlyThatCase() {
        openWith(QStringLiteral("BETA"));
        auto* matchCase = m_bar->findChild<QCheckBox*>(QStringLiteral("matchCaseCheckBox"));
        QVERIFY(matchCase);
        QTest::mouseClick(matchCase, Qt::LeftButton, {}, QPoint(5, matchCase->height() / 2));
        QVERIFY(matchCase->isChecked());

        QTest::keyClick(field(), Qt::Key_Return);
        QCOMPARE(m_view->selectionStart(), 17);
        QTest::keyClick(field(), Qt::Key_Return);
        QCOMPARE(m_view->selectionStart(), 17);
        QCOMPARE(status(), QStringLiteral("Reached the end, continued from the top"));
    }

    void matchIsScrolledIntoView() {
        QString text;
        for (int i = 1; i <= 2000; ++i)
            text += QStringLiteral("<line n=\"%1\"/>\n").arg(i);
        m_view->setText(text);
        openWith(QStringLiteral("n=\"1500\""));

        QTest::keyClick(field(), Qt::Key_Return);

        const qsizetype row = m_view->rows().rowOf(m_view->selectionStart());
        QCOMPARE(m_view->selectedText(), QStringLiteral("n=\"1500\""));
        QVERIFY(row >= m_view->firstVisibleRow());
        QVERIFY(row < m_view->firstVisibleRow() + m_view->visibleRowCount());
    }

    void announcedAsAFindToolBar() {
        QTest::keyClick(m_view, Qt::Key_F, Qt::ControlModifier);

        QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(m_bar);
        QVERIFY(bar);
        QCOMPARE(bar->role(), QAccessible::ToolBar);
        QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Find"));
        QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(field());
        QCOMPARE(edit->role(), QAccessible::EditableText);
        QCOMPARE(edit->text(QAccessible::Name), QStringLiteral("Find"));
        QVERIFY(edit->state().focused);
    }

    // F3 from the text with the bar closed opens it; with an empty field there is nothing to find yet.
    void f3FromTheTextOpensTheBar() {
        QTest::keyClick(m_view, Qt::Key_F3);

        QVERIFY(m_bar->isVisible());
        QTRY_VERIFY(field()->hasFocus());
        QCOMPARE(m_view->selectionLength(), 0);
        QCOMPARE(status(), QString());
    }

private:
    QLineEdit* field() const {
        auto* edit = m_bar->findChild<QLineEdit*>(QStringLiteral("findEdit"));
        Q_ASSERT(edit);
        return edit;
    }

    QString status() const {
        auto* label = m_bar->findChild<QLabel*>(QStringLiteral("findStatusLabel"));
        Q_ASSERT(label);
        return label->text();
    }

    void openWith(const QString& needle) {
        QTest::keyClick(m_view, Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(field()->hasFocus());
        QTest::keyClicks(field(), needle);
    }

    std::unique_ptr<QWidget> m_window;
    ResultsView* m_view = nullptr;
    FindBar* m_bar = nullptr;
};

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
