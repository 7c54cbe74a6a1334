#include "midi/song.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "midi/source_reader.h"
#include "support/smf_builder.h"

namespace {

using smf::operator+;

using mid2nolt::loadSong;
using mid2nolt::Song;

// A stream holding the given bytes, positioned at its start.
struct MemoryFile {
    explicit MemoryFile(const smf::Bytes& bytes) : file(std::tmpfile()) {
        if (!bytes.empty()) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
        }
        std::rewind(file);
    }
    ~MemoryFile() { std::fclose(file); }
    std::FILE* file;
};

struct LoadResult {
    std::int32_t result;
    std::string out;
    std::string err;
};

LoadResult load(const smf::Bytes& bytes, Song& song) {
    MemoryFile source(bytes);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const std::int32_t result = loadSong(source.file, song);
    std::fflush(stdout);
    return {result, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

TEST(ReadBigEndian, ValuesAndShortReads) {
    MemoryFile source({0x00, 0x00, 0x01, 0xE0, 0xAB, 0xCD, 0x12});
    mid2nolt::SourceReader reader(source.file);
    std::uint32_t u32 = 7;
    std::uint16_t u16 = 7;
    EXPECT_EQ(mid2nolt::readU32BE(reader, nullptr), -1);
    EXPECT_EQ(mid2nolt::readU32BE(reader, &u32), 0);
    EXPECT_EQ(u32, 480u);
    EXPECT_EQ(mid2nolt::readU16BE(reader, &u16), 0);
    EXPECT_EQ(u16, 0xABCDu);
    // One byte left: a partial value is a failure and leaves the destination alone.
    EXPECT_EQ(mid2nolt::readU16BE(reader, &u16), -1);
    EXPECT_EQ(u16, 0xABCDu);
}

TEST(LoadSong, HeaderWordsAndTracks) {
    Song song;
    const smf::Bytes track0 = smf::Track().noteOn(0, 0, 60, 100).end().bytes();
    const LoadResult r = load(smf::header(1, 2, 0xE728, 10) + smf::chunk("MTrk", track0) +
                                  smf::chunk("MTrk", {}) + smf::Bytes{1, 2, 3},
                              song);
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.out, "MIDI File Format 1 with 2 track(s)\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(song.format, 1);
    EXPECT_EQ(song.division, 0xE728);
    ASSERT_EQ(song.tracks.size(), 2u);
    ASSERT_EQ(song.tracks[0].length, track0.size());
    EXPECT_EQ(smf::Bytes(song.tracks[0].data, song.tracks[0].data + track0.size()), track0);
    // An empty chunk still has its (empty) bytes.
    EXPECT_EQ(song.tracks[1].length, 0u);
    EXPECT_NE(song.tracks[1].data, nullptr);
}

TEST(LoadSong, UnsetHeaderAfterEarlyFailure) {
    Song song;
    song.format = 9;
    const LoadResult r = load({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0}, song);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERROR- Unexptected End of Source Data\n");
    EXPECT_EQ(song.format, 9);
    EXPECT_TRUE(song.tracks.empty());
}

TEST(LoadSong, FreeSongAcceptsNullAndPartialSongs) {
    std::unique_ptr<Song> none;
    mid2nolt::freeSong(none);
    auto partial = std::make_unique<Song>();
    EXPECT_EQ(load(smf::header(0, 2, 96) + smf::chunk("MTrk", {0, 0xFF, 0x2F, 0}), *partial).result,
              -1);
    mid2nolt::freeSong(partial);
    EXPECT_EQ(partial, nullptr);
}

}  // namespace
