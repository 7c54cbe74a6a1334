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

namespace fuzzing {

void fail(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

namespace {

std::string readAll(std::FILE* file) {
    std::fflush(file);
    std::string text;
    std::rewind(file);
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    return text;
}

}  // namespace

OutputCapture::OutputCapture() : out_(std::tmpfile()), err_(std::tmpfile()) {
    if (out_ == nullptr || err_ == nullptr) {
        fail("no temporary file for output capture");
    }
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = dup(1);
    savedErr_ = dup(2);
    dup2(fileno(out_), 1);
    dup2(fileno(err_), 2);
}

OutputCapture::~OutputCapture() {
    restore();
    std::fclose(out_);
    std::fclose(err_);
}

void OutputCapture::restore() {
    if (savedOut_ < 0) {
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, 1);
    dup2(savedErr_, 2);
    close(savedOut_);
    close(savedErr_);
    savedOut_ = savedErr_ = -1;
}

std::pair<std::string, std::string> OutputCapture::take() {
    restore();
    return {readAll(out_), readAll(err_)};
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
    std::FILE* file = std::tmpfile();
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size)) {
        fail("cannot stage the input");
    }
    std::rewind(file);
    return file;
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
