#pragma once

#include "folderscan.h"

#include <chrono>

namespace corvanta {

/// The window's pending events for a folder walk: processed at the first call, then at most once per
/// \a interval. A walk calls its hook for every entry it meets; handling the events that often would cost more
/// than the walk itself, while once per interval keeps the window repainting and every command available.
PendingEvents throttledEvents(std::chrono::milliseconds interval);

} // namespace corvanta
