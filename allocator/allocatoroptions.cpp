// Set before main() runs, in every program and test that links the allocator.
#include <cstddef>
#include <mimalloc.h>
#include <new>

namespace {

// Memory that a thread frees goes back to the system at once instead of after a delay: a Merge frees each input's
// document while the next one is parsed on another thread, which would otherwise take fresh memory meanwhile and
// raise the peak by a document.
const bool g_configured = [] {
    mi_option_set(mi_option_decommit_delay, 0);
    return true;
}();

// mimalloc's own operator new ends the process when memory runs out; these throw std::bad_alloc as the language
// says (after the new-handler, if one is set), so that the program can say what went wrong and clean up.
void* allocate(std::size_t size, std::size_t alignment = 0) {
    for (;;) {
        if (void* memory = alignment ? mi_malloc_aligned(size, alignment) : mi_malloc(size))
            return memory;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void* tryAllocate(std::size_t size, std::size_t alignment = 0) noexcept {
    try {
        return allocate(size, alignment);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocate(size, std::size_t(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocate(size, std::size_t(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tryAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return tryAllocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return tryAllocate(size, std::size_t(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return tryAllocate(size, std::size_t(alignment));
}

void operator delete(void* memory) noexcept {
    mi_free(memory);
}
void operator delete[](void* memory) noexcept {
    mi_free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    mi_free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    mi_free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    mi_free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    mi_free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    mi_free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    mi_free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    mi_free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    mi_free(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    mi_free(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    mi_free(memory);
}
