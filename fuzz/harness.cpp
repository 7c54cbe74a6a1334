#include "harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

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
            for (const auto& [name, text] : filesIn(dir)) {
                unlink((dir + "/" + name).c_str());
            }
            rmdir(dir.c_str());
        });
    }
    for (const auto& [name, text] : filesIn(dir)) {
        unlink((dir + "/" + name).c_str());
    }
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

bool isNumber(const std::string& text) {
    return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos &&
           (text.size() == 1 || text[0] != '0') && std::strtoull(text.c_str(), nullptr, 10) <= 0xFFFFFFFFull;
}

}  // namespace

std::size_t checkScript(const std::string& name, const std::string& text) {
    const std::string trailer = "\tend\n; Total Track Ticks : ";
    const std::size_t at = text.rfind(trailer);
    if (at == std::string::npos || text.empty() || text.back() != '\n') {
        fail(name + ": no trailer at the end");
    }
    const std::string total = text.substr(at + trailer.size(), text.size() - at - trailer.size() - 1);
    if (!isNumber(total)) {
        fail(name + ": trailer total is not a number");
    }
    std::uint32_t sum = 0;
    std::size_t timedLines = 0;
    std::size_t begin = 0;
    bool first = true;
    while (begin < at) {
        const std::size_t end = text.find('\n', begin);
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (first) {
            if (line.rfind("; Converted from Track ", 0) != 0) {
                fail(name + ": no header line");
            }
            first = false;
            continue;
        }
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] != '\t') {
            fail(name + ": a line that is neither comment nor command: " + line);
        }
        const std::size_t space = line.rfind(' ');
        const std::string command = line.substr(1, space - 1);
        const std::string number = line.substr(space + 1);
        const bool note = command.size() >= 3 && command.size() <= 4 && std::strchr("cdefgab", command[0]) &&
                          (command[1] == '.' || command[1] == 's');
        if (space == std::string::npos || !isNumber(number) || (command != "wait" && command != "rest" && !note)) {
            fail(name + ": malformed timed line: " + line);
        }
        sum += static_cast<std::uint32_t>(std::strtoul(number.c_str(), nullptr, 10));
        ++timedLines;
    }
    if (std::to_string(sum) != total) {
        fail(name + ": total " + total + " but the timed lines add up to " + std::to_string(sum));
    }
    return timedLines;
}

}  // namespace fuzzing
