#include "engine/text/textstore.h"
#include "results/findbar.h"
#include "results/resultsview.h"
#include "tests/support/testfiles.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace corvanta;

namespace {

// "Beta" at 6, 17 and 28.
const QString kText = QStringLiteral("alpha Beta gamma BETA delta beta end");

// 2, 3 and 4 bytes of UTF-8, then CR LF and a surrogate pair again.
const QByteArray kMixed = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\r\n\xf0\x9f\x98\x80";
const QString kMixedText = QString::fromUtf8(kMixed);

// A text past what the window's thread searches: lines of ASCII, and kMixed between <mN> and </mN> across the ends
// of blocks 2, 40 and 70, a block's end falling inside it.
QByteArray largeText() {
    QByteArray bytes;
    for (const QByteArray block : {"2", "40", "70"}) {
        const qsizetype at = block.toInt() * corvanta::TextStore::kBlockBytes - 6 - (block.size() + 3);
        while (bytes.size() + 12 <= at)
            bytes += "<a>w y</a>\r\n";
        bytes += QByteArray(at - bytes.size(), ' ') + "<m" + block + ">" + kMixed + "</m" + block + ">";
    }
    return bytes + QByteArray("<a>w y</a>\r\n").repeated(50'000);
}

} // namespace

class TestFindBar : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_folders.renew();
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

    void largeStoredTextLandsWhereTheWindowsOwnSearchDoes_data() {
        QTest::addColumn<QString>("needle");
        QTest::addColumn<int>("caretBlock"); // the caret at <mN>, at the start for 0, at the end for -1
        QTest::addColumn<bool>("backward");
        QTest::addColumn<QString>("status");
        QTest::newRow("forward, far in") << kMixedText + u"</m70>"_qs << 0 << false << QString();
        QTest::newRow("backward, far back") << u"<M2>"_qs + kMixedText.toUpper() << -1 << true << QString();
        QTest::newRow("forward, wrapped")
            << u"<m40>"_qs << 70 << false << u"Reached the end, continued from the top"_qs;
        QTest::newRow("backward, wrapped")
            << kMixedText + u"</m70>"_qs << 40 << true << u"Reached the top, continued from the end"_qs;
        QTest::newRow("not found") << u"<m41>"_qs << 40 << false << u"Not found"_qs;
    }

    // The step runs beside the window and lands where a step on the window's thread lands.
    void largeStoredTextLandsWhereTheWindowsOwnSearchDoes() {
        QFETCH(QString, needle);
        QFETCH(int, caretBlock);
        QFETCH(bool, backward);
        QFETCH(QString, status);
        const QString whole = showLargeStoredText();
        const qsizetype caret =
            caretBlock < 0 ? whole.size() : std::max<qsizetype>(0, whole.indexOf(u"<m%1>"_qs.arg(caretBlock)));
        const TextMatch expected = findStep(
            whole, needle, caret, backward ? SearchDirection::Backward : SearchDirection::Forward, Qt::CaseInsensitive);
        m_view->setCursorPosition(caret);
        openWith({});
        field()->insert(needle); // as pasted: the keyboard of a test types ASCII only

        QTest::keyClick(field(), Qt::Key_F3, backward ? Qt::ShiftModifier : Qt::NoModifier);
        QCOMPARE(m_view->selectionLength(), 0); // not yet: the step runs beside the window

        const qsizetype start = expected.start < 0 ? m_view->cursorPosition() : expected.start;
        const qsizetype length = expected.start < 0 ? 0 : needle.size();
        QTRY_COMPARE_WITH_TIMEOUT(outcome(), u"%1 %2 %3"_qs.arg(start).arg(length).arg(status), 60000);
        QCOMPARE(field()->accessibleDescription(), status);
    }

    void aStoppedStepNeverMovesTheCaret_data() {
        QTest::addColumn<QString>("stop");
        QTest::newRow("another find") << u"find"_qs;
        QTest::newRow("typing") << u"type"_qs;
        QTest::newRow("closing the bar") << u"close"_qs;
        QTest::newRow("another text, let go of at once") << u"text"_qs;
        QTest::newRow("the window going") << u"window"_qs;
    }

    void aStoppedStepNeverMovesTheCaret() {
        QFETCH(QString, stop);
        showLargeStoredText();
        const std::weak_ptr<const TextStore> shown = m_view->sharedStore();
        openWith({});
        field()->insert(u"<m2>"_qs + kMixedText);
        QTest::keyClick(field(), Qt::Key_Return);
        // The match is near, so the step has most likely sent its end by now, which the window has yet to take:
        // the hardest case for telling a stopped step's end from the newest one's.
        QTest::qSleep(100);

        if (stop == u"find") {
            field()->selectAll();
            QTest::keyClicks(field(), QStringLiteral("<m71>"));
            QTest::keyClick(field(), Qt::Key_Return);
            QTRY_COMPARE_WITH_TIMEOUT(status(), u"Not found"_qs, 60000);
        } else if (stop == u"type") {
            QTest::keyClick(field(), Qt::Key_Backspace);
        } else if (stop == u"close") {
            QTest::keyClick(field(), Qt::Key_Escape);
        } else if (stop == u"text") {
            m_view->setText(kText);
            QVERIFY(shown.expired()); // the step was stopped and has ended
        } else {
            m_window.reset(); // waits for the step no longer than it takes to hear the stop
        }
        int turns = 0; // a step's end that was sent arrives within a turn or two of the loop
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&turns] { ++turns; });
        ticker.start(0);
        QTRY_VERIFY(turns > 20);

        if (m_window)
            QCOMPARE(outcome(), u"0 0 %1"_qs.arg(stop == u"find" ? u"Not found"_qs : QString()));
    }

private:
    // Where the selection is and what the bar says.
    QString outcome() const {
        return u"%1 %2 %3"_qs.arg(m_view->selectionStart()).arg(m_view->selectionLength()).arg(status());
    }

    // Shows largeText() as a joined result is shown, read from its file; returns the text it decodes to.
    QString showLargeStoredText() {
        const QString path = m_folders.filePath(u"large.xml"_qs);
        writeFile(path, largeText());
        m_view->setStore(TextStore::open(path));
        [this] { QCOMPARE_GT(m_view->store().size(), FindBar::kSynchronousFindSize); }();
        return QString::fromUtf8(largeText());
    }

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
    TestFolders m_folders{TestFolders::Temp::Unchanged};
};

QTEST_MAIN(TestFindBar)
#include "tst_findbar.moc"
