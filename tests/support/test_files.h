#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/smf_builder.h"

namespace testing_support {

// A fresh directory under the system's temporary folder, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const smf::Bytes& bytes);
void writeFile(const std::filesystem::path& path, const std::string& text);
std::string readFile(const std::filesystem::path& path);
// Every regular file below `dir`, by path relative to it, with its content.
std::map<std::string, std::string> filesIn(const std::filesystem::path& dir);

// The shared real MIDI files: every .mid below kSharedSamples, sorted; none
// when the folder is absent.
inline constexpr const char* kSharedSamples = MID2NOLT_SAMPLES;
std::vector<std::filesystem::path> sharedSamples();

// Whether the converter under test is a Windows build (run under wine here):
// its console and scripts end their lines in CR LF.
constexpr bool kWindowsBuild = MID2NOLT_TEST_WINDOWS != 0;

// A whole run of the converter binary with `dir` as working directory. For a
// Windows build, every line end of the console and of each file the run wrote
// must be CR LF (a test failure otherwise) and is given here as LF, so that
// the same expectations serve every build.
struct RunResult {
    std::string out;
    std::string err;
    int status = -1;
    std::map<std::string, std::string> files;  // every file in `dir` after the run
};
RunResult runTool(const std::filesystem::path& dir, const std::vector<std::string>& args);
// The same with the converter built natively here, whatever the build under test.
RunResult runNativeTool(const std::filesystem::path& dir, const std::vector<std::string>& args);
// The same two for the arranger (mid2nolt-arrange) of the build under test.
RunResult runArranger(const std::filesystem::path& dir, const std::vector<std::string>& args);
RunResult runNativeArranger(const std::filesystem::path& dir, const std::vector<std::string>& args);

}  // namespace testing_support
