#pragma once

#include <QEvent>
#include <QObject>

/// Counts the events of one type that reach the objects it is installed on, passing them on untouched: whether a
/// window's close procedure ran, how often a widget painted.
class EventCounter : public QObject {
public:
    explicit EventCounter(QEvent::Type type)
        : m_type(type) {}

    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == m_type;
        return false;
    }

private:
    QEvent::Type m_type;
};
