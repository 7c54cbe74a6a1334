#include "harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "convert/script_format.h"

namespace fuzzing {

void fail(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

bool scriptsOnDisk = false;

namespace {

Capture* current = nullptr;

}  // namespace

std::FILE* stringStream(std::string& sink) {
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
        static_cast<std::string*>(cookie)->append(data, size);
        return static_cast<ssize_t>(size);
    };
    std::FILE* stream = fopencookie(&sink, "w", io);
    if (stream == nullptr) {
        fail("no memory stream for output capture");
    }
    // Every write goes straight to the string: no stdio buffer to set up.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

Capture::Capture(bool scriptsOnDisk) {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = stdout;
    savedErr_ = stderr;
    stdout = stringStream(result_.out);
    stderr = stringStream(result_.err);
    if (!scriptsOnDisk) {
        current = this;
        mid2nolt::scriptOpener = &Capture::openScript;
    }
    active_ = true;
}

Capture::~Capture() {
    restore();
}

std::FILE* Capture::openScript(const std::string& name) {
    auto [at, added] = current->result_.scripts.try_emplace(name);
    if (!added) {
        fail("script created twice: " + name);
    }
    return stringStream(at->second);
}

void Capture::restore() {
    if (!active_) {
        return;
    }
    std::fclose(stdout);
    std::fclose(stderr);
    stdout = savedOut_;
    stderr = savedErr_;
    mid2nolt::scriptOpener = nullptr;
    current = nullptr;
    active_ = false;
}

Capture::Result Capture::take() {
    // Every script stream is closed by the time the run returns, so each
    // string holds the whole script.
    restore();
    return std::move(result_);
}

namespace {

// Removes what the folder holds, without reading any of it.
void emptyDir(const std::string& dir) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

}  // namespace

std::string freshScratchDir() {
    static std::string dir;
    if (dir.empty()) {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/mid2nolt-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            fail("cannot create a scratch folder");
        }
        dir = pattern;
        std::atexit([] {
            emptyDir(dir);
            rmdir(dir.c_str());
        });
    }
    emptyDir(dir);
    return dir;
}

std::map<std::string, std::string> filesIn(const std::string& dir) {
    std::map<std::string, std::string> files;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return files;
    }
    while (dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        files[name] = content.str();
    }
    closedir(d);
    return files;
}

std::FILE* streamOf(const std::uint8_t* data, std::size_t size) {
    if (size > 0) {
        // Reads straight from the fuzzer's buffer; nothing writes through it.
        std::FILE* memory = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (memory == nullptr) {
            fail("cannot stage the input");
        }
        return memory;
    }
    // A memory stream needs at least one byte; an empty input is an empty file.
    std::FILE* empty = std::fopen("/dev/null", "rb");
    if (empty == nullptr) {
        fail("cannot stage the input");
    }
    return empty;
}

namespace {

// A decimal number as the scripts write it: no sign, no leading zero, 32 bits.
bool parseNumber(std::string_view text, std::uint32_t& value) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    std::uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    value = static_cast<std::uint32_t>(result);
    return result <= 0xFFFFFFFFu;
}

bool isNoteName(std::string_view command) {
    return (command.size() == 3 || command.size() == 4) &&
           std::strchr("cdefgab", command[0]) != nullptr &&
           (command[1] == '.' || command[1] == 's') && command[2] >= '0' && command[2] <= '9';
}

}  // namespace

std::size_t checkScript(const std::string& name, const std::string& script) {
    const std::string_view text(script);
    const std::string_view trailer = "\tend\n; Total Track Ticks : ";
    const std::size_t at = text.rfind(trailer);
    std::uint32_t total = 0;
    if (at == std::string_view::npos || text.back() != '\n' ||
        !parseNumber(text.substr(at + trailer.size(), text.size() - at - trailer.size() - 1),
                     total)) {
        fail(name + ": no trailer with a total at the end");
    }
    std::uint32_t sum = 0;
    std::size_t timedLines = 0;
    std::size_t begin = 0;
    bool first = true;
    while (begin < at) {
        const std::size_t end = text.find('\n', begin);
        const std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        if (first) {
            if (line.substr(0, 23) != "; Converted from Track ") {
                fail(name + ": no header line");
            }
            first = false;
            continue;
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        const std::size_t space = line.rfind(' ');
        std::uint32_t ticks = 0;
        if (line[0] != '\t' || space == std::string_view::npos ||
            !parseNumber(line.substr(space + 1), ticks)) {
            fail(name + ": a line that is neither comment nor timed line: " + std::string(line));
        }
        const std::string_view command = line.substr(1, space - 1);
        if (command != "wait" && command != "rest" && !isNoteName(command)) {
            fail(name + ": unknown command: " + std::string(line));
        }
        sum += ticks;
        ++timedLines;
    }
    if (sum != total) {
        fail(name + ": total " + std::to_string(total) + " but the timed lines add up to " +
             std::to_string(sum));
    }
    return timedLines;
}

}  // namespace fuzzing
