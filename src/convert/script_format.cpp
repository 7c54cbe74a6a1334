#include "convert/script_format.h"

#include <charconv>
#include <cstring>

namespace mid2nolt {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 18;
// Room for the longest fixed-format line with its numbers.
constexpr std::size_t kLineRoom = 128;

}  // namespace

ScriptStream::ScriptStream() : buffer_(new char[kBufferSize]) {}

ScriptStream::~ScriptStream() {
    close();
}

bool ScriptStream::open(const std::string& name) {
    close();
    name_ = name;
    failed_ = false;
    used_ = 0;
    file_ = std::fopen(name.c_str(), "w");
    if (file_ == nullptr) {
        return false;
    }
    // Our own buffer does the batching; a second copy through stdio's gains nothing.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
}

bool ScriptStream::close() {
    if (file_ == nullptr) {
        return true;
    }
    flush();
    if (std::fclose(file_) != 0) {
        failed_ = true;
    }
    file_ = nullptr;
    return !failed_;
}

void ScriptStream::flush() {
    if (used_ > 0 && std::fwrite(buffer_.get(), 1, used_, file_) != used_) {
        failed_ = true;
    }
    used_ = 0;
}

void ScriptStream::reserve(std::size_t count) {
    if (kBufferSize - used_ < count) {
        flush();
    }
}

void ScriptStream::put(std::string_view text) {
    if (text.size() > kBufferSize - used_) {
        flush();
        if (text.size() > kBufferSize) {
            if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
                failed_ = true;
            }
            return;
        }
    }
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
}

void ScriptStream::put(char c) {
    buffer_[used_++] = c;
}

void ScriptStream::putNumber(std::uint32_t value) {
    char* at = buffer_.get() + used_;
    used_ = static_cast<std::size_t>(std::to_chars(at, at + 10, value).ptr - buffer_.get());
}

void ScriptStream::wholeTrackHeader(std::uint32_t track, std::string_view baseName) {
    reserve(kLineRoom);
    put("; Converted from Track ");
    putNumber(track);
    put(" of ");
    put(baseName);
    put(".mid\n");
}

void ScriptStream::channelHeader(std::uint32_t track, std::uint32_t channel,
                                 std::string_view baseName) {
    reserve(kLineRoom);
    put("; Converted from Track ");
    putNumber(track);
    put(", Channel ");
    putNumber(channel);
    put(" of ");
    put(baseName);
    put(".mid\n");
}

void ScriptStream::wait(std::uint32_t ticks) {
    reserve(kLineRoom);
    put("\twait ");
    putNumber(ticks);
    put('\n');
}

void ScriptStream::rest(std::uint32_t ticks) {
    reserve(kLineRoom);
    put("\trest ");
    putNumber(ticks);
    put('\n');
}

void ScriptStream::note(std::uint8_t key, std::uint32_t ticks) {
    reserve(kLineRoom);
    put('\t');
    put(noteNames[key % 12]);
    putNumber(key / 12u);
    put(' ');
    putNumber(ticks);
    put('\n');
}

void ScriptStream::tickMark(std::uint32_t ticks) {
    reserve(kLineRoom);
    put("; Ticks ");
    putNumber(ticks);
    put('\n');
}

void ScriptStream::barHeading(std::uint32_t bar) {
    reserve(kLineRoom);
    put("; ---- Bar ");
    putNumber(bar);
    put(" ----\n;****************\n\n");
}

void ScriptStream::barsHeading(std::uint32_t firstBar, std::uint32_t lastBar) {
    reserve(kLineRoom);
    put("; ---- Bars ");
    putNumber(firstBar);
    put(" to ");
    putNumber(lastBar);
    put(" ----\n;****************\n\n");
}

void ScriptStream::textComment(const std::uint8_t* text, std::uint32_t length) {
    if (length == 0) {
        return;
    }
    const char* begin = reinterpret_cast<const char*>(text);
    const void* zero = std::memchr(begin, 0, length);
    const char* end = zero != nullptr ? static_cast<const char*>(zero) : begin + length;
    for (;;) {
        const char* lineEnd = begin;
        while (lineEnd != end && *lineEnd != '\n' && *lineEnd != '\r') {
            ++lineEnd;
        }
        reserve(kLineRoom);
        put("; ");
        put(std::string_view(begin, static_cast<std::size_t>(lineEnd - begin)));
        reserve(kLineRoom);
        put('\n');
        if (lineEnd == end) {
            return;
        }
        begin = lineEnd + 1;
        if (*lineEnd == '\r' && begin != end && *begin == '\n') {
            ++begin;
        }
    }
}

void ScriptStream::trailer(std::uint32_t totalTicks) {
    reserve(kLineRoom);
    put("\tend\n; Total Track Ticks : ");
    putNumber(totalTicks);
    put('\n');
}

}  // namespace mid2nolt
