// Set before main() runs, in every program and test that links the allocator.
#include <mimalloc.h>

namespace {

// Memory that a thread frees goes back to the system at once instead of after a delay: a Merge frees each input's
// document while the next one is parsed on another thread, which would otherwise take fresh memory meanwhile and
// raise the peak by a document.
const bool g_configured = [] {
    mi_option_set(mi_option_decommit_delay, 0);
    return true;
}();

} // namespace
