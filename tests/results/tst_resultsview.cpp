#include "resultsview.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>
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

} // namespace

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

private:
    std::unique_ptr<ResultsView> m_view;
};

QTEST_MAIN(TestResultsView)
#include "tst_resultsview.moc"
