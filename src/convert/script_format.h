#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace mid2nolt {

// Note names by key modulo 12: naturals are a letter and '.', sharps a letter and 's'.
inline constexpr std::array<const char*, 12> noteNames = {"c.", "cs", "d.", "ds", "e.", "f.",
                                                          "fs", "g.", "gs", "a.", "as", "b."};

// Creates the stream a script is written to; null when it cannot. Null (the
// default) creates files in text mode; the fuzzer keeps scripts in memory.
inline std::FILE* (*scriptOpener)(const std::string& name) = nullptr;

// One NOLT Script being written. Every line of a script is produced here.
// Lines are gathered in a large buffer and written with few system calls.
class ScriptStream {
public:
    ScriptStream();
    ~ScriptStream();
    ScriptStream(const ScriptStream&) = delete;
    ScriptStream& operator=(const ScriptStream&) = delete;

    // Creates or truncates the file `name` for writing. False if it cannot.
    bool open(const std::string& name);
    // Writes to a stream that is already open (a memory stream, say); the
    // script stream closes it.
    void adopt(std::FILE* file, const std::string& name);
    // Writes what is buffered and closes the file. False if any write or the
    // close failed. Does nothing and returns true when no file is open.
    bool close();
    const std::string& name() const { return name_; }

    void wholeTrackHeader(std::uint32_t track, std::string_view baseName);
    void channelHeader(std::uint32_t track, std::uint32_t channel, std::string_view baseName);
    void wait(std::uint32_t ticks);
    void rest(std::uint32_t ticks);
    void note(std::uint8_t key, std::uint32_t ticks);
    void tickMark(std::uint32_t ticks);
    void barHeading(std::uint32_t bar);
    void barsHeading(std::uint32_t firstBar, std::uint32_t lastBar);
    // A text event as comment lines: cut at its first zero byte, then one
    // "; " line per line of text (LF, CR and CR LF end a line), so that no text
    // can start a line that is not a comment.
    void textComment(const std::uint8_t* text, std::uint32_t length);
    void trailer(std::uint32_t totalTicks);

private:
    // Appends text of any length, flushing as needed.
    void put(std::string_view text);
    // Unchecked appends: the caller has made room for the whole line.
    template <std::size_t N>
    void append(const char (&literal)[N]) {
        std::memcpy(buffer_.get() + used_, literal, N - 1);
        used_ += N - 1;
    }
    void append(char c) { buffer_[used_++] = c; }
    void putNumber(std::uint32_t value);
    // A line of `prefix` and a number.
    template <std::size_t N>
    void numberLine(const char (&prefix)[N], std::uint32_t value);
    void reserve(std::size_t count);
    void flush();

    std::FILE* file_ = nullptr;
    std::string name_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace mid2nolt
