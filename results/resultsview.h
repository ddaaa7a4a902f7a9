#pragma once

#include "engine/text/textstore.h"
#include "results/textrows.h"
#include "results/textsegments.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
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
/// rows on screen, so neither a long text nor a long line makes it slow. A caret moves with the keyboard and
/// selects with Shift; the mouse selects by dragging, by word (double click) and by line (triple click); the
/// selection is copied with Ctrl+C or the context menu and offered as the primary selection where the desktop has
/// one. Assistive technology reads it through the accessibility interfaces Qt's own text views provide.
///
/// A long text is wrapped a slice at a time between the window's events: the first screen shows at once, the
/// rest of the rows follow, and the window answers meanwhile. The text comes from a TextStore, which may read it
/// from a file block by block: only the rows on screen and the text near the caret are ever decoded, yet whatever
/// reads it (find, copy, save, assistive technology) sees it whole from the start.
class ResultsView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ResultsView(QWidget* parent = nullptr);
    ~ResultsView() override;

    /// Replaces the whole text; the selection is cleared and the view shows the first row.
    void setText(const QString& text);
    /// setText() for a text of any size, read from \a text as it is needed.
    void setStore(std::shared_ptr<const TextStore> text);
    /// The whole text exactly as set, line breaks included: for a text known to be small.
    QString text() const { return m_store->whole(); }
    /// The text, read as far as it is needed.
    const TextStore& store() const { return *m_store; }
    const std::shared_ptr<const TextStore>& sharedStore() const { return m_store; }

    /// Selects \a length characters from \a start, clamped to the text; the caret goes to the end.
    void setSelection(qsizetype start, qsizetype length);
    /// Selects from \a anchor to \a cursor (either may come first), clamped to the text; the caret goes to
    /// \a cursor.
    void select(qsizetype anchor, qsizetype cursor);
    void selectAll();
    qsizetype selectionStart() const { return std::min(m_anchor, m_cursor); }
    qsizetype selectionLength() const { return std::abs(m_cursor - m_anchor); }
    QString selectedText() const;
    /// Puts the selected text on the clipboard as plain text; does nothing when nothing is selected. Asks first when
    /// the text is more than kLargeCopyBytes in memory. Returns whether it was put there.
    bool copy();
    /// The size in memory past which copy() asks first.
    static constexpr qint64 kLargeCopyBytes = qint64(64) * 1024 * 1024;

    /// The caret's offset in the text.
    qsizetype cursorPosition() const { return m_cursor; }
    /// Moves the caret to \a offset, clamped, without a selection, and scrolls it into view.
    void setCursorPosition(qsizetype offset);
    /// Scrolls as little as needed to show the row of \a start, and the row of \a end as well when both fit.
    void ensureVisible(qsizetype start, qsizetype end);

    /// The display rows for the current width, as far as they are built.
    const TextRows& rows() const;
    /// Whether every row of the text is built for the current width.
    bool rowsComplete() const;
    /// Index of the row shown at the top.
    qsizetype firstVisibleRow() const;
    /// Number of rows that fit wholly in the view.
    int visibleRowCount() const;
    /// Where row \a row is drawn, in viewport coordinates (above or below the viewport when not on screen).
    QRect rowRect(qsizetype row) const;
    /// Text offset under \a pos (viewport coordinates): the character boundary nearest to it in the row there.
    qsizetype offsetAt(const QPoint& pos) const;
    /// The character drawn at \a pos (viewport coordinates), or -1 when there is none; right of a line's text
    /// that is its line break.
    qsizetype characterAt(const QPoint& pos) const;
    /// Where the character at \a offset is drawn, in viewport coordinates; a line break is as wide as a space.
    QRect characterRect(qsizetype offset) const;
    /// The display row that holds \a offset as a text span, line break included.
    TextSpan rowSpan(qsizetype offset) const;

signals:
    /// setStore() or setText() has put another text in place: offsets into the old one mean nothing now.
    void textReplaced();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    enum class Move {
        NextCharacter,
        PreviousCharacter,
        NextWord,
        PreviousWord,
        NextRow,
        PreviousRow,
        NextPage,
        PreviousPage,
        StartOfRow,
        EndOfRow,
        StartOfText,
        EndOfText
    };
    // What a drag extends the selection by: what the press that started it selected.
    enum class DragUnit { Character, Word, Line };

    void fontChanged();
    void ensureRows() const;
    void wrapSlice() const;
    void coverRows(qsizetype offset, qsizetype rowsAfter) const;
    void rowsGrew(qsizetype oldCount, qsizetype oldCovered);
    void revealWhenBuilt();
    void updateScrollBar();
    qreal wrapWidth() const;
    void layOutRow(QTextLayout& layout, qsizetype row) const;
    qsizetype rowAt(int y) const;
    qsizetype caretEndOfRow(qsizetype row) const;
    qreal caretX(qsizetype offset) const;
    qsizetype offsetInRow(qsizetype row, qreal x) const;
    QRect caretRect() const;
    bool moveCursor(const QKeyEvent* event);
    qsizetype movedCursor(Move move);
    void dragTo(const QPoint& pos);
    void restartBlinking();
    void offerPrimarySelection() const;

    QAction* m_copyAction;
    QAction* m_selectAllAction;
    std::shared_ptr<const TextStore> m_store = std::make_shared<const TextStore>(); // never null
    QFont m_layoutFont;
    QTextOption m_option;
    int m_lineHeight = 1;
    int m_margin = 2;
    bool m_sized = false; // the view has had its first resize, so its width is known
    std::unique_ptr<CharWidths> m_widths;
    mutable TextRows m_rows;
    mutable qreal m_rowsWidth = -1;  // width the rows were built for; negative when they must be rebuilt
    mutable QBasicTimer m_wrapTimer; // runs while rows remain to be built
    // A place to scroll to once its rows are built: shown (start to end), or at the top when atTop.
    struct Reveal {
        qsizetype start = -1;
        qsizetype end = -1;
        bool atTop = false;
    };
    Reveal m_reveal;
    qsizetype m_anchor = 0;
    qsizetype m_cursor = 0;
    qreal m_goalX = -1; // where Up, Down and the page keys aim in each row; negative when it follows the caret
    bool m_caretShown = true;
    QBasicTimer m_blinkTimer;
    DragUnit m_dragUnit = DragUnit::Character;
    TextSpan m_dragOrigin;            // the word or line a double or triple click selected
    bool m_dragging = false;          // the left button went down on the text and is still down
    QElapsedTimer m_sinceDoubleClick; // a press soon after a double click at the same place is a triple click
    QPoint m_doubleClickPos;
};

} // namespace corvanta
