// What both command-line programs share: exit statuses and an owned FILE.
#pragma once

#include <cstdio>
#include <memory>
#include <new>

namespace mid2nolt::cli {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The arranger's command line, for a main of its own or, in the WebAssembly
// core, the converter's main when called by the arranger's name.
int arrangeProgram(int argc, char** argv);
// The WebAssembly core's reading of a file's notes for the browser module.
int notesProgram(int argc, char** argv);

// A program's main: runs `run`, and when memory runs out says so and fails.
inline int runProgram(int (*run)(int, char**), int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s", "ERROR- Out of Memory\n");
        return kFailure;
    }
}

}  // namespace mid2nolt::cli
