#include "results/resultsview.h"
#include "results/selectionmime.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleHints>
#include <QTest>
#include <QVBoxLayout>
#include <memory>

using namespace corvanta;

namespace {

QString numberedLines(int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QStringLiteral("<line n=\"%1\"/>").arg(i);
    return lines.join(QLatin1Char('\n'));
}

// A line with no blank to wrap at, of characters of different widths.
QString longWord(int length) {
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += QLatin1Char("xWil<>m/"[i % 8]);
    return text;
}

struct Keys {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

} // namespace

Q_DECLARE_METATYPE(Keys)

class TestResultsView : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_view = std::make_unique<ResultsView>();
        QFont font(QStringLiteral("Calibri"));
        font.setPointSizeF(11.25);
        font.setBold(true);
        m_view->setFont(font);
        m_view->resize(320, 240);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup() { m_view.reset(); }

    void wholeTextRoundTrips_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("lf lines") << QStringLiteral("<a>\n  <b/>\n</a>\n");
        QTest::newRow("cr lf lines") << QStringLiteral("<a>\r\n\t<b/>\r\n</a>");
        QTest::newRow("lone cr") << QStringLiteral("one\rtwo\r");
        QTest::newRow("accents and symbols") << QStringLiteral("caf\u00e9 \u20ac \u00fc\U0001F600");
        QTest::newRow("one long line") << longWord(50000);
        QTest::newRow("blank lines only") << QStringLiteral("\n\n\r\n");
    }

    void wholeTextRoundTrips() {
        QFETCH(QString, text);
        m_view->setText(text);

        m_view->selectAll();
        m_view->copy();

        QCOMPARE(m_view->text(), text);
        QCOMPARE(m_view->selectionStart(), 0);
        QCOMPARE(m_view->selectionLength(), text.size());
        QCOMPARE(m_view->selectedText(), text);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }

    void setTextResetsSelectionAndScroll() {
        m_view->setText(numberedLines(500));
        m_view->setSelection(10, 20);
        m_view->verticalScrollBar()->setValue(200);
        QCOMPARE(m_view->firstVisibleRow(), 200);

        m_view->setText(QStringLiteral("short"));

        QCOMPARE(m_view->selectionLength(), 0);
        QCOMPARE(m_view->firstVisibleRow(), 0);
        QCOMPARE(m_view->rows().count(), 1);
        QCOMPARE(m_view->verticalScrollBar()->maximum(), 0);
    }

    void selectionIsClampedToText() {
        m_view->setText(QStringLiteral("abcdef"));

        m_view->setSelection(4, 100);
        QCOMPARE(m_view->selectedText(), QStringLiteral("ef"));
        m_view->setSelection(-3, 2);
        QCOMPARE(m_view->selectionStart(), 0);
        QCOMPARE(m_view->selectedText(), QStringLiteral("ab"));
    }

    void copyWithoutSelectionKeepsClipboard() {
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        m_view->setText(QStringLiteral("text"));

        m_view->copy();

        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }

    // Every row on screen starts at the left edge and ends before the right one: hitting either edge of a row finds
    // the row's first character or the end of its last.
    void hitTestingFindsRowEdges() {
        m_view->setText(longWord(5000));
        const TextRows& rows = m_view->rows();
        QVERIFY(rows.count() > m_view->visibleRowCount());
        const int right = m_view->viewport()->width() - 1;

        for (int i = 0; i < m_view->visibleRowCount(); ++i) {
            const int y = m_view->rowRect(i).center().y();
            const TextRow& row = rows.at(i);
            QCOMPARE(m_view->offsetAt(QPoint(0, y)), row.start);
            QCOMPARE(m_view->offsetAt(QPoint(right, y)), row.start + row.length);
        }
        QCOMPARE(m_view->offsetAt(QPoint(right, -30)), 0);
    }

    void hitBelowLastRowIsTextEnd() {
        m_view->setText(QStringLiteral("one\ntwo"));

        QCOMPARE(m_view->offsetAt(QPoint(5, m_view->viewport()->height() - 2)), 7);
    }

    void rowsShareLongLineWithoutGaps() {
        const QString text = longWord(1'000'000);
        m_view->setText(text);
        QTRY_VERIFY(m_view->rowsComplete()); // a long text is wrapped between events

        const TextRows& rows = m_view->rows();

        QVERIFY(rows.count() > 1000);
        qsizetype next = 0;
        for (qsizetype i = 0; i < rows.count(); ++i) {
            QCOMPARE(rows.at(i).start, next);
            QVERIFY(rows.at(i).length > 0);
            next += rows.at(i).length;
        }
        QCOMPARE(next, text.size());
    }

    // Moves by rows while the rows are still being built end where they end on the built rows.
    void rowMovesWhilePreparedMatchTheBuiltRows() {
        m_view->setText(numberedLines(600'000));
        QVERIFY(!m_view->rowsComplete());
        auto moves = [this] {
            QTest::keyClick(m_view.get(), Qt::Key_Down);
            QTest::keyClick(m_view.get(), Qt::Key_PageDown);
            QTest::keyClick(m_view.get(), Qt::Key_End);
            const qsizetype nearStart = m_view->cursorPosition();
            QTest::keyClick(m_view.get(), Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(m_view.get(), Qt::Key_Up);
            return QList<qsizetype>{nearStart, m_view->cursorPosition()};
        };

        const QList<qsizetype> early = moves();
        QTRY_VERIFY(m_view->rowsComplete());
        m_view->setCursorPosition(0);
        const QList<qsizetype> built = moves();

        QCOMPARE(early, built);
        const QString line = QStringLiteral("<line n=\"%1\"/>").arg(2 + m_view->visibleRowCount());
        QCOMPARE(m_view->text().mid(built.at(0) - line.size(), line.size()), line);
        const TextSpan lastButOne = m_view->rowSpan(built.at(1));
        QCOMPARE(m_view->text().mid(lastButOne.start, lastButOne.end - lastButOne.start),
                 QStringLiteral("<line n=\"599999\"/>\n"));
    }

    void paintsVisibleText() {
        m_view->setText(longWord(2'000'000));

        const QImage image = m_view->viewport()->grab().toImage();

        const QRgb background = m_view->palette().color(QPalette::Base).rgb();
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                inked += image.pixel(x, y) != background;
        QVERIFY2(inked > image.width() * image.height() / 50, qPrintable(QString::number(inked)));
    }

    void dragSelectsAcrossRows() {
        m_view->setText(longWord(3000));
        const TextRows& rows = m_view->rows();
        QWidget* viewport = m_view->viewport();
        const int right = viewport->width() - 1;

        QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(0, m_view->rowRect(0).center().y()));
        QTest::mouseMove(viewport, QPoint(right / 2, m_view->rowRect(1).center().y()));
        QTest::mouseMove(viewport, QPoint(right, m_view->rowRect(2).center().y()));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(right, m_view->rowRect(2).center().y()));

        QCOMPARE(m_view->selectionStart(), 0);
        QCOMPARE(m_view->selectionLength(), rows.at(2).start + rows.at(2).length);
    }

    void shiftClickExtendsSelection() {
        m_view->setText(numberedLines(20));
        QWidget* viewport = m_view->viewport();

        QTest::mouseClick(viewport, Qt::LeftButton, {}, m_view->rowRect(1).topLeft() + QPoint(0, 3));
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, m_view->rowRect(3).topLeft() + QPoint(-2, 3));

        QCOMPARE(m_view->selectedText(), numberedLines(3).section(QLatin1Char('\n'), 1) + QLatin1Char('\n'));
    }

    void dragPastBottomScrollsOn() {
        m_view->setText(numberedLines(200));
        QWidget* viewport = m_view->viewport();

        QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(0, 5));
        for (int i = 0; i < 30; ++i)
            QTest::mouseMove(viewport, QPoint(10, viewport->height() + 5));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(10, viewport->height() + 5));

        QCOMPARE(m_view->firstVisibleRow(), 30);
        QCOMPARE(m_view->selectionStart(), 0);
        QVERIFY(m_view->selectionLength() > 0);
    }

    void keysSelectAllAndCopy() {
        const QString text = numberedLines(50);
        m_view->setText(text);
        QGuiApplication::clipboard()->clear();

        QTest::keyClick(m_view.get(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(m_view.get(), Qt::Key_C, Qt::ControlModifier);

        QCOMPARE(m_view->selectedText(), text);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }

    void ctrlEndShowsLastLine() {
        const QString text = numberedLines(1000);
        m_view->setText(text);

        QTest::keyClick(m_view.get(), Qt::Key_End, Qt::ControlModifier);

        const TextRows& rows = m_view->rows();
        QCOMPARE(m_view->firstVisibleRow() + m_view->visibleRowCount(), rows.count());
        const TextRow& last = rows.at(rows.count() - 1);
        QCOMPARE(text.mid(last.start), QStringLiteral("<line n=\"1000\"/>"));
        QVERIFY(m_view->viewport()->rect().contains(m_view->rowRect(rows.count() - 1)));
        QCOMPARE(m_view->offsetAt(QPoint(0, m_view->rowRect(rows.count() - 1).center().y())), last.start);

        QTest::keyClick(m_view.get(), Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(m_view->firstVisibleRow(), 0);
    }

    void pageKeysScrollByPage() {
        m_view->setText(numberedLines(300));

        QTest::keyClick(m_view.get(), Qt::Key_PageDown);

        QCOMPARE(m_view->firstVisibleRow(), m_view->visibleRowCount());
    }

    void narrowerViewKeepsTopLine() {
        m_view->setText(numberedLines(400));
        m_view->verticalScrollBar()->setValue(250);
        const qsizetype topOffset = m_view->rows().at(m_view->firstVisibleRow()).start;
        const qsizetype rowsBefore = m_view->rows().count();

        m_view->resize(70, 240);
        QTRY_VERIFY(m_view->rows().count() > rowsBefore);

        const TextRows& rows = m_view->rows();
        QCOMPARE(rows.at(m_view->firstVisibleRow()).start, topOffset);
    }

    // --- caret and keyboard ---

    void arrowsStepOverWholeCharacters() {
        m_view->setText(QStringLiteral("a\r\n\U0001F600e\u0301"));

        QList<qsizetype> forward;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(m_view.get(), Qt::Key_Right);
            forward << m_view->cursorPosition();
        }
        QList<qsizetype> backward;
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(m_view.get(), Qt::Key_Left);
            backward << m_view->cursorPosition();
        }

        QCOMPARE(forward, (QList<qsizetype>{1, 3, 5, 7, 7}));
        QCOMPARE(backward, (QList<qsizetype>{5, 3, 1, 0, 0}));
        QCOMPARE(m_view->selectionLength(), 0);
    }

    // Shift with any caret key selects from where the caret was to where it goes.
    void shiftExtendsEveryMove_data() {
        QTest::addColumn<Keys>("keys");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        const int line = 20;             // "<item>abcdef</item>\n"
        const int middle = 3 * line + 7; // the "b" of the fourth line
        QTest::newRow("right") << Keys{Qt::Key_Right, Qt::ShiftModifier} << middle << middle + 1;
        QTest::newRow("left") << Keys{Qt::Key_Left, Qt::ShiftModifier} << middle << middle - 1;
        QTest::newRow("word right") << Keys{Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier} << middle
                                    << middle + 5;
        QTest::newRow("word left") << Keys{Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier} << middle
                                   << middle - 1;
        QTest::newRow("down") << Keys{Qt::Key_Down, Qt::ShiftModifier} << middle << middle + line;
        QTest::newRow("up") << Keys{Qt::Key_Up, Qt::ShiftModifier} << middle << middle - line;
        QTest::newRow("home") << Keys{Qt::Key_Home, Qt::ShiftModifier} << middle << 3 * line;
        QTest::newRow("end") << Keys{Qt::Key_End, Qt::ShiftModifier} << middle << 4 * line - 1;
        QTest::newRow("start of text") << Keys{Qt::Key_Home, Qt::ShiftModifier | Qt::ControlModifier} << middle << 0;
        QTest::newRow("end of text") << Keys{Qt::Key_End, Qt::ShiftModifier | Qt::ControlModifier} << middle
                                     << 100 * line - 1;
        QTest::newRow("page down") << Keys{Qt::Key_PageDown, Qt::ShiftModifier} << middle << -1;
        QTest::newRow("page up") << Keys{Qt::Key_PageUp, Qt::ShiftModifier} << 50 * line + 7 << -2;
    }

    void shiftExtendsEveryMove() {
        QFETCH(Keys, keys);
        QFETCH(int, from);
        QFETCH(int, to);
        QString text = QStringLiteral("<item>abcdef</item>\n").repeated(100);
        text.chop(1);
        m_view->setText(text);
        // The page keys move by as many rows as the view shows, and keep the column.
        if (to == -1)
            to = from + m_view->visibleRowCount() * 20;
        else if (to == -2)
            to = from - m_view->visibleRowCount() * 20;
        m_view->setCursorPosition(from);

        QTest::keyClick(m_view.get(), keys.key, keys.modifiers);

        QCOMPARE(m_view->cursorPosition(), to);
        QCOMPARE(m_view->selectionStart(), std::min(from, to));
        QCOMPARE(m_view->selectionLength(), std::abs(to - from));
        QCOMPARE(m_view->selectedText(), text.mid(std::min(from, to), std::abs(to - from)));
    }

    void movingWithoutShiftCollapsesTheSelection() {
        m_view->setText(QStringLiteral("abcdefgh"));

        m_view->setSelection(2, 4);
        QTest::keyClick(m_view.get(), Qt::Key_Left);
        QCOMPARE(m_view->cursorPosition(), 2);
        QCOMPARE(m_view->selectionLength(), 0);

        m_view->setSelection(2, 4);
        QTest::keyClick(m_view.get(), Qt::Key_Right);
        QCOMPARE(m_view->cursorPosition(), 6);
        QCOMPARE(m_view->selectionLength(), 0);

        m_view->setSelection(2, 4);
        QTest::keyClick(m_view.get(), Qt::Key_End);
        QCOMPARE(m_view->cursorPosition(), 8);
        QCOMPARE(m_view->selectionLength(), 0);
    }

    void upAndDownKeepTheirColumnAcrossShortLines() {
        m_view->setText(QStringLiteral("0123456789\nab\n0123456789"));
        m_view->setCursorPosition(8);

        QList<qsizetype> stops;
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up, Qt::Key_Up}) {
            QTest::keyClick(m_view.get(), key);
            stops << m_view->cursorPosition();
        }

        // Past the last row Down goes to the end, past the first Up to the start.
        QCOMPARE(stops, (QList<qsizetype>{13, 22, 24, 13, 8, 0}));
    }

    // On a long line wrapped into rows, Home and End keep to the row the caret shows on.
    void homeAndEndKeepToTheDisplayRow() {
        m_view->setText(longWord(3000));
        const TextRows& rows = m_view->rows();
        m_view->setCursorPosition(rows.at(1).start + 3);

        QTest::keyClick(m_view.get(), Qt::Key_End);
        const qsizetype end = m_view->cursorPosition();
        QTest::keyClick(m_view.get(), Qt::Key_Home);

        QCOMPARE(end, rows.at(2).start - 1);
        QCOMPARE(m_view->rows().rowOf(end), 1);
        QCOMPARE(m_view->cursorPosition(), rows.at(1).start);
    }

    void pageKeysMoveCaretWithTheText() {
        m_view->setText(numberedLines(300));
        const int page = m_view->visibleRowCount();

        QTest::keyClick(m_view.get(), Qt::Key_PageDown);
        QCOMPARE(m_view->firstVisibleRow(), page);
        QCOMPARE(m_view->rows().rowOf(m_view->cursorPosition()), page);

        QTest::keyClick(m_view.get(), Qt::Key_PageUp);
        QCOMPARE(m_view->firstVisibleRow(), 0);
        QCOMPARE(m_view->cursorPosition(), 0);
    }

    void caretKeysScrollItIntoView() {
        m_view->setText(numberedLines(300));

        for (int i = 0; i < 40; ++i)
            QTest::keyClick(m_view.get(), Qt::Key_Down);

        const qsizetype row = m_view->rows().rowOf(m_view->cursorPosition());
        QCOMPARE(row, 40);
        QCOMPARE(m_view->firstVisibleRow() + m_view->visibleRowCount() - 1, row);
    }

    // Tab reaches the view from the control before it, and only then is its caret drawn.
    void caretShowsWhenTabReachesTheView() {
        const int flashTime = QGuiApplication::styleHints()->cursorFlashTime();
        QGuiApplication::styleHints()->setCursorFlashTime(0); // no blinking, so every picture has the caret
        const auto restore = qScopeGuard([flashTime] { QGuiApplication::styleHints()->setCursorFlashTime(flashTime); });
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* before = new QLineEdit(&window);
        auto* view = new ResultsView(&window);
        layout->addWidget(before);
        layout->addWidget(view);
        window.resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        view->setText(QStringLiteral("    text"));
        before->setFocus();
        QTRY_VERIFY(before->hasFocus());
        const QImage unfocused = view->viewport()->grab().toImage();

        QTest::keyClick(before, Qt::Key_Tab);

        QTRY_VERIFY(view->hasFocus());
        const QImage focused = view->viewport()->grab().toImage();
        QVERIFY(focused != unfocused);
        // The difference is the caret at the start of the first row, where the text has blanks.
        QRect changed;
        for (int y = 0; y < focused.height(); ++y)
            for (int x = 0; x < focused.width(); ++x)
                if (focused.pixel(x, y) != unfocused.pixel(x, y))
                    changed |= QRect(x, y, 1, 1);
        QVERIFY2(changed.right() < 6 && changed.top() < view->rowRect(0).bottom(),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(changed.x())
                                .arg(changed.y())
                                .arg(changed.width())
                                .arg(changed.height())));
    }

    // --- mouse ---

    void doubleClickSelectsWordAndTripleClickItsLine() {
        const QString first = QStringLiteral("<name>Cr\u00e8me br\u00fbl\u00e9e</name>\n");
        m_view->setText(first + QStringLiteral("next line"));
        QWidget* viewport = m_view->viewport();
        const QPoint onE = m_view->characterRect(8).center();

        QTest::mouseClick(viewport, Qt::LeftButton, {}, onE);
        QTest::mousePress(viewport, Qt::LeftButton, {}, onE);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, onE);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, onE);
        QCOMPARE(m_view->selectedText(), QStringLiteral("Cr\u00e8me"));

        QTest::mouseClick(viewport, Qt::LeftButton, {}, onE);
        QCOMPARE(m_view->selectedText(), first);

        // A fourth click is a plain one again.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, onE);
        QCOMPARE(m_view->selectionLength(), 0);
    }

    void dragAfterDoubleClickGrowsByWholeWords() {
        m_view->setText(QStringLiteral("<name>Cr\u00e8me br\u00fbl\u00e9e</name>"));
        QWidget* viewport = m_view->viewport();
        const QPoint onE = m_view->characterRect(8).center();

        QTest::mousePress(viewport, Qt::LeftButton, {}, onE);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, onE);
        QTest::mouseMove(viewport, m_view->characterRect(14).center());
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, m_view->characterRect(14).center());
        QCOMPARE(m_view->selectedText(), QStringLiteral("Cr\u00e8me br\u00fbl\u00e9e"));

        QTest::mousePress(viewport, Qt::LeftButton, {}, m_view->characterRect(14).center());
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, m_view->characterRect(14).center());
        QTest::mouseMove(viewport, m_view->characterRect(3).center());
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, m_view->characterRect(3).center());
        QCOMPARE(m_view->selectedText(), QStringLiteral("name>Cr\u00e8me br\u00fbl\u00e9e"));
        QCOMPARE(m_view->cursorPosition(), 1);
    }

    // The primary selection shares the text instead of copying it, and keeps what was selected even after the
    // view shows another text.
    void primarySelectionOffersTheSelectedText() {
        QString text = QStringLiteral("one two three");
        const SelectionMimeData offered(text, 4, 3);
        text = QStringLiteral("replaced");

        QCOMPARE(offered.formats(), QStringList{QStringLiteral("text/plain")});
        QVERIFY(offered.hasText());
        QCOMPARE(offered.text(), QStringLiteral("two"));
        QCOMPARE(offered.data(QStringLiteral("text/plain")), QByteArray("two"));
        QCOMPARE(SelectionMimeData(text, 5, 100).text(), QStringLiteral("ced"));

        QClipboard* clipboard = QGuiApplication::clipboard();
        if (clipboard->supportsSelection()) { // an X11 desktop; the offscreen platform has no primary selection
            m_view->setText(QStringLiteral("pick this word"));
            QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, m_view->characterRect(6).center());
            QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, m_view->characterRect(6).center());
            QCOMPARE(clipboard->text(QClipboard::Selection), QStringLiteral("this"));
        }
    }

private:
    std::unique_ptr<ResultsView> m_view;
};

QTEST_MAIN(TestResultsView)
#include "tst_resultsview.moc"
