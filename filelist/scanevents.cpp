#include "scanevents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <memory>

namespace corvanta {

PendingEvents throttledEvents(std::chrono::milliseconds interval) {
    // Shared, so that every copy the walk makes of the hook keeps one clock.
    auto last = std::make_shared<QElapsedTimer>();
    return [last, interval] {
        if (last->isValid() && last->elapsed() < interval.count())
            return;
        QCoreApplication::processEvents();
        last->start();
    };
}

} // namespace corvanta
