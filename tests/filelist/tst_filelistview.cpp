#include "filelist/filelistview.h"

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <memory>

using namespace corvanta;

Q_DECLARE_METATYPE(QList<int>)

class TestFileListView : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_list = std::make_unique<FileListView>();
        m_list->resize(400, 300);
        m_list->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_list.get()));
    }

    void cleanup() { m_list.reset(); }

    void appendKeepsOrderAndDuplicates() {
        fill({"/d/b.xml", "/d/a.xml", "/d/b.xml"});
        QCOMPARE(m_list->itemCount(), 3);
        QCOMPARE(m_list->itemText(1), QStringLiteral("/d/b.xml"));
        QCOMPARE(m_list->itemTexts(), (QStringList{"/d/b.xml", "/d/a.xml", "/d/b.xml"}));
        QCOMPARE(m_list->objectName(), QStringLiteral("ListView1"));
        QCOMPARE(m_list->toolTip(), QStringLiteral("Drag and drop files here. Drag files up and down to change order. "
                                                   "Double-click item to remove it."));
    }

    void dragSwapsAlongThePath_data() {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QList<int>>("path"); // rows under the cursor: press on the first, move over the rest
        QTest::addColumn<QStringList>("expected");
        const QStringList abcd{"A", "B", "C", "D"};
        QTest::newRow("slow drag down") << abcd << QList<int>{0, 1, 2, 3} << QStringList{"B", "C", "D", "A"};
        QTest::newRow("jump over two items") << abcd << QList<int>{0, 3} << QStringList{"D", "B", "C", "A"};
        QTest::newRow("slow drag up") << abcd << QList<int>{3, 2, 1, 0} << QStringList{"D", "A", "B", "C"};
        QTest::newRow("there and back") << abcd << QList<int>{1, 2, 3, 2, 1} << abcd;
        QTest::newRow("staying on the pressed item") << abcd << QList<int>{2, 2, 2} << abcd;
        QTest::newRow("equal paths never swap")
            << QStringList{"A", "A", "B"} << QList<int>{0, 1} << QStringList{"A", "A", "B"};
        QTest::newRow("equal path skipped, next one swaps")
            << QStringList{"A", "A", "B"} << QList<int>{0, 1, 2} << QStringList{"B", "A", "A"};
        QTest::newRow("comparison is case-sensitive")
            << QStringList{"a", "A"} << QList<int>{0, 1} << QStringList{"A", "a"};
    }

    void dragSwapsAlongThePath() {
        QFETCH(QStringList, items);
        QFETCH(QList<int>, path);
        QFETCH(QStringList, expected);
        fill(items);

        dragAlong(path);

        QCOMPARE(m_list->itemTexts(), expected);
    }

    void selectionMovesWithTheDraggedPath() {
        fill({"A", "B", "C", "D"});
        dragAlong({0, 1, 2, 3});
        QCOMPARE(selectedRows(), QList<int>{3});
        QCOMPARE(m_list->currentItem()->text(0), QStringLiteral("A"));
        QCOMPARE(m_list->viewport()->cursor().shape(), Qt::ArrowCursor);
    }

    void nothingIsDraggedBeforeTheFirstItemClick() {
        fill({"A", "B", "C"});
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, emptySpace());
        QTest::mouseMove(m_list->viewport(), rowPoint(0));
        QTest::mouseMove(m_list->viewport(), rowPoint(2));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(2));
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "B", "C"}));
    }

    void movesWithoutAPressNeverSwap() {
        fill({"A", "B", "C"});
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(0));
        QTest::mouseMove(m_list->viewport(), rowPoint(1));
        QTest::mouseMove(m_list->viewport(), rowPoint(2));
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "B", "C"}));
    }

    void pressOnEmptySpaceDragsTheLastDraggedPath() {
        fill({"A", "B", "C"});
        dragAlong({0, 1}); // A now in row 1
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, emptySpace());
        QTest::mouseMove(m_list->viewport(), rowPoint(2));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(2));
        QCOMPARE(m_list->itemTexts(), (QStringList{"B", "C", "A"}));
    }

    void dragAfterTheDraggedItemWasRemovedDoesNothing_data() {
        QTest::addColumn<QString>("removal");
        QTest::newRow("Delete key") << "delete";
        QTest::newRow("double-click") << "double-click";
        QTest::newRow("Clear Selected Files") << "clear selected";
        QTest::newRow("Clear List") << "clear list";
    }

    void dragAfterTheDraggedItemWasRemovedDoesNothing() {
        QFETCH(QString, removal);
        fill({"A", "B", "C", "D"});
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1)); // B is the dragged item
        if (removal == "delete") {
            QTest::keyClick(m_list.get(), Qt::Key_Delete);
        } else if (removal == "double-click") {
            QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        } else if (removal == "clear selected") {
            m_list->removeSelectedItems();
        } else {
            m_list->removeAllItems();
            fill({"A", "C", "D"});
        }
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "C", "D"}));

        // A press on empty space followed by moves over items would drag the removed item's path.
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, emptySpace());
        QTest::mouseMove(m_list->viewport(), rowPoint(0));
        QTest::mouseMove(m_list->viewport(), rowPoint(2));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(2));
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "C", "D"}));

        // The next item click arms the drag again.
        dragAlong({0, 1});
        QCOMPARE(m_list->itemTexts(), (QStringList{"C", "A", "D"}));
    }

    void draggedItemFollowsItsPathWhenAnotherIsRemoved() {
        fill({"A", "B", "C", "D"});
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(2)); // C
        m_list->topLevelItem(0)->setSelected(true);
        m_list->topLevelItem(2)->setSelected(false);
        m_list->removeSelectedItems(); // removes A; C moves up to row 1
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, emptySpace());
        QTest::mouseMove(m_list->viewport(), rowPoint(2));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(2));
        QCOMPARE(m_list->itemTexts(), (QStringList{"B", "D", "C"}));
    }

    void autoScrollInTheBandsOfTheVisibleArea_data() {
        QTest::addColumn<QString>("band");
        QTest::newRow("bottom band scrolls the next item into view") << "bottom";
        QTest::newRow("top band scrolls the item above into view") << "top";
        QTest::newRow("middle scrolls nothing") << "middle";
    }

    void autoScrollInTheBandsOfTheVisibleArea() {
        QFETCH(QString, band);
        QStringList items;
        for (int i = 0; i < 60; ++i)
            items << QStringLiteral("/data/file%1.xml").arg(i, 2, 10, QLatin1Char('0'));
        fill(items);
        QScrollBar* bar = m_list->verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum() / 2);
        const int height = m_list->viewport()->height();
        const int y = band == "bottom" ? height - 3 : band == "top" ? 3 : height / 2;
        QTreeWidgetItem* hit = m_list->itemAt(10, y);
        QVERIFY(hit);
        QTreeWidgetItem* pressed = band == "top" ? m_list->itemBelow(hit) : m_list->itemAbove(hit);
        QTreeWidgetItem* next = band == "top" ? m_list->itemAbove(hit) : m_list->itemBelow(hit);
        QVERIFY(!fullyVisible(next) || band == "middle");
        const int before = bar->value();

        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, m_list->visualItemRect(pressed).center());
        QTest::mouseMove(m_list->viewport(), QPoint(10, y));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, QPoint(10, y));

        QCOMPARE(hit->text(0), items.at(m_list->indexOfTopLevelItem(pressed))); // the swap took place
        if (band == "middle") {
            QCOMPARE(bar->value(), before);
        } else {
            QVERIFY(bar->value() != before);
            QVERIFY(fullyVisible(next));
        }
    }

    void deleteKeyRemovesTheSelectedItemOnly_data() {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("plain") << Qt::KeyboardModifiers();
        QTest::newRow("Shift") << Qt::KeyboardModifiers(Qt::ShiftModifier);
        QTest::newRow("Ctrl") << Qt::KeyboardModifiers(Qt::ControlModifier);
        QTest::newRow("Alt") << Qt::KeyboardModifiers(Qt::AltModifier);
    }

    void deleteKeyRemovesTheSelectedItemOnly() {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        fill({"A", "B", "C", "D"});
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(0));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(2));
        QCOMPARE(selectedRows(), (QList<int>{0, 2}));

        QTest::keyClick(m_list.get(), Qt::Key_Delete, modifiers);

        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "B", "D"}));
    }

    void otherKeysRemoveNothing() {
        fill({"A", "B"});
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(0));
        for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_X, Qt::Key_Escape, Qt::Key_Return})
            QTest::keyClick(m_list.get(), key);
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "B"}));
    }

    void removalWithNothingSelectedDoesNothing() {
        fill({"A", "B"});
        QTest::keyClick(m_list.get(), Qt::Key_Delete);
        QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, emptySpace());
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "B"}));
    }

    void doubleClickRemovesTheClickedItem() {
        fill({"A", "B", "C"});
        QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "C"}));
        QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        QCOMPARE(m_list->itemTexts(), QStringList{"A"});
    }

    void ctrlAndShiftSelectSeveralItems() {
        fill({"A", "B", "C", "D", "E"});
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowPoint(3));
        QCOMPARE(selectedRows(), (QList<int>{1, 2, 3}));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(2));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(4));
        QCOMPARE(selectedRows(), (QList<int>{1, 3, 4}));
    }

    void clearSelectedRemovesEverySelectedItem_data() {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("none selected") << QList<int>{} << QStringList{"A", "B", "C", "D"};
        QTest::newRow("all selected") << QList<int>{0, 1, 2, 3} << QStringList{};
        QTest::newRow("first and last") << QList<int>{0, 3} << QStringList{"B", "C"};
        QTest::newRow("neighbours") << QList<int>{1, 2} << QStringList{"A", "D"};
    }

    void clearSelectedRemovesEverySelectedItem() {
        QFETCH(QList<int>, selected);
        QFETCH(QStringList, expected);
        fill({"A", "B", "C", "D"});
        for (int row : selected)
            QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(row));
        QCOMPARE(selectedRows(), selected);

        m_list->removeSelectedItems();

        QCOMPARE(m_list->itemTexts(), expected);
    }

    // Marks and tooltips belong to their paths: a drag carries them along, a removal takes them away.
    void statusesFollowTheDraggedPath() {
        fill({"A", "B", "C", "D"});
        m_list->setItemStatus(1, ItemMark::Fine, "A is fine");
        m_list->setItemStatus(3, ItemMark::Problem, "C is wrong");

        dragAlong({0, 1, 2, 3});

        QCOMPARE(m_list->itemTexts(), (QStringList{"B", "C", "D", "A"}));
        QCOMPARE(statuses(), (QStringList{"none ", "problem C is wrong", "none ", "fine A is fine"}));
        QVERIFY(m_list->topLevelItem(0)->icon(0).isNull());
        QVERIFY(!m_list->topLevelItem(1)->icon(0).isNull());
        // The two marks look different.
        QVERIFY(m_list->topLevelItem(1)->icon(0).pixmap(16).toImage() !=
                m_list->topLevelItem(3)->icon(0).pixmap(16).toImage());
    }

    void statusesGoWithTheirRemovedItems_data() {
        QTest::addColumn<QString>("removal");
        QTest::newRow("Delete key") << "delete";
        QTest::newRow("double-click") << "double-click";
        QTest::newRow("Clear Selected Files") << "clear selected";
    }

    void statusesGoWithTheirRemovedItems() {
        QFETCH(QString, removal);
        fill({"A", "B", "C"});
        m_list->setItemStatus(1, ItemMark::Fine, "A is fine");
        m_list->setItemStatus(2, ItemMark::Problem, "B is wrong");
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));

        if (removal == "delete")
            QTest::keyClick(m_list.get(), Qt::Key_Delete);
        else if (removal == "double-click")
            QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        else
            m_list->removeSelectedItems();

        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "C"}));
        QCOMPARE(statuses(), (QStringList{"fine A is fine", "none "}));
        m_list->removeAllItems();
        fill({"B"});
        QCOMPARE(statuses(), (QStringList{"none "}));
    }

    void clearingStatusesLeavesPathsAndSelection() {
        fill({"A", "B"});
        m_list->setItemStatus(1, ItemMark::Problem, "A is wrong");
        m_list->setItemStatus(2, ItemMark::Fine, "B is fine");
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        m_list->clearItemStatuses();
        QCOMPARE(statuses(), (QStringList{"none ", "none "}));
        QCOMPARE(m_list->itemTexts(), (QStringList{"A", "B"}));
        QCOMPARE(selectedRows(), QList<int>{1});
    }

    // An item's status shows as its tooltip; elsewhere the list's own tooltip still does.
    void itemTooltipOverTheListTooltip() {
        fill({"A", "B"});
        m_list->setItemStatus(1, ItemMark::Problem, "A is wrong");
        QCOMPARE(tooltipAt(rowPoint(0)), QStringLiteral("A is wrong"));
        QCOMPARE(tooltipAt(rowPoint(1)), m_list->toolTip());
        QCOMPARE(tooltipAt(emptySpace()), m_list->toolTip());
        QVERIFY(m_list->toolTip().startsWith("Drag and drop files here."));
    }

    void selectOnlyItemSelectsScrollsAndMakesCurrent() {
        QStringList items;
        for (int i = 0; i < 80; ++i)
            items << QStringLiteral("/data/file%1.xml").arg(i);
        fill(items);
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, rowPoint(0));
        QTest::mouseClick(m_list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(2));
        QVERIFY(!fullyVisible(m_list->topLevelItem(70)));

        m_list->selectOnlyItem(71);

        QCOMPARE(selectedRows(), QList<int>{70});
        QCOMPARE(m_list->currentItem(), m_list->topLevelItem(70));
        QVERIFY(fullyVisible(m_list->topLevelItem(70)));
    }

    void dragPointerComesFromTheIconFile() {
        QTemporaryDir folder;
        const QString icon = folder.filePath("drag.ico");
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(icon, "ICO"));
        fill({"A", "B"});

        m_list->setDragIconFile(icon);
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, rowPoint(0));
        QCOMPARE(m_list->viewport()->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(m_list->viewport()->cursor().pixmap().size(), QSize(32, 32));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(0));
        QVERIFY(!m_list->viewport()->testAttribute(Qt::WA_SetCursor)); // the window's pointer again
        QCOMPARE(m_list->viewport()->cursor().shape(), Qt::ArrowCursor);

        m_list->setDragIconFile(folder.filePath("missing.ico"));
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
        QCOMPARE(m_list->viewport()->cursor().shape(), Qt::DragMoveCursor);
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(1));
    }

