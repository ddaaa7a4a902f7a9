#include "results/resultsview.h"

#include "results/resultsaccessible.h"
#include "results/selectionmime.h"
#include "windowkit/windowkit.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <new>

namespace corvanta {

ResultsView::ResultsView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_copyAction(new QAction(tr("&Copy"), this))
    , m_selectAllAction(new QAction(tr("Select &All"), this)) {
    installResultsAccessibility();
    // Rows are always as wide as the view: a scroll bar that came and went would change that width.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Results"));
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setCursor(Qt::IBeamCursor);
    m_copyAction->setObjectName(QStringLiteral("copyAction"));
    m_copyAction->setShortcut(QKeySequence::Copy);
    m_selectAllAction->setObjectName(QStringLiteral("selectAllAction"));
    m_selectAllAction->setShortcut(QKeySequence::SelectAll);
    connect(m_copyAction, &QAction::triggered, this, &ResultsView::copy);
    connect(m_selectAllAction, &QAction::triggered, this, &ResultsView::selectAll);
    // Scrolling by hand overrides a place that was waiting for its rows.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this] { m_reveal = {}; });
    fontChanged();
}

ResultsView::~ResultsView() = default;

void ResultsView::setText(const QString& text) {
    setStore(std::make_shared<const TextStore>(text));
}

void ResultsView::setStore(std::shared_ptr<const TextStore> text) {
    // Assistive technology is told the old and new texts only when they are small: a whole text of hundreds of
    // megabytes would be read on this thread in one go.
    const auto told = [](const TextStore& store) {
        constexpr qsizetype kToldWhole = qsizetype(1) << 20;
        return store.size() <= kToldWhole ? store.whole() : QString();
    };
    const QString old = m_store ? told(*m_store) : QString();
    const bool hadSelection = selectionLength() > 0;
    m_store = text ? std::move(text) : std::make_shared<const TextStore>();
    m_anchor = m_cursor = 0;
    m_rowsWidth = -1;
    m_reveal = {};
    verticalScrollBar()->setValue(0);
    // Before the view has its size the rows would be built for a width it never shows.
    if (m_sized)
        updateScrollBar();
    restartBlinking();
    viewport()->update();
    QAccessibleTextUpdateEvent changed(this, 0, old, told(*m_store));
    changed.setCursorPosition(0);
    QAccessible::updateAccessibility(&changed);
    if (hadSelection) {
        QAccessibleTextSelectionEvent cleared(this, 0, 0);
        QAccessible::updateAccessibility(&cleared);
    }
    // Offsets of the old text mean nothing in the new one: the caret is announced at the start even if it was there.
    QAccessibleTextCursorEvent moved(this, 0);
    QAccessible::updateAccessibility(&moved);
    emit textReplaced();
}

void ResultsView::setSelection(qsizetype start, qsizetype length) {
    const qsizetype from = std::clamp<qsizetype>(start, 0, m_store->size());
    select(from, from + std::max<qsizetype>(length, 0));
}

void ResultsView::select(qsizetype anchor, qsizetype cursor) {
    const qsizetype size = m_store->size();
    anchor = std::clamp<qsizetype>(anchor, 0, size);
    cursor = std::clamp<qsizetype>(cursor, 0, size);
    const bool hadSelection = m_anchor != m_cursor;
    const bool selectionMoved = (anchor != cursor || hadSelection) && (std::min(anchor, cursor) != selectionStart() ||
                                                                       std::abs(cursor - anchor) != selectionLength());
    const bool cursorMoved = cursor != m_cursor;
    m_anchor = anchor;
    m_cursor = cursor;
    restartBlinking();
    viewport()->update();
    if (selectionMoved) {
        QAccessibleTextSelectionEvent event(this, int(selectionStart()), int(selectionStart() + selectionLength()));
        event.setCursorPosition(int(m_cursor));
        QAccessible::updateAccessibility(&event);
    }
    if (cursorMoved) {
        QAccessibleTextCursorEvent event(this, int(m_cursor));
        QAccessible::updateAccessibility(&event);
    }
}

void ResultsView::selectAll() {
    select(0, m_store->size());
}

QString ResultsView::selectedText() const {
    return m_store->mid(selectionStart(), selectionLength());
}

bool ResultsView::copy() {
    const qsizetype length = selectionLength();
    if (length == 0)
        return false;
    constexpr qint64 kMegabyte = qint64(1024) * 1024;
    const qint64 bytes = qint64(length) * qint64(sizeof(QChar));
    if (bytes > kLargeCopyBytes) {
        const auto answer = showProgramMessage(
            this,
            QStringLiteral("The text to copy is %1 MB. A clipboard that large takes as much memory again and can make "
                           "this and other programs slow.\r\rCopy it anyway?")
                .arg((bytes + kMegabyte - 1) / kMegabyte), // rounded up: never "64 MB" for more than 64
            QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return false;
    }
    try {
        QGuiApplication::clipboard()->setText(selectedText());
    } catch (const std::bad_alloc&) {
        // Out of an event handler the exception would end the program; the clipboard keeps what it held.
        showProgramMessage(this, QStringLiteral("There was not enough memory to copy the text."), QMessageBox::Warning);
        return false;
    }
    return true;
}

void ResultsView::setCursorPosition(qsizetype offset) {
    select(offset, offset);
    ensureVisible(m_cursor, m_cursor);
}

void ResultsView::ensureVisible(qsizetype start, qsizetype end) {
    ensureRows();
    const qsizetype size = m_store->size();
    start = std::clamp<qsizetype>(start, 0, size);
    end = std::clamp<qsizetype>(end, 0, size);
    if (!m_rows.holds(std::max(start, end))) {
        m_reveal = {start, end, false};
        return;
    }
    m_reveal = {};
    const qsizetype first = m_rows.rowOf(start);
    const qsizetype last = std::max(first, m_rows.rowOf(end));
    const qsizetype visible = visibleRowCount();
    QScrollBar* bar = verticalScrollBar();
    const qsizetype top = firstVisibleRow();
    if (first < top)
        bar->setValue(int(first));
    else if (last >= top + visible)
        bar->setValue(int(std::min(first, last - visible + 1)));
}

const TextRows& ResultsView::rows() const {
    ensureRows();
    return m_rows;
}

bool ResultsView::rowsComplete() const {
    ensureRows();
    return m_rows.isComplete();
}

qsizetype ResultsView::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

int ResultsView::visibleRowCount() const {
    return std::max(1, (viewport()->height() - 2 * m_margin) / m_lineHeight);
}

QRect ResultsView::rowRect(qsizetype row) const {
    return QRect(m_margin, m_margin + int(row - firstVisibleRow()) * m_lineHeight, int(wrapWidth()), m_lineHeight);
}

qsizetype ResultsView::rowAt(int y) const {
    return firstVisibleRow() + qsizetype(std::floor(double(y - m_margin) / m_lineHeight));
}

qsizetype ResultsView::offsetAt(const QPoint& pos) const {
    ensureRows();
    const qsizetype row = rowAt(pos.y());
    if (row < 0)
        return 0;
    if (row >= m_rows.count())
        return m_rows.coveredEnd();
    QTextLayout layout;
    layOutRow(layout, row);
    return m_rows.at(row).start + layout.lineAt(0).xToCursor(pos.x() - m_margin);
}

qsizetype ResultsView::characterAt(const QPoint& pos) const {
    ensureRows();
    const qsizetype row = rowAt(pos.y());
    if (!viewport()->rect().contains(pos) || row < 0 || row >= m_rows.count())
        return -1;
    const TextRow& current = m_rows.at(row);
    const qsizetype rowEnd = current.start + current.length;
    QTextLayout layout;
    layOutRow(layout, row);
    const QTextLine line = layout.lineAt(0);
    if (pos.x() - m_margin < line.naturalTextWidth())
        return current.start + line.xToCursor(pos.x() - m_margin, QTextLine::CursorOnCharacter);
    // Right of the text: the line break, where the row ends with one.
    const bool brokenHere = rowEnd < m_store->size() && m_rows.nextStart(row) > rowEnd;
    return brokenHere ? rowEnd : -1;
}

QRect ResultsView::characterRect(qsizetype offset) const {
    ensureRows();
    if (offset < 0 || offset >= m_store->size())
        return {};
    offset = spanAt(*m_store, offset, TextUnit::Character).start; // the whole cluster, as a surrogate pair or CR LF
    if (!m_rows.holds(offset))
        return {}; // not laid out yet, so not on screen
    const qsizetype row = m_rows.rowOf(offset);
    const TextRow& current = m_rows.at(row);
    const qsizetype inRow = std::min(offset, current.start + current.length) - current.start;
    QTextLayout layout;
    layOutRow(layout, row);
    const QTextLine line = layout.lineAt(0);
    const qreal left = line.cursorToX(int(inRow));
    qreal right = left + QFontMetricsF(m_layoutFont).horizontalAdvance(QLatin1Char(' '));
    if (inRow < current.length)
        right = line.cursorToX(
            int(std::min(nextCharacter(*m_store, offset), current.start + current.length) - current.start));
    const QRect place = rowRect(row);
    return QRect(m_margin + int(std::floor(left)), place.y(), std::max(1, int(std::ceil(right - left))), m_lineHeight);
}

TextSpan ResultsView::rowSpan(qsizetype offset) const {
    ensureRows();
    if (offset < 0 || offset > m_store->size())
        return {};
    if (m_rows.holds(offset)) {
        const qsizetype row = m_rows.rowOf(offset);
        return {m_rows.at(row).start, m_rows.nextStart(row)};
    }
    // Rows not built yet: a line wraps on its own, so its rows from its start up to the offset are enough. They are
    // wrapped from the store as far as needed, never the whole of a line of many megabytes at once.
    TextRows lineRows;
    lineRows.restart(wrapWidth(), paragraphStart(*m_store, offset));
    while (!lineRows.holds(offset))
        lineRows.extend(*m_store, qsizetype(1) << 16, *m_widths);
    const qsizetype row = lineRows.rowOf(offset);
    return {lineRows.at(row).start, lineRows.nextStart(row)};
}

void ResultsView::paintEvent(QPaintEvent*) {
    ensureRows();
    QPainter painter(viewport());
    const QPalette& colours = palette();
    painter.setPen(colours.color(QPalette::Text));
    QTextCharFormat selected;
    selected.setBackground(colours.brush(QPalette::Highlight));
    selected.setForeground(colours.brush(QPalette::HighlightedText));
    const qsizetype selectionFrom = selectionStart();
    const qsizetype selectionTo = selectionFrom + selectionLength();
    const qreal breakWidth = QFontMetricsF(m_layoutFont).horizontalAdvance(QLatin1Char(' '));

    const qsizetype first = firstVisibleRow();
    const qsizetype end = std::min(m_rows.count(), first + visibleRowCount() + 1); // and the part-row below
    QTextLayout layout;
    for (qsizetype row = first; row < end; ++row) {
        const TextRow& current = m_rows.at(row);
        const qsizetype rowEnd = current.start + current.length;
        const QPointF origin(m_margin, m_margin + qreal(row - first) * m_lineHeight);
        layOutRow(layout, row);
        QList<QTextLayout::FormatRange> selections;
        const qsizetype from = std::max(selectionFrom, current.start);
        const qsizetype to = std::min(selectionTo, rowEnd);
        if (from < to)
            selections.append({int(from - current.start), int(to - from), selected});
        layout.draw(&painter, origin, selections);

        // A selected line break shows as a narrow mark after its row, as editors show it.
        const qsizetype next = m_rows.nextStart(row);
        if (next > rowEnd && selectionFrom <= rowEnd && selectionTo > rowEnd)
            painter.fillRect(
                QRectF(origin.x() + layout.lineAt(0).naturalTextWidth(), origin.y(), breakWidth, m_lineHeight),
                selected.background());
    }
    if (hasFocus() && m_caretShown)
        painter.fillRect(caretRect(), colours.brush(QPalette::Text));
}

void ResultsView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    m_sized = true;
    const qsizetype top = firstVisibleRow();
    const qsizetype topOffset = m_rowsWidth >= 0 && top < m_rows.count() ? m_rows.at(top).start : 0;
    updateScrollBar();
    if (m_rows.holds(topOffset))
        verticalScrollBar()->setValue(int(m_rows.rowOf(topOffset)));
    else
        m_reveal = {topOffset, topOffset, true};
}

void ResultsView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fontChanged();
}

