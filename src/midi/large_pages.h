// Memory for the arrays that hold every note of a song at once. Filling tens
// of MiB a 4 KiB page at a time costs a page fault per page, which on a
// virtual machine takes longer than the work done on the page; where the
// system has large pages (Linux), arrays of 1 MiB and more ask for them.
// Their elements are default-initialised, not zeroed.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace mid2nolt {

void* allocateLarge(std::size_t bytes);
void freeLarge(void* data, std::size_t bytes) noexcept;

// Frees what allocateLarge gave, for a unique_ptr.
struct LargeRelease {
    std::size_t bytes = 0;
    void operator()(void* data) const noexcept { freeLarge(data, bytes); }
};

template <typename T>
struct LargePageAllocator {
    using value_type = T;

    LargePageAllocator() = default;
    template <typename U>
    explicit LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(allocateLarge(count * sizeof(T)));
    }
    void deallocate(T* data, std::size_t count) noexcept { freeLarge(data, count * sizeof(T)); }

    // An element made without a value is default-initialised: an array of n
    // numbers is not zeroed first, as each of these is written before it is
    // read.
    template <typename U>
    void construct(U* at) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(at)) U;
    }
    template <typename U, typename... Args>
    void construct(U* at, Args&&... args) {
        ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }

    friend bool operator==(const LargePageAllocator&, const LargePageAllocator&) { return true; }
};

template <typename T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace mid2nolt
