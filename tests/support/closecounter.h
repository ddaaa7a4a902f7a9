#pragma once

#include <QEvent>
#include <QObject>

/// Counts the close events of the widgets it is installed on, to show whether a window's close procedure ran.
class CloseCounter : public QObject {
public:
    int closes = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        closes += event->type() == QEvent::Close;
        return false;
    }
};