void ResultsView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    restartBlinking();
    viewport()->update();
}

void ResultsView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    m_blinkTimer.stop();
    viewport()->update();
}

void ResultsView::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_wrapTimer.timerId()) {
        const qsizetype oldCount = m_rows.count();
        const qsizetype oldCovered = m_rows.coveredEnd();
        ensureRows(); // starts over when the width changed since the last slice
        if (!m_rows.isComplete())
            wrapSlice();
        rowsGrew(oldCount, oldCovered);
        return;
    }
    if (event->timerId() != m_blinkTimer.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(caretRect());
}

void ResultsView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::SelectAll) {
        selectAll();
        offerPrimarySelection();
    } else if (event == QKeySequence::Deselect) {
        select(m_cursor, m_cursor);
    } else if (!moveCursor(event)) {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void ResultsView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    m_goalX = -1;
    m_dragging = true;
    const bool tripleClick = m_sinceDoubleClick.isValid() &&
                             m_sinceDoubleClick.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval() &&
                             (pos - m_doubleClickPos).manhattanLength() < QApplication::startDragDistance();
    m_sinceDoubleClick.invalidate();
    if (tripleClick) {
        m_dragUnit = DragUnit::Line;
        m_dragOrigin = spanAt(*m_store, offsetAt(pos), TextUnit::Paragraph);
        select(m_dragOrigin.start, m_dragOrigin.end);
        return;
    }
    m_dragUnit = DragUnit::Character;
    const qsizetype offset = offsetAt(pos);
    select(event->modifiers().testFlag(Qt::ShiftModifier) ? m_anchor : offset, offset);
}

