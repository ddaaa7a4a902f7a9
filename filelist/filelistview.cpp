#include "filelist/filelistview.h"

#include <QCoreApplication>
#include <QCursor>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>

namespace corvanta {

namespace {

// Height of the bands at the top and bottom of the visible area where a swap scrolls the next item into view.
constexpr int autoScrollBand = 20;

constexpr int markRole = Qt::UserRole;

// Drawn rather than taken from the style, so that both marks look the same, and differ, under every style.
QIcon drawMarkIcon(ItemMark mark) {
    constexpr int size = 32;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(mark == ItemMark::Fine ? QColor(0x2e, 0x9d, 0x4b) : QColor(0xd1, 0x34, 0x38));
    painter.drawEllipse(QRectF(2, 2, size - 4, size - 4));
    QPen stroke(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(stroke);
    painter.setBrush(Qt::NoBrush);
    if (mark == ItemMark::Fine) {
        painter.drawPolyline(QPolygonF{{9, 16.5}, {14, 21.5}, {23, 11}});
    } else {
        painter.drawLine(QPointF(16, 8.5), QPointF(16, 17.5));
        painter.drawPoint(QPointF(16, 23.5));
    }
    painter.end();
    return QIcon(pixmap);
}

QIcon markIcon(ItemMark mark) {
    static const QIcon fine = drawMarkIcon(ItemMark::Fine);
    static const QIcon problem = drawMarkIcon(ItemMark::Problem);
    switch (mark) {
    case ItemMark::Fine:
        return fine;
    case ItemMark::Problem:
        return problem;
    case ItemMark::None:
        break;
    }
    return {};
}

// What an item shows beside its path; it travels with the path.
constexpr int statusRoles[] = {Qt::DecorationRole, Qt::ToolTipRole, markRole};

} // namespace

FileListView::FileListView(QWidget* parent)
    : QTreeWidget(parent)
    , m_dragIconFile(QCoreApplication::applicationDirPath() + QStringLiteral("/drag.ico")) {
    setObjectName(QStringLiteral("ListView1"));
    setToolTip(QStringLiteral("Drag and drop files here. Drag files up and down to change order. "
                              "Double-click item to remove it."));
    setColumnCount(1);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Items move by the swap steps below, never by Qt's own drag and drop of items.
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAutoScroll(false);
    header()->setStretchLastSection(false);
    viewport()->setMouseTracking(true);
}

void FileListView::appendItem(const QString& path) {
    new QTreeWidgetItem(this, QStringList{path}); // the list owns and appends it
}

void FileListView::appendItems(const QStringList& paths) {
    for (const QString& path : paths)
        appendItem(path);
}

int FileListView::itemCount() const {
    return topLevelItemCount();
}

QString FileListView::itemText(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index - 1);
    return item ? item->text(0) : QString();
}

QStringList FileListView::itemTexts() const {
    QStringList texts;
    for (int row = 0; row < topLevelItemCount(); ++row)
        texts << topLevelItem(row)->text(0);
    return texts;
}

void FileListView::setItemStatus(int index, ItemMark mark, const QString& status) {
    QTreeWidgetItem* item = topLevelItem(index - 1);
    if (!item)
        return;
    item->setData(0, Qt::DecorationRole, mark == ItemMark::None ? QVariant() : QVariant(markIcon(mark)));
    item->setData(0, Qt::ToolTipRole, status.isEmpty() ? QVariant() : QVariant(status));
    item->setData(0, markRole, int(mark));
}

void FileListView::clearItemStatuses() {
    for (int row = 0; row < topLevelItemCount(); ++row)
        for (const int role : statusRoles)
            topLevelItem(row)->setData(0, role, QVariant());
}

ItemMark FileListView::itemMark(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index - 1);
    return item ? ItemMark(item->data(0, markRole).toInt()) : ItemMark::None;
}

QString FileListView::itemStatus(int index) const {
    const QTreeWidgetItem* item = topLevelItem(index - 1);
    return item ? item->data(0, Qt::ToolTipRole).toString() : QString();
}

void FileListView::selectOnlyItem(int index) {
    QTreeWidgetItem* item = topLevelItem(index - 1);
    if (!item)
        return;
    setCurrentItem(item, 0, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item);
}

