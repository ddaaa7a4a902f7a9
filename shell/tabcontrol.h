#pragma once

#include <QList>
#include <QPoint>
#include <QTabWidget>

namespace corvanta {

/// A tab widget whose page contents keep fixed places measured from the tab control's own top-left corner,
/// whatever room the tab bar and frame of the current style take.
class TabControl : public QTabWidget {
    Q_OBJECT

public:
    explicit TabControl(QWidget* parent = nullptr);

    /// Keeps \a child, a widget on one of the pages, with its top-left corner at \a position (pixels from the
    /// tab control's top-left corner; never above or left of its page).
    void placeInside(QWidget* child, QPoint position);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void placeChildren();

    struct Placement {
        QWidget* child;
        QPoint position;
    };
    QList<Placement> m_placements;
};

} // namespace corvanta