void ResultsView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    m_dragging = true;
    m_sinceDoubleClick.start();
    m_doubleClickPos = pos;
    // The character under the pointer; right of a line's text, the last one before it.
    const qsizetype offset = offsetAt(pos);
    qsizetype character = characterAt(pos);
    if (character < 0 || endsLine(m_store->at(character).unicode())) {
        if (offset <= rowSpan(offset).start)
            return; // an empty line has no word
        character = previousCharacter(*m_store, offset);
    }
    const TextSpan word = spanAt(*m_store, character, TextUnit::Word);
    if (!word.isValid())
        return;
    m_dragUnit = DragUnit::Word;
    m_dragOrigin = word;
    select(word.start, word.end);
}

void ResultsView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging || !event->buttons().testFlag(Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls on, so a selection can reach rows not yet on screen.
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    dragTo(pos);
}

void ResultsView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragging) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    offerPrimarySelection();
}

void ResultsView::contextMenuEvent(QContextMenuEvent* event) {
    m_copyAction->setEnabled(selectionLength() > 0);
    m_selectAllAction->setEnabled(!m_store->isEmpty());
    QMenu menu(this);
    menu.addAction(m_copyAction);
    menu.addSeparator();
    menu.addAction(m_selectAllAction);
    menu.exec(event->globalPos());
}

