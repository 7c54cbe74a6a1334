#include "midi/large_pages.h"

#include <cstdint>

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#define MID2NOLT_LARGE_PAGES 1
#endif

namespace mid2nolt {

#ifdef MID2NOLT_LARGE_PAGES

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;
// From half a large page on, an array takes a whole one: at most 1 MiB is
// left unused, where the faults saved are 256 or more.
constexpr std::size_t kLargeFrom = kLargePage / 2;

std::size_t roundUp(std::size_t bytes) {
    return (bytes + kLargePage - 1) / kLargePage * kLargePage;
}

}  // namespace

// A mapping of its own, aligned to a large page so that all of it can take
// them; the kernel may still give small pages (the advice is a hint).
void* allocateLarge(std::size_t bytes) {
    if (bytes < kLargeFrom) {
        return ::operator new(bytes);
    }
    if (bytes > std::numeric_limits<std::size_t>::max() - 2 * kLargePage) {
        throw std::bad_alloc();
    }
    const std::size_t size = roundUp(bytes);
    const std::size_t mapped = size + kLargePage;
    void* map = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        throw std::bad_alloc();
    }
    auto* const start = static_cast<char*>(map);
    const std::size_t skip =
        (kLargePage - reinterpret_cast<std::uintptr_t>(start) % kLargePage) % kLargePage;
    if (skip > 0) {
        munmap(start, skip);
    }
    char* const data = start + skip;
    munmap(data + size, mapped - skip - size);  // never empty: skip < kLargePage
    madvise(data, size, MADV_HUGEPAGE);
    return data;
}

void freeLarge(void* data, std::size_t bytes) noexcept {
    if (bytes < kLargeFrom) {
        ::operator delete(data);
    } else {
        munmap(data, roundUp(bytes));
    }
}

#else

void* allocateLarge(std::size_t bytes) {
    return ::operator new(bytes);
}

void freeLarge(void* data, std::size_t) noexcept {
    ::operator delete(data);
}

#endif

}  // namespace mid2nolt
