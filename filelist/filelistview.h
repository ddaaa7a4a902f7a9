#pragma once

#include <QPersistentModelIndex>
#include <QString>
#include <QStringList>
#include <QTreeWidget>

namespace corvanta {

/// What a check or a join found of a list item.
enum class ItemMark { None, Fine, Problem };

/// The ordered list of input files (`ListView1`): one column of absolute paths, several items selectable at once,
/// removal by double-click and the Delete key, and reordering by dragging an item up and down with the mouse.
class FileListView : public QTreeWidget {
    Q_OBJECT

public:
    explicit FileListView(QWidget* parent = nullptr);

    /// Appends \a path as the last item; nothing is checked or compared.
    void appendItem(const QString& path);
    /// Appends \a paths as the last items, in order.
    void appendItems(const QStringList& paths);
    /// Number of items.
    int itemCount() const;
    /// Text of item \a index, 1-based.
    QString itemText(int index) const;
    /// Every item's text in list order.
    QStringList itemTexts() const;

    /// Gives item \a index (1-based) the icon of \a mark and \a status as its tooltip. They belong to the item's
    /// path: they move with it when it is dragged and go with it when it is removed.
    void setItemStatus(int index, ItemMark mark, const QString& status);
    /// Takes every item's mark and tooltip away; the list's own tooltip shows over every item again.
    void clearItemStatuses();
    ItemMark itemMark(int index) const;
    /// The tooltip of item \a index; empty when it has no status.
    QString itemStatus(int index) const;
    /// Makes item \a index the only selected item and the current one, and scrolls it into view.
    void selectOnlyItem(int index);

    /// The icon file the pointer shows while an item is dragged; "drag.ico" in the program folder by default.
    void setDragIconFile(const QString& path);

public slots:
    /// Removes every item.
    void removeAllItems();
    /// Removes every selected item.
    void removeSelectedItems();
    /// Removes the list's selected item only (the current one when it is selected); nothing when none is.
    void removeOneSelectedItem();

signals:
    /// The mouse moved over the list, dragging or not.
    void pointerMoved();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void beginItemDrag(QTreeWidgetItem* item);
    void swapStep(QTreeWidgetItem* dragItem, QTreeWidgetItem* hitItem, int cursorY);
    void autoScroll(int hitRow, int cursorY);
    QTreeWidgetItem* selectedItem() const;
    QCursor dragCursor() const;

    // The item that holds the dragged path. A persistent index follows the item when others are removed and
    // becomes invalid when the item itself goes, so a drag never touches a removed item.
    QPersistentModelIndex m_dragItem;
    bool m_mouseIsDown = false;
    QString m_dragIconFile;
};

} // namespace corvanta