void ResultsView::scrollContentsBy(int, int) {
    viewport()->update();
}

void ResultsView::fontChanged() {
    // Without kerning and optional shaping a row is exactly as wide as the sum of its characters' advances, which
    // is what wrapping measures.
    m_layoutFont = font();
    m_layoutFont.setKerning(false);
    m_layoutFont.setStyleStrategy(QFont::StyleStrategy(m_layoutFont.styleStrategy() | QFont::PreferNoShaping));
    const QFontMetricsF metrics(m_layoutFont);
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    const qreal tabStop = logicalDpiX() / 2.0; // half an inch, as rich-text boxes set their tabs
    m_option = QTextOption();
    m_option.setWrapMode(QTextOption::NoWrap);
    m_option.setTabStopDistance(tabStop);
    m_widths = std::make_unique<CharWidths>(
        [metrics](const QString& character) { return metrics.horizontalAdvance(character); }, tabStop);
    m_rowsWidth = -1;
    if (m_sized)
        updateScrollBar();
    viewport()->update();
}

qreal ResultsView::wrapWidth() const {
    return std::max(1, viewport()->width() - 2 * m_margin);
}

void ResultsView::ensureRows() const {
    const qreal width = wrapWidth();
    if (m_rowsWidth == width)
        return;
    m_rows.restart(width);
    m_rowsWidth = width;
    wrapSlice(); // the first screen at once
}