void FileListView::setDragIconFile(const QString& path) {
    m_dragIconFile = path;
}

void FileListView::removeAllItems() {
    clear();
}

void FileListView::removeSelectedItems() {
    for (int row = topLevelItemCount() - 1; row >= 0; --row)
        if (topLevelItem(row)->isSelected())
            delete takeTopLevelItem(row);
}

void FileListView::removeOneSelectedItem() {
    if (QTreeWidgetItem* item = selectedItem())
        delete takeTopLevelItem(indexOfTopLevelItem(item));
}

void FileListView::mousePressEvent(QMouseEvent* event) {
    m_mouseIsDown = true;
    QTreeWidget::mousePressEvent(event);
    // The item click comes with the press, so that the item under the button is the one dragged.
    if (QTreeWidgetItem* item = itemAt(event->position().toPoint()))
        beginItemDrag(item);
}

void FileListView::mouseMoveEvent(QMouseEvent* event) {
    emit pointerMoved();
    if (!m_mouseIsDown) {
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    // While the button is down the move belongs to the drag, not to the view's sweep selection.
    const QPoint position = event->position().toPoint();
    QTreeWidgetItem* hitItem = itemAt(position);
    QTreeWidgetItem* dragItem = m_dragItem.isValid() ? itemFromIndex(m_dragItem) : nullptr;
    if (hitItem && dragItem && hitItem->text(0) != dragItem->text(0))
        swapStep(dragItem, hitItem, position.y());
}

void FileListView::mouseReleaseEvent(QMouseEvent* event) {
    m_mouseIsDown = false;
    // Back to the window's pointer: the arrow, or the hourglass while a long command works.
    viewport()->unsetCursor();
    QTreeWidget::mouseReleaseEvent(event);
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a double-click arrives as this event; it counts as a press like any other.
    m_mouseIsDown = true;
    QTreeWidget::mouseDoubleClickEvent(event);
    removeOneSelectedItem();
}

void FileListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        removeOneSelectedItem();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FileListView::beginItemDrag(QTreeWidgetItem* item) {
    viewport()->setCursor(dragCursor());
    m_dragItem = indexFromItem(item);
}

void FileListView::swapStep(QTreeWidgetItem* dragItem, QTreeWidgetItem* hitItem, int cursorY) {
    const QString kept = dragItem->text(0);
    dragItem->setText(0, hitItem->text(0));
    hitItem->setText(0, kept);
    for (const int role : statusRoles) {
        const QVariant keptStatus = dragItem->data(0, role);
        dragItem->setData(0, role, hitItem->data(0, role));
        hitItem->setData(0, role, keptStatus);
    }

    // The selection moves with the dragged path: its new place becomes selected and current, and its old place
    // takes the selection state of the path that moved in, so a drag leaves no trail of selected items.
    const bool hitWasSelected = hitItem->isSelected();
    const QModelIndex hitIndex = indexFromItem(hitItem);
    selectionModel()->setCurrentIndex(hitIndex, QItemSelectionModel::NoUpdate);
    hitItem->setSelected(true);
    dragItem->setSelected(hitWasSelected);

    m_dragItem = hitIndex;
    autoScroll(hitIndex.row(), cursorY);
}

void FileListView::autoScroll(int hitRow, int cursorY) {
    if (cursorY < autoScrollBand && hitRow > 0)
        scrollToItem(topLevelItem(hitRow - 1));
    else if (cursorY >= viewport()->height() - autoScrollBand && hitRow + 1 < topLevelItemCount())
        scrollToItem(topLevelItem(hitRow + 1));
}

QTreeWidgetItem* FileListView::selectedItem() const {
    QTreeWidgetItem* current = currentItem();
    if (current && current->isSelected())
        return current;
    for (int row = 0; row < topLevelItemCount(); ++row)
        if (topLevelItem(row)->isSelected())
            return topLevelItem(row);
    return nullptr;
}

QCursor FileListView::dragCursor() const {
    // Read on every item click, so a replaced icon file shows at once.
    const QPixmap icon(m_dragIconFile);
    return icon.isNull() ? QCursor(Qt::DragMoveCursor) : QCursor(icon);
}

} // namespace corvanta
