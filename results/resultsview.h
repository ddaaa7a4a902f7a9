#pragma once

#include "textrows.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QString>
#include <QTextOption>
#include <algorithm>
#include <cstdlib>
#include <memory>

class QAction;
class QTextLayout;

namespace corvanta {

/// A read-only view of one plain text that may run to many megabytes, or hold a single line of several. It keeps
/// the text as set, wraps it into rows cheaply (one table look-up per character) and lays out and paints only the
/// rows on screen, so neither a long text nor a long line makes it slow. The text can be selected with the mouse
/// or Ctrl+A and copied with Ctrl+C or the context menu.
class ResultsView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ResultsView(QWidget* parent = nullptr);
    ~ResultsView() override;

    /// Replaces the whole text; the selection is cleared and the view shows the first row.
    void setText(const QString& text);
    /// The text exactly as set, line breaks included.
    const QString& text() const { return m_text; }

    /// Selects \a length characters from \a start, clamped to the text.
    void setSelection(qsizetype start, qsizetype length);
    void selectAll();
    qsizetype selectionStart() const { return std::min(m_anchor, m_cursor); }
    qsizetype selectionLength() const { return std::abs(m_cursor - m_anchor); }
    QString selectedText() const;
    /// Puts the selected text on the clipboard as plain text; does nothing when nothing is selected.
    void copy() const;

    /// The display rows for the current width.
    const TextRows& rows() const;
    /// Index of the row shown at the top.
    qsizetype firstVisibleRow() const;
    /// Number of rows that fit wholly in the view.
    int visibleRowCount() const;
    /// Where row \a row is drawn, in viewport coordinates (above or below the viewport when not on screen).
    QRect rowRect(qsizetype row) const;
    /// Text offset under \a pos (viewport coordinates): the character boundary nearest to it in the row there.
    qsizetype offsetAt(const QPoint& pos) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void fontChanged();
    void ensureRows() const;
    void updateScrollBar();
    qreal wrapWidth() const;
    void layOutRow(QTextLayout& layout, qsizetype row) const;
    void setCursorOffset(qsizetype offset, bool keepAnchor);

    QAction* m_copyAction;
    QAction* m_selectAllAction;
    QString m_text;
    QFont m_layoutFont;
    QTextOption m_option;
    int m_lineHeight = 1;
    int m_margin = 2;
    bool m_sized = false; // the view has had its first resize, so its width is known
    std::unique_ptr<CharWidths> m_widths;
    mutable TextRows m_rows;
    mutable qreal m_rowsWidth = -1; // width the rows were built for; negative when they must be rebuilt
    qsizetype m_anchor = 0;
    qsizetype m_cursor = 0;
};

} // namespace corvanta
