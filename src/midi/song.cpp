#include "midi/song.h"

#include <cstring>

#include "midi/messages.h"
#include "midi/source_reader.h"

namespace mid2nolt {

namespace {

using messages::kUnexpectedEnd;
constexpr const char* kNotMidi = "ERROR- Source is not a Standard MIDI File\n";
constexpr const char* kBadTrackHeader = "ERROR- Incomprehensible Track Header\n";

std::int32_t fail(const char* message) {
    std::fprintf(stderr, "%s", message);
    return -1;
}

}  // namespace

std::int32_t readU16BE(SourceReader& source, std::uint16_t* value) {
    std::uint8_t b[2];
    if (value == nullptr || !source.read(b, sizeof b)) {
        return -1;
    }
    *value = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    return 0;
}

std::int32_t readU32BE(SourceReader& source, std::uint32_t* value) {
    std::uint8_t b[4];
    if (value == nullptr || !source.read(b, sizeof b)) {
        return -1;
    }
    *value = std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 |
             std::uint32_t{b[3]};
    return 0;
}

std::int32_t loadSong(std::FILE* source, Song& song) {
    SourceReader reader(source);

    char tag[4];
    if (!reader.read(tag, sizeof tag)) {
        return fail(kUnexpectedEnd);
    }
    if (std::memcmp(tag, "MThd", 4) != 0) {
        return fail(kNotMidi);
    }

    // All four reads are made even when one fails; the result is the same.
    std::uint32_t headerLength = 0;
    std::uint16_t format = 0;
    std::uint16_t trackCount = 0;
    std::uint16_t division = 0;
    std::int32_t status = readU32BE(reader, &headerLength);
    status |= readU16BE(reader, &format);
    status |= readU16BE(reader, &trackCount);
    status |= readU16BE(reader, &division);
    if (status != 0) {
        return fail(kUnexpectedEnd);
    }
    song.format = format;
    song.division = division;
    song.trackCount = trackCount;

    // A longer header is skipped unread; skipping past the end is no failure
    // here, the next tag read then fails.
    if (headerLength > 6) {
        reader.skip(headerLength - 6);
    }

    std::printf("MIDI File Format %u with %u track(s)\n", unsigned{song.format},
                unsigned{song.trackCount});

    // The table grows with the tracks really found, so a short file that
    // declares many tracks costs no more than the tracks it holds. Offsets of
    // each track's bytes become pointers once the buffer no longer grows.
    song.tracks.clear();
    std::vector<std::uint64_t> offsets;
    for (std::uint32_t t = 0; t < trackCount; ++t) {
        if (!reader.read(tag, sizeof tag)) {
            return fail(kUnexpectedEnd);
        }
        if (std::memcmp(tag, "MTrk", 4) != 0) {
            return fail(kBadTrackHeader);
        }
        std::uint32_t length = 0;
        if (readU32BE(reader, &length) != 0) {
            return fail(kUnexpectedEnd);
        }
        song.tracks.push_back({length, nullptr});
        offsets.push_back(reader.position());
        // Only bytes the source really holds are ever buffered, so a length
        // beyond the end of the data is a short read, not a huge allocation.
        if (!reader.advance(length)) {
            return fail(kUnexpectedEnd);
        }
    }

    song.bytes = reader.takeBytes();
    for (std::uint32_t t = 0; t < trackCount; ++t) {
        song.tracks[t].data = song.bytes.data() + offsets[t];
    }
    return 0;
}

void freeSong(std::unique_ptr<Song>& song) {
    song.reset();
}

}  // namespace mid2nolt
