#include "convert/script_format.h"

#include <gtest/gtest.h>

#include <string>

#include "support/conversion_fixture.h"

namespace {

using testing_support::scriptText;

TEST(ScriptFormat, HeadersAndFixedLines) {
    EXPECT_EQ(scriptText([](mid2nolt::ScriptStream& out) {
                  out.wholeTrackHeader(0, "dir/Song");
                  out.channelHeader(65534, 15, "");
                  out.barHeading(4);
                  out.barsHeading(4, 6);
                  out.tickMark(4294967295u);
                  out.trailer(0);
              }),
              "; Converted from Track 0 of dir/Song.mid\n"
              "; Converted from Track 65534, Channel 15 of .mid\n"
              "; ---- Bar 4 ----\n;****************\n\n"
              "; ---- Bars 4 to 6 ----\n;****************\n\n"
              "; Ticks 4294967295\n"
              "\tend\n; Total Track Ticks : 0\n");
}

// Lines far beyond the stream's buffer arrive whole and in order.
TEST(ScriptFormat, LongTextAndManyLines) {
    const std::string text(1'000'000, 'x');
    std::string expected = "; " + text + "\n";
    const std::string written = scriptText([&](mid2nolt::ScriptStream& out) {
        out.textComment(reinterpret_cast<const std::uint8_t*>(text.data()),
                        static_cast<std::uint32_t>(text.size()));
        for (std::uint32_t i = 0; i < 100000; ++i) {
            out.rest(i);
        }
    });
    for (std::uint32_t i = 0; i < 100000; ++i) {
        expected += "\trest " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(written, expected);
}

TEST(ScriptFormat, OpenFailureAndCloseWithoutFile) {
    mid2nolt::ScriptStream out;
    EXPECT_TRUE(out.close());
    EXPECT_FALSE(out.open("/nonexistent-directory/script.txt"));
}

}  // namespace
