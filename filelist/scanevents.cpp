#include "filelist/scanevents.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <memory>

namespace corvanta {

namespace {

// However long the last handling took (a dialog opened from the walk's events holds it for as long as it is open),
// the window gets its events again at least ten times a second.
constexpr qint64 longestGapNs = 100'000'000;

struct Pacing {
    QElapsedTimer sinceLast;
    qint64 gapNs = 0;
};

} // namespace

PendingEvents throttledEvents(std::chrono::milliseconds interval) {
    // Shared, so that every copy the walk makes of the hook keeps one clock.
    auto pacing = std::make_shared<Pacing>();
    const qint64 intervalNs = std::chrono::nanoseconds(interval).count();
    return [pacing, intervalNs] {
        if (pacing->sinceLast.isValid() && pacing->sinceLast.nsecsElapsed() < pacing->gapNs)
            return;
        QElapsedTimer handling;
        handling.start();
        QCoreApplication::processEvents();
        pacing->gapNs = std::max(intervalNs, std::min(2 * handling.nsecsElapsed(), longestGapNs));
        pacing->sinceLast.start();
    };
}

} // namespace corvanta
