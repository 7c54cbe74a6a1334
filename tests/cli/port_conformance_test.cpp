// The converter under test (another platform's build) against the one built
// here, on every shared real MIDI file, with and without -p: console, exit
// status and every script must be identical once the port's line ends are
// read as LF. Skipped when the shared files are absent.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RunResult;
using testing_support::TempDir;

// A run of the converter, or of the arranger, in a folder of its own that
// holds a copy of the sample.
RunResult runOn(const fs::path& sample, const std::vector<std::string>& options, bool native,
                bool arranger = false) {
    TempDir dir;
    fs::copy_file(sample, dir / sample.filename().string());
    std::vector<std::string> args{sample.filename().string()};
    args.insert(args.end(), options.begin(), options.end());
    if (arranger) {
        return native ? testing_support::runNativeArranger(dir.path(), args)
                      : testing_support::runArranger(dir.path(), args);
    }
    return native ? testing_support::runNativeTool(dir.path(), args)
                  : testing_support::runTool(dir.path(), args);
}

class PortConformance : public testing::TestWithParam<fs::path> {};

TEST_P(PortConformance, SameAsNative) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"-p"}}) {
        const RunResult port = runOn(GetParam(), options, false);
        const RunResult native = runOn(GetParam(), options, true);
        EXPECT_EQ(port.out, native.out);
        EXPECT_EQ(port.err, native.err);
        EXPECT_EQ(port.status, native.status);
        EXPECT_EQ(port.files, native.files);
    }
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"--voices", "2"}}) {
        const RunResult port = runOn(GetParam(), options, false, true);
        const RunResult native = runOn(GetParam(), options, true, true);
        EXPECT_EQ(port.out, native.out);
        EXPECT_EQ(port.err, native.err);
        EXPECT_EQ(port.status, native.status);
        EXPECT_EQ(port.files, native.files);
    }
}

INSTANTIATE_TEST_SUITE_P(Samples, PortConformance,
                         testing::ValuesIn(testing_support::sharedSamples()),
                         [](const testing::TestParamInfo<fs::path>& info) {
                             std::string name =
                                 std::to_string(info.index) + "_" + info.param.stem().string();
                             for (char& c : name) {
                                 if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PortConformance);

TEST(PortConformance, SamplesPresent) {
    if (testing_support::sharedSamples().empty()) {
        GTEST_SKIP() << "no shared MIDI files in " << testing_support::kSharedSamples;
    }
}

}  // namespace
