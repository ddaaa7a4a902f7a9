#include "results/resultsview.h"

#include <QAccessible>
#include <QScrollBar>
#include <QTest>
#include <memory>
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using namespace corvanta;

namespace {

// Non-ASCII letters, a surrogate pair, CR LF breaks and two sentences on the first line.
const QString kText =
    QStringLiteral("Caf\u00e9 \U0001F600 cr\u00e8me. Second one!\r\n<b n=\"2\">na\u00efve</b>\r\nend");

// What the view told assistive technology, in order.
struct Notice {
    QAccessible::Event type = QAccessible::InvalidEvent;
    int cursor = -1;
    int start = -1;
    int end = -1;
    QString removed;
    QString inserted;
};

QList<Notice>& notices() {
    static QList<Notice> list;
    return list;
}

void recordNotice(QAccessibleEvent* event) {
    if (!qobject_cast<ResultsView*>(event->object()))
        return;
    Notice notice;
    notice.type = event->type();
    if (event->type() == QAccessible::TextCaretMoved || event->type() == QAccessible::TextSelectionChanged ||
        event->type() == QAccessible::TextUpdated)
        notice.cursor = static_cast<QAccessibleTextCursorEvent*>(event)->cursorPosition();
    if (event->type() == QAccessible::TextSelectionChanged) {
        notice.start = static_cast<QAccessibleTextSelectionEvent*>(event)->selectionStart();
        notice.end = static_cast<QAccessibleTextSelectionEvent*>(event)->selectionEnd();
    }
    if (event->type() == QAccessible::TextUpdated) {
        notice.removed = static_cast<QAccessibleTextUpdateEvent*>(event)->textRemoved();
        notice.inserted = static_cast<QAccessibleTextUpdateEvent*>(event)->textInserted();
    }
    notices() << notice;
}

} // namespace

