#pragma once

#include "engine/files/folderscan.h"

#include <chrono>

namespace corvanta {

/// The window's pending events for a folder walk: processed at the first call, then again once \a interval has
/// passed and the walk has had twice the time the last handling took (but never more than a tenth of a second). A walk
/// calls its hook for every entry it meets; handling the events that often would cost far more than the walk itself
/// (each round lays out and paints the growing list), while this pace keeps the window repainting and every command
/// available and leaves the walk most of the time.
PendingEvents throttledEvents(std::chrono::milliseconds interval);

} // namespace corvanta
