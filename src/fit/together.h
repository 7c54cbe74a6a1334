// Two jobs of the fit run at once, on a second core where there is one.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace mid2nolt::fit {

// Notes from which a job is worth sharing: below, starting a thread costs
// more than it saves.
constexpr std::size_t kNotesWorthSharing = std::size_t{1} << 16;

// Whether a second thread may run beside this one: on two cores or more,
// unless the environment's MID2NOLT_THREADS is 1 (for a machine shared with
// other work, or an emulator that cannot start threads).
inline bool secondThread() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    return false;
#else
    static const bool second = [] {
        const char* const threads = std::getenv("MID2NOLT_THREADS");
        return (threads == nullptr || std::string_view(threads) != "1") &&
               std::thread::hardware_concurrency() >= 2;
    }();
    return second;
#endif
}

// Runs `first` and `second`, which write no data both touch: where `shared`,
// `second` on a thread of its own while `first` runs here; else, or where the
// system runs no second thread (a WebAssembly build without threads, one
// core, no thread to be had), one after the other. Returns once both have
// ended, and then throws what either threw (the first's where both did).
template <typename First, typename Second>
void runTogether(bool shared, First&& first, Second&& second) {
    if (!shared || !secondThread()) {
        first();
        second();
        return;
    }
#if !defined(__EMSCRIPTEN__) || defined(__EMSCRIPTEN_PTHREADS__)
    std::exception_ptr secondFailed;
    std::thread other;
    try {
        other = std::thread([&] {
            try {
                second();
            } catch (...) {
                secondFailed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        first();
        second();
        return;
    }
    std::exception_ptr firstFailed;
    try {
        first();
    } catch (...) {
        firstFailed = std::current_exception();
    }
    other.join();
    if (firstFailed || secondFailed) {
        std::rethrow_exception(firstFailed ? firstFailed : secondFailed);
    }
#endif
}

}  // namespace mid2nolt::fit