// Wraps for about a frame's time, then leaves the rest to the next turn of the event loop: a text of hundreds of
// megabytes takes most of a second, which would freeze the window. Slices on the window's thread rather than a
// worker: the rows then change only between events, so painting, keys and assistive technology never see them
// half-built, and character widths are measured by the font on its own thread.
void ResultsView::wrapSlice() const {
    constexpr qsizetype step = qsizetype(1) << 17;
    constexpr qint64 budget = 8'000'000; // nanoseconds
    QElapsedTimer clock;
    clock.start();
    do
        m_rows.extend(*m_store, step, *m_widths);
    while (!m_rows.isComplete() && clock.nsecsElapsed() < budget);
    if (m_rows.isComplete())
        m_wrapTimer.stop();
    else if (!m_wrapTimer.isActive())
        m_wrapTimer.start(0, const_cast<ResultsView*>(this)); // the timer only posts events to the view
}

// Builds rows until \a offset is in one and \a rowsAfter more rows follow it (or the text ends), for moves that
// need them now. The wait grows with the distance, so only the caret's own moves ask for it.
void ResultsView::coverRows(qsizetype offset, qsizetype rowsAfter) const {
    ensureRows();
    const qsizetype oldCount = m_rows.count();
    const qsizetype oldCovered = m_rows.coveredEnd();
    while (!m_rows.isComplete() && (!m_rows.holds(offset) || m_rows.rowOf(offset) + rowsAfter >= m_rows.count()))
        m_rows.extend(*m_store, qsizetype(1) << 16, *m_widths);
    if (m_rows.isComplete())
        m_wrapTimer.stop();
    if (m_rows.count() != oldCount)
        const_cast<ResultsView*>(this)->rowsGrew(oldCount, oldCovered); // the view's own state, as in ensureRows
}

void ResultsView::rowsGrew(qsizetype oldCount, qsizetype oldCovered) {
    updateScrollBar();
    revealWhenBuilt();
    const bool caretArrived = m_cursor >= oldCovered && m_rows.holds(m_cursor);
    if (oldCount <= firstVisibleRow() + visibleRowCount() || caretArrived)
        viewport()->update();
}

void ResultsView::revealWhenBuilt() {
    if (m_reveal.start < 0 || !m_rows.holds(std::max(m_reveal.start, m_reveal.end)))
        return;
    const Reveal reveal = m_reveal;
    m_reveal = {};
    if (reveal.atTop)
        verticalScrollBar()->setValue(int(m_rows.rowOf(reveal.start)));
    else
        ensureVisible(reveal.start, reveal.end);
}

void ResultsView::updateScrollBar() {
    ensureRows();
    const int visible = visibleRowCount();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, int(std::max<qsizetype>(0, m_rows.count() - visible)));
    bar->setPageStep(visible);
    bar->setSingleStep(1);
}

