#include "convert/script_format.h"

#include <charconv>
#include <cstring>

namespace mid2nolt {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 18;
// Room for the longest fixed-format line with its numbers.
constexpr std::size_t kLineRoom = 128;

// "c.5", "g.10"...: the name and octave of every key byte, made once.
struct NoteText {
    char text[4];
    std::size_t length;
};

constexpr std::array<NoteText, 256> makeNoteTexts() {
    std::array<NoteText, 256> texts{};
    for (unsigned key = 0; key < 256; ++key) {
        NoteText& t = texts[key];
        t.text[0] = noteNames[key % 12][0];
        t.text[1] = noteNames[key % 12][1];
        const unsigned octave = key / 12;
        t.length = 2;
        if (octave >= 10) {
            t.text[t.length++] = static_cast<char>('0' + octave / 10);
        }
        t.text[t.length++] = static_cast<char>('0' + octave % 10);
    }
    return texts;
}

constexpr std::array<NoteText, 256> kNoteTexts = makeNoteTexts();

}  // namespace

ScriptStream::ScriptStream() : buffer_(new char[kBufferSize]) {}

ScriptStream::~ScriptStream() {
    close();
}

bool ScriptStream::open(const std::string& name) {
    std::FILE* file = nullptr;
    if (scriptOpener != nullptr) {
        file = scriptOpener(name);
    } else if ((file = std::fopen(name.c_str(), "w")) != nullptr) {
        // Our own buffer does the batching; a second copy through stdio's gains nothing.
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    if (file == nullptr) {
        close();
        return false;
    }
    adopt(file, name);
    return true;
}

void ScriptStream::adopt(std::FILE* file, const std::string& name) {
    close();
    file_ = file;
    name_ = name;
    failed_ = false;
    used_ = 0;
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

void ScriptStream::putNumber(std::uint32_t value) {
    char* at = buffer_.get() + used_;
    used_ = static_cast<std::size_t>(std::to_chars(at, at + 10, value).ptr - buffer_.get());
}

void ScriptStream::wholeTrackHeader(std::uint32_t track, std::string_view baseName) {
    reserve(kLineRoom);
    append("; Converted from Track ");
    putNumber(track);
    append(" of ");
    put(baseName);
    reserve(kLineRoom);
    append(".mid\n");
}

void ScriptStream::channelHeader(std::uint32_t track, std::uint32_t channel,
                                 std::string_view baseName) {
    reserve(kLineRoom);
    append("; Converted from Track ");
    putNumber(track);
    append(", Channel ");
    putNumber(channel);
    append(" of ");
    put(baseName);
    reserve(kLineRoom);
    append(".mid\n");
}

template <std::size_t N>
void ScriptStream::numberLine(const char (&prefix)[N], std::uint32_t value) {
    reserve(kLineRoom);
    append(prefix);
    putNumber(value);
    append('\n');
}

void ScriptStream::wait(std::uint32_t ticks) {
    numberLine("\twait ", ticks);
}

void ScriptStream::rest(std::uint32_t ticks) {
    numberLine("\trest ", ticks);
}

void ScriptStream::note(std::uint8_t key, std::uint32_t ticks) {
    reserve(kLineRoom);
    append('\t');
    const NoteText& name = kNoteTexts[key];
    std::memcpy(buffer_.get() + used_, name.text, sizeof name.text);
    used_ += name.length;
    append(' ');
    putNumber(ticks);
    append('\n');
}

void ScriptStream::tickMark(std::uint32_t ticks) {
    numberLine("; Ticks ", ticks);
}

void ScriptStream::barHeading(std::uint32_t bar) {
    reserve(kLineRoom);
    append("; ---- Bar ");
    putNumber(bar);
    append(" ----\n;****************\n\n");
}

void ScriptStream::barsHeading(std::uint32_t firstBar, std::uint32_t lastBar) {
    reserve(kLineRoom);
    append("; ---- Bars ");
    putNumber(firstBar);
    append(" to ");
    putNumber(lastBar);
    append(" ----\n;****************\n\n");
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
        append("; ");
        put(std::string_view(begin, static_cast<std::size_t>(lineEnd - begin)));
        reserve(kLineRoom);
        append('\n');
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
    append("\tend\n; Total Track Ticks : ");
    putNumber(totalTicks);
    append('\n');
}

}  // namespace mid2nolt
