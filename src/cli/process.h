// What both command-line programs share: exit statuses and an owned FILE.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "midi/messages.h"

namespace mid2nolt::cli {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The two command lines, each for a main of its own and for the WebAssembly
// core, which calls them as functions.
int convertProgram(int argc, char** argv);
int arrangeProgram(int argc, char** argv);

// The two conventional queries, only as the sole argument (a source named
// "--help" followed by options is still taken as a source): prints the usage
// and help, or the version, and gives true.
inline bool answerQuery(int argc, char** argv, const char* program, const char* usage,
                        const char* help) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s", usage, help);
        return true;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n%s", program, MID2NOLT_VERSION, messages::kCopyright);
        return true;
    }
    return false;
}

// A program's main: runs `run`, and when memory runs out says so and fails.
inline int runProgram(int (*run)(int, char**), int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s", messages::kOutOfMemory);
        return kFailure;
    }
}

}  // namespace mid2nolt::cli
