#include "shell/tabcontrol.h"

#include <QEvent>

namespace corvanta {

TabControl::TabControl(QWidget* parent)
    : QTabWidget(parent) {}

void TabControl::placeInside(QWidget* child, QPoint position) {
    m_placements.append({child, position});
    placeChildren();
}

void TabControl::resizeEvent(QResizeEvent* event) {
    QTabWidget::resizeEvent(event);
    placeChildren();
}

void TabControl::showEvent(QShowEvent* event) {
    // The pages get their places only when the tab widget is first shown.
    QTabWidget::showEvent(event);
    placeChildren();
}

void TabControl::changeEvent(QEvent* event) {
    QTabWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        placeChildren();
}

void TabControl::placeChildren() {
    for (const Placement& placement : std::as_const(m_placements)) {
        const QWidget* page = placement.child->parentWidget();
        const QPoint inPage = placement.position - page->mapTo(this, QPoint(0, 0));
        placement.child->move(qMax(inPage.x(), 0), qMax(inPage.y(), 0));
    }
}

} // namespace corvanta