private:
    void fill(const QStringList& items) {
        for (const QString& item : items)
            m_list->appendItem(item);
    }

    QPoint rowPoint(int row) const { return m_list->visualItemRect(m_list->topLevelItem(row)).center(); }

    QPoint emptySpace() const {
        const QPoint point(10, m_list->viewport()->height() - 5);
        if (m_list->itemAt(point))
            qWarning("the list has no empty space below its items");
        return point;
    }

    void dragAlong(const QList<int>& rows) {
        QTest::mousePress(m_list->viewport(), Qt::LeftButton, {}, rowPoint(rows.first()));
        for (int row : rows.mid(1))
            QTest::mouseMove(m_list->viewport(), rowPoint(row));
        QTest::mouseRelease(m_list->viewport(), Qt::LeftButton, {}, rowPoint(rows.last()));
    }

    QList<int> selectedRows() const {
        QList<int> rows;
        for (int row = 0; row < m_list->topLevelItemCount(); ++row)
            if (m_list->topLevelItem(row)->isSelected())
                rows << row;
        return rows;
    }

    // Each item as "mark tooltip".
    QStringList statuses() const {
        static const char* const names[] = {"none", "fine", "problem"};
        QStringList found;
        for (int index = 1; index <= m_list->itemCount(); ++index)
            found << QStringLiteral("%1 %2").arg(QLatin1String(names[int(m_list->itemMark(index))]),
                                                 m_list->itemStatus(index));
        return found;
    }

    QString tooltipAt(const QPoint& point) {
        QToolTip::hideText();
        QHelpEvent event(QEvent::ToolTip, point, m_list->viewport()->mapToGlobal(point));
        QApplication::sendEvent(m_list->viewport(), &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    bool fullyVisible(QTreeWidgetItem* item) const {
        return m_list->viewport()->rect().contains(m_list->visualItemRect(item));
    }

    std::unique_ptr<FileListView> m_list;
};

QTEST_MAIN(TestFileListView)
#include "tst_filelistview.moc"