void ResultsView::layOutRow(QTextLayout& layout, qsizetype row) const {
    const TextRow& current = m_rows.at(row);
    layout.setText(m_store->mid(current.start, current.length));
    layout.setFont(m_layoutFont);
    layout.setTextOption(m_option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(wrapWidth());
    layout.endLayout();
}

// The last caret place that shows in \a row. Where a long line wraps, the offset at the row's end is the one at
// the next row's start, and a caret there would show on the next row, so it stops one character earlier.
qsizetype ResultsView::caretEndOfRow(qsizetype row) const {
    const TextRow& current = m_rows.at(row);
    const qsizetype end = current.start + current.length;
    const bool wraps = m_rows.hasRowAfter(row) && m_rows.nextStart(row) == end && current.length > 0;
    return wraps ? std::max(current.start, previousCharacter(*m_store, end)) : end;
}

qreal ResultsView::caretX(qsizetype offset) const {
    const qsizetype row = m_rows.rowOf(offset);
    QTextLayout layout;
    layOutRow(layout, row);
    const TextRow& current = m_rows.at(row);
    return layout.lineAt(0).cursorToX(int(std::min(offset, current.start + current.length) - current.start));
}

qsizetype ResultsView::offsetInRow(qsizetype row, qreal x) const {
    QTextLayout layout;
    layOutRow(layout, row);
    return std::min(m_rows.at(row).start + layout.lineAt(0).xToCursor(x), caretEndOfRow(row));
}

QRect ResultsView::caretRect() const {
    ensureRows();
    if (!m_rows.holds(m_cursor))
        return {}; // its row is not built yet, so it is not on screen
    const qsizetype row = m_rows.rowOf(m_cursor);
    const int width = std::max(1, style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, this));
    return QRect(m_margin + int(std::floor(caretX(m_cursor))), rowRect(row).y(), width, m_lineHeight);
}

bool ResultsView::moveCursor(const QKeyEvent* event) {
    struct Binding {
        QKeySequence::StandardKey key;
        Move move;
        bool extends;
    };
    static constexpr Binding bindings[] = {
        {QKeySequence::MoveToNextChar, Move::NextCharacter, false},
        {QKeySequence::SelectNextChar, Move::NextCharacter, true},
        {QKeySequence::MoveToPreviousChar, Move::PreviousCharacter, false},
        {QKeySequence::SelectPreviousChar, Move::PreviousCharacter, true},
        {QKeySequence::MoveToNextWord, Move::NextWord, false},
        {QKeySequence::SelectNextWord, Move::NextWord, true},
        {QKeySequence::MoveToPreviousWord, Move::PreviousWord, false},
        {QKeySequence::SelectPreviousWord, Move::PreviousWord, true},
        {QKeySequence::MoveToNextLine, Move::NextRow, false},
        {QKeySequence::SelectNextLine, Move::NextRow, true},
        {QKeySequence::MoveToPreviousLine, Move::PreviousRow, false},
        {QKeySequence::SelectPreviousLine, Move::PreviousRow, true},
        {QKeySequence::MoveToNextPage, Move::NextPage, false},
        {QKeySequence::SelectNextPage, Move::NextPage, true},
        {QKeySequence::MoveToPreviousPage, Move::PreviousPage, false},
        {QKeySequence::SelectPreviousPage, Move::PreviousPage, true},
        {QKeySequence::MoveToStartOfLine, Move::StartOfRow, false},
        {QKeySequence::SelectStartOfLine, Move::StartOfRow, true},
        {QKeySequence::MoveToEndOfLine, Move::EndOfRow, false},
        {QKeySequence::SelectEndOfLine, Move::EndOfRow, true},
        {QKeySequence::MoveToStartOfDocument, Move::StartOfText, false},
        {QKeySequence::SelectStartOfDocument, Move::StartOfText, true},
        {QKeySequence::MoveToEndOfDocument, Move::EndOfText, false},
        {QKeySequence::SelectEndOfDocument, Move::EndOfText, true},
    };
    const auto found = std::find_if(std::begin(bindings), std::end(bindings),
                                    [event](const Binding& binding) { return event->matches(binding.key); });
    if (found == std::end(bindings))
        return false;

    const bool vertical = found->move == Move::NextRow || found->move == Move::PreviousRow ||
                          found->move == Move::NextPage || found->move == Move::PreviousPage;
    // Moves by rows need the caret's row and the rows below it that the move may reach.
    if (vertical || found->move == Move::StartOfRow || found->move == Move::EndOfRow)
        coverRows(m_cursor, found->move == Move::NextPage ? visibleRowCount() + 1 : 1);
    else
        ensureRows();
    if (!vertical)
        m_goalX = -1;
    else if (m_goalX < 0)
        m_goalX = caretX(m_cursor);
    // Without Shift, Left and Right first collapse a selection to its edge, as in Qt's editors.
    const bool collapses = !found->extends && selectionLength() > 0 &&
                           (found->move == Move::NextCharacter || found->move == Move::PreviousCharacter);
    qsizetype target = 0;
    if (collapses)
        target = found->move == Move::NextCharacter ? selectionStart() + selectionLength() : selectionStart();
    else
        target = movedCursor(found->move);
    select(found->extends ? m_anchor : target, target);
    ensureVisible(m_cursor, m_cursor);
    if (found->extends)
        offerPrimarySelection();
    return true;
}

