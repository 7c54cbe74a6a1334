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

// Redirects stdout and stderr into files while alive; take() returns what was written.
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    // Restores the streams and returns stdout's and stderr's text.
    std::pair<std::string, std::string> take();

private:
    void restore();
    int savedOut_ = -1;
    int savedErr_ = -1;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

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
