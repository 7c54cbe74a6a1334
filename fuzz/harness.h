#pragma once

// Shared pieces of the fuzz targets: output capture, a scratch folder, and
// script checks. Every broken invariant aborts with a message.

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace fuzzing {

[[noreturn]] void fail(const std::string& what);

// Captures stdout, stderr and, unless scripts go to disk, every script in
// memory while alive. glibc's standard streams are plain variables, so they are
// swapped for memory streams: no files and no descriptors per input.
class Capture {
public:
    explicit Capture(bool scriptsOnDisk);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    struct Result {
        std::string out;
        std::string err;
        std::map<std::string, std::string> scripts;  // by name, when kept in memory
    };
    // Restores the streams and returns what was written.
    Result take();

private:
    static std::FILE* openScript(const std::string& name);
    void restore();

    std::FILE* savedOut_ = nullptr;
    std::FILE* savedErr_ = nullptr;
    Result result_;
    bool active_ = false;
};

// A write-only stream that appends to `sink`; closing it finishes the text.
std::FILE* stringStream(std::string& sink);

// Whether the whole-run target writes real files and compares the folder with
// the console; set by the corpus replay, which runs in every test build.
extern bool scriptsOnDisk;

// A folder of this process (in memory where possible), emptied by each call.
std::string freshScratchDir();

// Every regular file in `dir` by name, with its content.
std::map<std::string, std::string> filesIn(const std::string& dir);

// A stream over the given bytes, positioned at the start.
std::FILE* streamOf(const std::uint8_t* data, std::size_t size);

// Checks one script: only known kinds of line, one trailer at the end, and a
// total equal to the sum of the timed lines modulo 2^32. Returns the number of
// timed lines.
std::size_t checkScript(const std::string& name, const std::string& script);

}  // namespace fuzzing
