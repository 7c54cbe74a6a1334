#include "support/test_files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "mid2nolt-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; open them up so all can go.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const smf::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::map<std::string, std::string> filesIn(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), dir).string()] = readFile(entry.path());
        }
    }
    return files;
}

std::vector<fs::path> sharedSamples() {
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(kSharedSamples, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (it->is_regular_file() && extension == ".mid") {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

namespace {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

// CR LF becomes LF; a line feed without its carriage return fails the test.
std::string fromWindowsLines(const std::string& what, const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            ADD_FAILURE() << what << ": a line ends without CR at byte " << i;
        }
        lines += text[i];
    }
    return lines;
}

// How long one run of a program may take, and the exit statuses of
// timeout(1) for a run it ended: by SIGTERM, or by SIGKILL after 10 s more.
constexpr int kRunSeconds = 300;
constexpr int kTimedOut = 124;
constexpr int kKilled = 137;

// `windows`: the console ends its lines in CR LF, and so do the files written
// when `textFiles` (scripts; an arranged MIDI file is bytes).
RunResult runBinary(const fs::path& dir, const std::vector<std::string>& args,
                    const std::string& runner, const std::string& binary, bool windows,
                    bool textFiles = true) {
    // Captured streams go beside the run's folder, so the folder holds only
    // what the tool wrote.
    TempDir capture;
    // For a Windows build, files that were there before the run are not its output.
    const std::map<std::string, std::string> before =
        windows ? filesIn(dir) : std::map<std::string, std::string>{};
    // No run waits for ever: one that has not ended in time is ended (and
    // killed where it ignores that), and fails the test naming itself.
    std::string command =
        "cd " + shellQuote(dir.string()) + " && timeout -k 10 " + std::to_string(kRunSeconds) + " ";
    if (!runner.empty()) {
        command += runner + " ";
    }
    command += shellQuote(binary);
    for (const std::string& arg : args) {
        command += ' ';
        command += shellQuote(arg);
    }
    command += " </dev/null >" + shellQuote((capture / "out").string()) + " 2>" +
               shellQuote((capture / "err").string());
    RunResult result;
    // The converter never fails without a word; a failure that wrote nothing
    // under an emulator is the emulator failing to start (wine under load), and
    // is tried once more.
    for (int attempt = 0; attempt < (runner.empty() ? 1 : 2); ++attempt) {
        const int raw = std::system(command.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = readFile(capture / "out");
        result.err = readFile(capture / "err");
        if (result.status == kTimedOut || result.status == kKilled) {
            ADD_FAILURE() << "hung: ran past " << kRunSeconds << " s and was ended: " << command;
            break;
        }
        if (result.status == 0 || !result.out.empty() || !result.err.empty()) {
            break;
        }
    }
    result.files = filesIn(dir);
    if (windows) {
        result.out = fromWindowsLines("stdout", result.out);
        result.err = fromWindowsLines("stderr", result.err);
    }
    if (windows && textFiles) {
        for (auto& [name, content] : result.files) {
            const auto old = before.find(name);
            if (old == before.end() || old->second != content) {
                content = fromWindowsLines(name, content);
            }
        }
    }
    return result;
}

}  // namespace

RunResult runTool(const fs::path& dir, const std::vector<std::string>& args) {
    return runBinary(dir, args, MID2NOLT_TEST_EMULATOR, MID2NOLT_TEST_EXE, kWindowsBuild);
}

RunResult runNativeTool(const fs::path& dir, const std::vector<std::string>& args) {
    return runBinary(dir, args, "", MID2NOLT_BINARY, false);
}

RunResult runArranger(const fs::path& dir, const std::vector<std::string>& args) {
    return runBinary(dir, args, MID2NOLT_TEST_EMULATOR, MID2NOLT_TEST_ARRANGER, kWindowsBuild,
                     false);
}

RunResult runNativeArranger(const fs::path& dir, const std::vector<std::string>& args) {
    return runBinary(dir, args, "", MID2NOLT_ARRANGER_BINARY, false, false);
}

}  // namespace testing_support