class TestResultsAccessible : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_window = std::make_unique<QWidget>();
        m_window->setObjectName(QStringLiteral("window"));
        m_window->resize(420, 300);
        m_view = new ResultsView(m_window.get());
        m_view->setObjectName(QStringLiteral("Text2"));
        m_view->setGeometry(10, 10, 400, 280);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_view->setText(kText);
    }

    void cleanup() {
        QAccessible::installUpdateHandler(nullptr);
        if (QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility())
            platform->setActive(false);
        notices().clear();
        m_window.reset();
    }

    void announcedAsReadOnlyMultiLineText() {
        QAccessibleInterface* iface = accessible();

        QCOMPARE(iface->role(), QAccessible::EditableText);
        QCOMPARE(iface->object()->objectName(), QStringLiteral("Text2"));
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Results"));
        QCOMPARE(iface->text(QAccessible::Value), kText);
        const QAccessible::State state = iface->state();
        QVERIFY(state.readOnly);
        QVERIFY(state.multiLine);
        QVERIFY(state.focusable);
        QVERIFY(state.selectableText);
        QVERIFY(!state.editable);
        QVERIFY(iface->textInterface());
        QVERIFY(!iface->editableTextInterface());
        QCOMPARE(iface->childCount(), 1); // the scroll bar, always shown; nothing else
        QCOMPARE(iface->parent()->object(), m_window.get());
        QVERIFY(iface->parent()->indexOfChild(iface) >= 0);

        m_view->setFocus();
        QTRY_VERIFY(accessible()->state().focused);
    }

    // The scroll bar shows a reader where in the text the view stands, as the bar the eye sees does, and is gone
    // from the tree when it is gone from the screen.
    void scrollBarIsExposedWhileItShows() {
        m_view->setText(numberedLines(300));
        QScrollBar* bar = m_view->verticalScrollBar();
        QAccessibleInterface* iface = accessible();
        QCOMPARE(iface->childCount(), 1);
        QAccessibleInterface* frame = iface->child(0);
        QVERIFY(frame);
        QCOMPARE(frame->parent(), iface);
        QCOMPARE(iface->indexOfChild(frame), 0);
        QAccessibleInterface* scroll = frame->child(0);
        QVERIFY(scroll);
        QCOMPARE(scroll->role(), QAccessible::ScrollBar);
        QCOMPARE(scroll->object(), bar);
        bar->setValue(bar->maximum() / 2);
        QVERIFY(scroll->valueInterface());
        QCOMPARE(scroll->valueInterface()->currentValue().toInt(), bar->value());
        const QPoint centre = bar->mapToGlobal(bar->rect().center());
        QCOMPARE(iface->childAt(centre.x(), centre.y()), frame);
        const QPoint inText = m_view->viewport()->mapToGlobal(QPoint(5, 5));
        QCOMPARE(iface->childAt(inText.x(), inText.y()), nullptr);

        m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QCOMPARE(iface->childCount(), 0);
        QCOMPARE(iface->child(0), nullptr);
        QCOMPARE(iface->indexOfChild(frame), -1);
    }

    void readsAnyRange() {
        QAccessibleTextInterface* text = textOf();

        QCOMPARE(text->characterCount(), kText.size());
        QCOMPARE(text->text(0, text->characterCount()), kText);
        QCOMPARE(text->text(5, 7), QStringLiteral("\U0001F600"));
        QCOMPARE(text->text(40, -1), kText.mid(40));
        QCOMPARE(text->text(-5, 3), QStringLiteral("Caf"));
        QCOMPARE(text->text(6, 2), QString());
    }

    void piecesByBoundary_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QAccessible::TextBoundaryType>("boundary");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("after");
        const QString firstLine = QStringLiteral("Caf\u00e9 \U0001F600 cr\u00e8me. Second one!\r\n");
        const QString secondLine = QStringLiteral("<b n=\"2\">na\u00efve</b>\r\n");

        QTest::newRow("character: surrogate pair")
            << 6 << QAccessible::CharBoundary << u" "_qs << u"\U0001F600"_qs << u" "_qs;
        QTest::newRow("character: cr lf") << 26 << QAccessible::CharBoundary << u"!"_qs << u"\r\n"_qs << u"<"_qs;
        QTest::newRow("word with an accent") << 2 << QAccessible::WordBoundary << QString() << u"Caf\u00e9"_qs
                                             << u" \U0001F600 "_qs; // a picture is no word
        QTest::newRow("word after punctuation")
            << 39 << QAccessible::WordBoundary << u"\">"_qs << u"na\u00efve"_qs << u"</"_qs;
        QTest::newRow("sentence") << 20 << QAccessible::SentenceBoundary << u"Caf\u00e9 \U0001F600 cr\u00e8me. "_qs
                                  << u"Second one!\r\n"_qs << secondLine;
        QTest::newRow("line") << 45 << QAccessible::LineBoundary << firstLine << secondLine << u"end"_qs;
        QTest::newRow("paragraph at the end")
            << int(kText.size()) << QAccessible::ParagraphBoundary << secondLine << u"end"_qs << QString();
        QTest::newRow("whole text") << 10 << QAccessible::NoBoundary << QString() << kText << QString();
    }

    void piecesByBoundary() {
        QFETCH(int, offset);
        QFETCH(QAccessible::TextBoundaryType, boundary);
        QFETCH(QString, before);
        QFETCH(QString, at);
        QFETCH(QString, after);
        QAccessibleTextInterface* text = textOf();
        int atStart = 0;
        int atEnd = 0;
        int start = 0;
        int end = 0;

        QCOMPARE(text->textAtOffset(offset, boundary, &atStart, &atEnd), at);
        QCOMPARE(kText.mid(atStart, atEnd - atStart), at);
        QVERIFY(atStart <= offset && (offset < atEnd || offset == kText.size()));
        QCOMPARE(text->textBeforeOffset(offset, boundary, &start, &end), before);
        QCOMPARE(end, before.isEmpty() ? -1 : atStart);
        QCOMPARE(text->textAfterOffset(offset, boundary, &start, &end), after);
        QCOMPARE(start, after.isEmpty() ? -1 : atEnd);
    }

    // Lines are the rows a sighted reader sees: in a narrow view one line of the text is several.
    void linesAreDisplayRows() {
        m_view->resize(110, 280);
        QTRY_VERIFY(m_view->rows().count() > 4);
        QAccessibleTextInterface* text = textOf();
        const TextRows& rows = m_view->rows();

        int start = 0;
        int end = 0;
        QString pieces;
        for (qsizetype row = 0; row < rows.count(); ++row) {
            const QString line = text->textAtOffset(int(rows.at(row).start), QAccessible::LineBoundary, &start, &end);
            QCOMPARE(start, rows.at(row).start);
            QVERIFY(line.startsWith(kText.mid(rows.at(row).start, rows.at(row).length)));
            pieces += line;
        }
        QCOMPARE(pieces, kText);
        QCOMPARE(text->textAtOffset(2, QAccessible::ParagraphBoundary, &start, &end),
                 kText.section(QStringLiteral("\r\n"), 0, 0) + QStringLiteral("\r\n"));
    }

    void caretAndSelectionReadAndSet() {
        QAccessibleTextInterface* text = textOf();
        int start = -7;
        int end = -7;

        text->setCursorPosition(9);
        QCOMPARE(m_view->cursorPosition(), 9);
        QCOMPARE(text->cursorPosition(), 9);
        QCOMPARE(text->selectionCount(), 0);
        text->selection(0, &start, &end);
        QCOMPARE(start, 0);
        QCOMPARE(end, 0);

        text->setSelection(0, 13, 8);
        QCOMPARE(m_view->selectedText(), QStringLiteral("cr\u00e8me"));
        QCOMPARE(text->cursorPosition(), 8);
        QCOMPARE(text->selectionCount(), 1);
        text->selection(0, &start, &end);
        QCOMPARE(start, 8);
        QCOMPARE(end, 13);

        text->addSelection(0, 4);
        QCOMPARE(m_view->selectedText(), QStringLiteral("Caf\u00e9"));
        text->removeSelection(0);
        QCOMPARE(text->selectionCount(), 0);
        QCOMPARE(text->cursorPosition(), 4);

        text->setSelection(0, -10, 1000);
        QCOMPARE(m_view->selectedText(), kText);
    }

    void caretFromAssistiveTechnologyIsScrolledIntoView() {
        m_view->setText(numberedLines(600));
        QAccessibleTextInterface* text = textOf();
        const int line500 = int(m_view->text().indexOf(QStringLiteral("line 500:")));

        text->setCursorPosition(line500);
        QVERIFY(rowShown(line500));

        text->scrollToSubstring(10, 20);
        QVERIFY(rowShown(10));
        QCOMPARE(m_view->cursorPosition(), line500);
    }

    // characterRect and offsetAtPoint answer in screen coordinates and agree with each other and with the view.
    void geometryOfCharacters() {
        QAccessibleTextInterface* text = textOf();
        for (const int offset : {0, 3, 5, 9, 40, int(kText.size()) - 1}) {
            const QRect place = text->characterRect(offset);
            QVERIFY2(place.width() > 0 && place.height() > 0, qPrintable(QString::number(offset)));
            QCOMPARE(text->offsetAtPoint(place.center()), offset);
            QVERIFY(m_view->viewport()->rect().contains(m_view->viewport()->mapFromGlobal(place.center())));
        }
        // One box for the whole surrogate pair, one for CR LF (as wide as a space, after the line's text).
        QCOMPARE(text->characterRect(6), text->characterRect(5));
        QCOMPARE(text->characterRect(27), text->characterRect(26));
        QCOMPARE(text->offsetAtPoint(text->characterRect(26).center()), 26);
        QCOMPARE(text->characterRect(int(kText.size())), QRect());
        QCOMPARE(text->offsetAtPoint(m_view->viewport()->mapToGlobal(QPoint(-5, 5))), -1);
        QCOMPARE(text->offsetAtPoint(m_view->viewport()->mapToGlobal(QPoint(5, m_view->viewport()->height() - 2))), -1);
    }

    void attributesCoverTheWholeText() {
        QFont font(QStringLiteral("Calibri"));
        font.setPointSizeF(11.25);
        font.setBold(true);
        m_view->setFont(font);
        int start = 0;
        int end = 0;

        const QString attributes = textOf()->attributes(12, &start, &end);

        QCOMPARE(start, 0);
        QCOMPARE(end, kText.size());
        QVERIFY2(attributes.contains(QStringLiteral("font-family:\"Calibri\";")), qPrintable(attributes));
        QVERIFY2(attributes.contains(QStringLiteral("font-size:11.25pt;")), qPrintable(attributes));
        QVERIFY2(attributes.contains(QStringLiteral("font-weight:700;")), qPrintable(attributes));
        QVERIFY(textOf()->attributes(int(kText.size()) + 1, &start, &end).isEmpty());
        QCOMPARE(start, -1);
    }

    void notifiesTextCaretAndSelectionChanges() {
        // As when a screen reader listens: otherwise Qt passes no event on. Public Qt has no switch for this.
        QPlatformAccessibility* platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
        QVERIFY(platform);
        platform->setActive(true);
        QAccessible::installUpdateHandler(&recordNotice);
        m_view->setFocus();
        QTRY_VERIFY(m_view->hasFocus());
        notices().clear();

        QTest::keyClick(m_view, Qt::Key_Right);
        QTest::keyClick(m_view, Qt::Key_Right, Qt::ShiftModifier);
        m_view->setText(QStringLiteral("new"));

        const QList<Notice>& seen = notices();
        QCOMPARE(seen.size(), 6);
        QCOMPARE(seen.at(0).type, QAccessible::TextCaretMoved);
        QCOMPARE(seen.at(0).cursor, 1);
        QCOMPARE(seen.at(1).type, QAccessible::TextSelectionChanged);
        QCOMPARE(seen.at(1).start, 1);
        QCOMPARE(seen.at(1).end, 2);
        QCOMPARE(seen.at(2).type, QAccessible::TextCaretMoved);
        QCOMPARE(seen.at(2).cursor, 2);
        QCOMPARE(seen.at(3).type, QAccessible::TextUpdated);
        QCOMPARE(seen.at(3).removed, kText);
        QCOMPARE(seen.at(3).inserted, QStringLiteral("new"));
        QCOMPARE(seen.at(4).type, QAccessible::TextSelectionChanged);
        QCOMPARE(seen.at(4).start, seen.at(4).end);
        QCOMPARE(seen.at(5).type, QAccessible::TextCaretMoved);
        QCOMPARE(seen.at(5).cursor, 0);
    }

private:
    QAccessibleInterface* accessible() const {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(m_view);
        Q_ASSERT(iface);
        return iface;
    }

    QAccessibleTextInterface* textOf() const {
        QAccessibleTextInterface* text = accessible()->textInterface();
        Q_ASSERT(text);
        return text;
    }

    bool rowShown(qsizetype offset) const {
        const qsizetype row = m_view->rows().rowOf(offset);
        return row >= m_view->firstVisibleRow() && row < m_view->firstVisibleRow() + m_view->visibleRowCount();
    }

    static QString numberedLines(int count) {
        QString text;
        for (int i = 1; i <= count; ++i)
            text += QStringLiteral("line %1: <item/>\n").arg(i);
        return text;
    }

    std::unique_ptr<QWidget> m_window;
    ResultsView* m_view = nullptr;
};

QTEST_MAIN(TestResultsAccessible)
#include "tst_resultsaccessible.moc"
