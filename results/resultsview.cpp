#include "resultsview.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace corvanta {

ResultsView::ResultsView(QWidget* parent)
    : QAbstractScrollArea(parent)
    , m_copyAction(new QAction(tr("&Copy"), this))
    , m_selectAllAction(new QAction(tr("Select &All"), this)) {
    // Rows are always as wide as the view: a scroll bar that came and went would change that width.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setBackgroundRole(QPalette::Base);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setCursor(Qt::IBeamCursor);
    m_copyAction->setObjectName(QStringLiteral("copyAction"));
    m_copyAction->setShortcut(QKeySequence::Copy);
    m_selectAllAction->setObjectName(QStringLiteral("selectAllAction"));
    m_selectAllAction->setShortcut(QKeySequence::SelectAll);
    connect(m_copyAction, &QAction::triggered, this, &ResultsView::copy);
    connect(m_selectAllAction, &QAction::triggered, this, &ResultsView::selectAll);
    fontChanged();
}

ResultsView::~ResultsView() = default;

void ResultsView::setText(const QString& text) {
    m_text = text;
    m_anchor = m_cursor = 0;
    m_rowsWidth = -1;
    verticalScrollBar()->setValue(0);
    // Before the view has its size the rows would be built for a width it never shows.
    if (m_sized)
        updateScrollBar();
    viewport()->update();
}

void ResultsView::setSelection(qsizetype start, qsizetype length) {
    const qsizetype size = m_text.size();
    m_anchor = std::clamp<qsizetype>(start, 0, size);
    m_cursor = std::clamp<qsizetype>(m_anchor + std::max<qsizetype>(length, 0), 0, size);
    viewport()->update();
}

void ResultsView::selectAll() {
    setSelection(0, m_text.size());
}

QString ResultsView::selectedText() const {
    return m_text.mid(selectionStart(), selectionLength());
}

void ResultsView::copy() const {
    if (selectionLength() > 0)
        QGuiApplication::clipboard()->setText(selectedText());
}

const TextRows& ResultsView::rows() const {
    ensureRows();
    return m_rows;
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

qsizetype ResultsView::offsetAt(const QPoint& pos) const {
    ensureRows();
    const qsizetype row = firstVisibleRow() + qsizetype(std::floor(double(pos.y() - m_margin) / m_lineHeight));
    if (row < 0)
        return 0;
    if (row >= m_rows.count())
        return m_text.size();
    QTextLayout layout;
    layOutRow(layout, row);
    return m_rows.at(row).start + layout.lineAt(0).xToCursor(pos.x() - m_margin);
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
        const qsizetype next = row + 1 < m_rows.count() ? m_rows.at(row + 1).start : m_text.size();
        if (next > rowEnd && selectionFrom <= rowEnd && selectionTo > rowEnd)
            painter.fillRect(
                QRectF(origin.x() + layout.lineAt(0).naturalTextWidth(), origin.y(), breakWidth, m_lineHeight),
                selected.background());
    }
}

void ResultsView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    m_sized = true;
    const qsizetype topOffset = m_rowsWidth >= 0 ? m_rows.at(firstVisibleRow()).start : 0;
    updateScrollBar();
    verticalScrollBar()->setValue(int(m_rows.rowOf(topOffset)));
}

void ResultsView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fontChanged();
}

void ResultsView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy)
        copy();
    else if (event == QKeySequence::SelectAll)
        selectAll();
    else if (event == QKeySequence::MoveToStartOfDocument)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    else if (event == QKeySequence::MoveToEndOfDocument)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void ResultsView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setCursorOffset(offsetAt(event->position().toPoint()), event->modifiers().testFlag(Qt::ShiftModifier));
}

void ResultsView::mouseMoveEvent(QMouseEvent* event) {
    if (!event->buttons().testFlag(Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    const QPoint pos = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls on, so a selection can reach rows not yet on screen.
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    setCursorOffset(offsetAt(pos), true);
}

void ResultsView::contextMenuEvent(QContextMenuEvent* event) {
    m_copyAction->setEnabled(selectionLength() > 0);
    m_selectAllAction->setEnabled(!m_text.isEmpty());
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
    m_rows.build(m_text, width, *m_widths);
    m_rowsWidth = width;
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
    layout.setText(m_text.mid(current.start, current.length));
    layout.setFont(m_layoutFont);
    layout.setTextOption(m_option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid())
        line.setLineWidth(wrapWidth());
    layout.endLayout();
}

void ResultsView::setCursorOffset(qsizetype offset, bool keepAnchor) {
    m_cursor = offset;
    if (!keepAnchor)
        m_anchor = offset;
    viewport()->update();
}

} // namespace corvanta
