#include "results/resultsaccessible.h"

#include "results/findbar.h"
#include "results/resultsview.h"

#include <QFontInfo>
#include <QScrollBar>
#include <algorithm>

namespace corvanta {

namespace {

enum class Side { Before, At, After };

TextSpan pieceOf(const ResultsView& view, qsizetype offset, QAccessible::TextBoundaryType boundary, Side side) {
    const TextStore& text = view.store();
    TextUnit unit = TextUnit::Character;
    switch (boundary) {
    case QAccessible::CharBoundary:
        break;
    case QAccessible::WordBoundary:
        unit = TextUnit::Word;
        break;
    case QAccessible::SentenceBoundary:
        unit = TextUnit::Sentence;
        break;
    case QAccessible::ParagraphBoundary:
        unit = TextUnit::Paragraph;
        break;
    case QAccessible::LineBoundary: {
        // A line is what a reader sees as one: a display row, with the line break that may end it.
        const TextSpan here = view.rowSpan(offset);
        if (!here.isValid() || side == Side::At)
            return here;
        if (side == Side::Before)
            return here.start > 0 ? view.rowSpan(here.start - 1) : TextSpan{};
        const TextSpan next = view.rowSpan(here.end);
        return next == here ? TextSpan{} : next;
    }
    case QAccessible::NoBoundary:
        return side == Side::At && offset >= 0 && offset <= text.size() ? TextSpan{0, text.size()} : TextSpan{};
    }
    switch (side) {
    case Side::Before:
        return spanBefore(text, offset, unit);
    case Side::At:
        return spanAt(text, offset, unit);
    case Side::After:
        return spanAfter(text, offset, unit);
    }
    return {};
}

QString rgb(const QColor& colour) {
    return QStringLiteral("rgb(%1,%2,%3)").arg(colour.red()).arg(colour.green()).arg(colour.blue());
}

// QAccessible keeps the interfaces in its cache and deletes each when its widget goes.
QAccessibleInterface* createResultsAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(ResultsView::staticMetaObject.className()))
        if (auto* view = qobject_cast<ResultsView*>(object))
            return new ResultsAccessible(view);
    // As a QFrame the find bar would be announced as a window frame; it is a tool bar, as in web browsers.
    if (className == QLatin1String(FindBar::staticMetaObject.className()))
        if (auto* bar = qobject_cast<FindBar*>(object))
            return new QAccessibleWidget(bar, QAccessible::ToolBar);
    return nullptr;
}

} // namespace

ResultsAccessible::ResultsAccessible(ResultsView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

ResultsView* ResultsAccessible::view() const {
    return static_cast<ResultsView*>(widget());
}

QWidgetList ResultsAccessible::scrollBarFrames() const {
    QWidgetList frames;
    for (const QScrollBar* bar : {view()->verticalScrollBar(), view()->horizontalScrollBar()})
        if (bar && bar->isVisible() && bar->parentWidget())
            frames << bar->parentWidget();
    return frames;
}

int ResultsAccessible::childCount() const {
    return int(scrollBarFrames().size());
}

QAccessibleInterface* ResultsAccessible::child(int index) const {
    const QWidgetList frames = scrollBarFrames();
    return index >= 0 && index < frames.size() ? QAccessible::queryAccessibleInterface(frames.at(index)) : nullptr;
}

int ResultsAccessible::indexOfChild(const QAccessibleInterface* child) const {
    return child && child->object() ? int(scrollBarFrames().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
}

QAccessibleInterface* ResultsAccessible::childAt(int x, int y) const {
    for (QWidget* frame : scrollBarFrames())
        if (QAccessibleInterface* framed = QAccessible::queryAccessibleInterface(frame);
            framed && framed->rect().contains(x, y))
            return framed;
    return nullptr;
}

void* ResultsAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State ResultsAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    state.selectableText = true;
    state.focusable = true;
    return state;
}

QString ResultsAccessible::text(QAccessible::Text type) const {
    // The value is the whole text, as Qt's text views give it, while that is small; a reader takes a larger one
    // through the text interface, in the ranges it needs.
    constexpr qsizetype kWholeValue = qsizetype(1) << 20;
    if (type == QAccessible::Value)
        return view()->store().size() <= kWholeValue ? view()->text() : QString();
    return QAccessibleWidget::text(type);
}

void ResultsAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || view()->selectionLength() == 0)
        return;
    *startOffset = int(view()->selectionStart());
    *endOffset = int(view()->selectionStart() + view()->selectionLength());
}