qsizetype ResultsView::movedCursor(Move move) {
    const qsizetype row = m_rows.rowOf(m_cursor);
    const qsizetype lastRow = m_rows.count() - 1;
    const qsizetype page = visibleRowCount();
    switch (move) {
    case Move::NextCharacter:
        return nextCharacter(*m_store, m_cursor);
    case Move::PreviousCharacter:
        return previousCharacter(*m_store, m_cursor);
    case Move::NextWord:
        return nextWord(*m_store, m_cursor);
    case Move::PreviousWord:
        return previousWord(*m_store, m_cursor);
    case Move::NextRow:
        return row < lastRow ? offsetInRow(row + 1, m_goalX) : m_store->size();
    case Move::PreviousRow:
        return row > 0 ? offsetInRow(row - 1, m_goalX) : 0;
    case Move::NextPage:
        // The text moves up by a page and the caret with it, so it stays where it was on screen.
        verticalScrollBar()->setValue(int(firstVisibleRow() + page));
        return row < lastRow ? offsetInRow(std::min(lastRow, row + page), m_goalX) : m_store->size();
    case Move::PreviousPage:
        verticalScrollBar()->setValue(int(firstVisibleRow() - page));
        return row > 0 ? offsetInRow(std::max<qsizetype>(0, row - page), m_goalX) : 0;
    case Move::StartOfRow:
        return m_rows.at(row).start;
    case Move::EndOfRow:
        return caretEndOfRow(row);
    case Move::StartOfText:
        return 0;
    case Move::EndOfText:
        return m_store->size();
    }
    return m_cursor;
}

void ResultsView::dragTo(const QPoint& pos) {
    const qsizetype offset = offsetAt(pos);
    if (m_dragUnit == DragUnit::Character) {
        select(m_anchor, offset);
        return;
    }
    // After a double or triple click the selection grows by whole words or lines, and always keeps the first one.
    const TextUnit unit = m_dragUnit == DragUnit::Word ? TextUnit::Word : TextUnit::Paragraph;
    if (offset < m_dragOrigin.start) {
        const TextSpan piece = spanAt(*m_store, offset, unit);
        select(m_dragOrigin.end, piece.isValid() ? piece.start : offset);
    } else if (offset > m_dragOrigin.end) {
        const TextSpan piece = spanAt(*m_store, offset - 1, unit);
        select(m_dragOrigin.start, piece.isValid() ? piece.end : offset);
    } else {
        select(m_dragOrigin.start, m_dragOrigin.end);
    }
}

void ResultsView::restartBlinking() {
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blinkTimer.start(flash / 2, this);
    else
        m_blinkTimer.stop();
}

void ResultsView::offerPrimarySelection() const {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (selectionLength() == 0 || !clipboard->supportsSelection())
        return;
    auto offered = std::make_unique<SelectionMimeData>(m_store, selectionStart(), selectionLength());
    clipboard->setMimeData(offered.release(), QClipboard::Selection); // the clipboard owns it from here
}

} // namespace corvanta
