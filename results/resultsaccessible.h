#pragma once

#include <QAccessibleWidget>

namespace corvanta {

class ResultsView;

/// What assistive technology sees of a ResultsView: a multi-line, read-only text that can be read in any range and
/// by character, word, sentence, line (display row) or paragraph, with its caret and selection, which it may also
/// set. Every call looks only at the rows and lines it needs, so it stays quick on a text of many megabytes.
class ResultsAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ResultsAccessible(ResultsView* view);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;
    // The scroll bars that show, each in the frame Qt keeps it in, as Qt's own scroll areas give them: a reader learns
    // where in the text the view stands and can move it. The viewport is no part a reader needs.
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    ResultsView* view() const;
    QWidgetList scrollBarFrames() const;
    int resolved(int offset) const;
    QString spanText(qsizetype start, qsizetype end, int* startOffset, int* endOffset) const;
};

/// Makes QAccessible answer for every ResultsView with a ResultsAccessible, and for every FindBar as for a tool bar;
/// installing it again does nothing.
void installResultsAccessibility();

} // namespace corvanta