int ResultsAccessible::selectionCount() const {
    return view()->selectionLength() > 0 ? 1 : 0;
}

// The view has one selection: adding one replaces it.
void ResultsAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void ResultsAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0)
        view()->select(view()->cursorPosition(), view()->cursorPosition());
}

void ResultsAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex == 0)
        view()->select(startOffset, endOffset);
}

int ResultsAccessible::cursorPosition() const {
    return int(view()->cursorPosition());
}

void ResultsAccessible::setCursorPosition(int position) {
    view()->setCursorPosition(position);
}

QString ResultsAccessible::text(int startOffset, int endOffset) const {
    const TextStore& text = view()->store();
    const qsizetype end = endOffset < 0 || endOffset > text.size() ? text.size() : endOffset; // -1: to the end
    const qsizetype start = std::clamp<qsizetype>(startOffset, 0, end);
    return text.mid(start, end - start);
}

QString ResultsAccessible::textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                            int* endOffset) const {
    const TextSpan piece = pieceOf(*view(), resolved(offset), boundaryType, Side::Before);
    return spanText(piece.start, piece.end, startOffset, endOffset);
}

QString ResultsAccessible::textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                           int* endOffset) const {
    const TextSpan piece = pieceOf(*view(), resolved(offset), boundaryType, Side::After);
    return spanText(piece.start, piece.end, startOffset, endOffset);
}

QString ResultsAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                                        int* endOffset) const {
    const TextSpan piece = pieceOf(*view(), resolved(offset), boundaryType, Side::At);
    return spanText(piece.start, piece.end, startOffset, endOffset);
}

int ResultsAccessible::characterCount() const {
    return int(view()->store().size());
}

QRect ResultsAccessible::characterRect(int offset) const {
    const QRect place = view()->characterRect(offset);
    if (place.isNull())
        return {};
    return QRect(view()->viewport()->mapToGlobal(place.topLeft()), place.size());
}

int ResultsAccessible::offsetAtPoint(const QPoint& point) const {
    return int(view()->characterAt(view()->viewport()->mapFromGlobal(point)));
}

void ResultsAccessible::scrollToSubstring(int startIndex, int endIndex) {
    view()->ensureVisible(startIndex, endIndex);
}

// The whole text has one look, so every offset has the same attributes, for the whole text.
QString ResultsAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    const qsizetype size = view()->store().size();
    offset = resolved(offset);
    if (offset < 0 || offset > size) {
        *startOffset = *endOffset = -1;
        return {};
    }
    *startOffset = 0;
    *endOffset = int(size);
    const QFont font = view()->font();
    const QPalette& colours = view()->palette();
    return QStringLiteral("font-family:\"%1\";font-size:%2pt;font-weight:%3;font-style:%4;color:%5;"
                          "background-color:%6;")
        .arg(font.family(), QString::number(QFontInfo(font).pointSizeF()), QString::number(font.weight()),
             font.italic() ? QStringLiteral("italic") : QStringLiteral("normal"), rgb(colours.color(QPalette::Text)),
             rgb(colours.color(QPalette::Base)));
}

// As Qt's text interfaces take them: -1 for the end of the text and -2 for the caret.
int ResultsAccessible::resolved(int offset) const {
    if (offset == -1)
        return characterCount();
    if (offset == -2)
        return cursorPosition();
    return offset;
}

QString ResultsAccessible::spanText(qsizetype start, qsizetype end, int* startOffset, int* endOffset) const {
    if (start < 0) {
        *startOffset = *endOffset = -1;
        return {};
    }
    *startOffset = int(start);
    *endOffset = int(end);
    return view()->store().mid(start, end - start);
}

void installResultsAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&createResultsAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace corvanta
