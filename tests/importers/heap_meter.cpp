#include "heap_meter.h"

#include <atomic>
#include <cerrno>
#include <cstdint>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FYREL_HEAP_METER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FYREL_HEAP_METER_ASAN 1
#endif

namespace {

std::atomic<std::size_t> inUse{0};
std::atomic<std::size_t> peak{0};

void counted(std::size_t bytes)
{
    const std::size_t now = inUse.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::size_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void released(std::size_t bytes)
{
    inUse.fetch_sub(bytes, std::memory_order_relaxed);
}

}  // namespace

#ifdef FYREL_HEAP_METER_ASAN

// The sanitizer runtime's allocator interface (declared here: not every
// compiler ships its header).
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, std::size_t),
                                              void (*freeHook)(const volatile void*));
std::size_t __sanitizer_get_allocated_size(const volatile void* p);
int __sanitizer_get_ownership(const volatile void* p);
}

namespace {

void onMalloc(const volatile void* p, std::size_t)
{
    if (p) {
        counted(__sanitizer_get_allocated_size(p));
    }
}

void onFree(const volatile void* p)
{
    // Called while the block still belongs to the program.
    if (p && __sanitizer_get_ownership(p)) {
        released(__sanitizer_get_allocated_size(p));
    }
}

[[maybe_unused]] const int kHooksInstalled = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);

}  // namespace

#else

// glibc's own allocator behind the replaced entry points.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
std::size_t malloc_usable_size(void* p) noexcept;
}

namespace {

void* track(void* p)
{
    if (p) {
        counted(malloc_usable_size(p));
    }
    return p;
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) noexcept
{
    return track(__libc_malloc(size));
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    return track(__libc_calloc(count, size));
}

void free(void* p) noexcept
{
    if (p) {
        released(malloc_usable_size(p));
        __libc_free(p);
    }
}

void* realloc(void* p, std::size_t size) noexcept
{
    const std::size_t old = p ? malloc_usable_size(p) : 0;
    void* q = __libc_realloc(p, size);
    if (q || size == 0) {
        released(old);
        if (q) {
            counted(malloc_usable_size(q));
        }
    }
    return q;
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    return track(__libc_memalign(alignment, size));
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    return track(__libc_memalign(alignment, size));
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    void* p = track(__libc_memalign(alignment, size));
    if (!p && size != 0) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

void* valloc(std::size_t size) noexcept
{
    return track(__libc_memalign(4096, size));
}

void* pvalloc(std::size_t size) noexcept
{
    return track(__libc_memalign(4096, (size + 4095) / 4096 * 4096));
}

}  // extern "C"

#endif

namespace fyrel::test {

std::size_t heapInUse()
{
    return inUse.load(std::memory_order_relaxed);
}

std::size_t heapPeak()
{
    return peak.load(std::memory_order_relaxed);
}

void resetHeapPeak()
{
    peak.store(inUse.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

HeapMeasure::HeapMeasure() : start_(heapInUse())
{
    resetHeapPeak();
}

std::size_t HeapMeasure::peakAbove() const
{
    const std::size_t top = heapPeak();
    return top > start_ ? top - start_ : 0;
}

}  // namespace fyrel::test
