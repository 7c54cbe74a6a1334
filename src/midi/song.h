#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

namespace mid2nolt {

class SourceReader;

// One track chunk: its declared length and its raw event bytes, exactly as
// stored in the file, without the chunk header.
struct TrackChunk {
    std::uint32_t length = 0;
    // Points into Song::bytes; null until the whole load has succeeded.
    const std::uint8_t* data = nullptr;
};

// A loaded Standard MIDI File: the header's words as read (unchecked) and
// every track chunk. The song owns all bytes read from the source; the track
// chunks point into them.
struct Song {
    std::uint16_t format = 0;
    std::uint16_t division = 0;
    std::uint16_t trackCount = 0;
    std::vector<TrackChunk> tracks;
    std::vector<std::uint8_t> bytes;
};

// Big-endian readers. 0 after storing the value; -1 when `value` is null
// (nothing read) or the source ends first (`value` unchanged).
std::int32_t readU16BE(SourceReader& source, std::uint16_t* value);
std::int32_t readU32BE(SourceReader& source, std::uint32_t* value);

// Reads the header chunk and every track chunk of `source` (open for binary
// reading, at its start) into `song`. Writes the summary line to stdout.
// 0 on success; -1 after writing one error message to stderr.
std::int32_t loadSong(std::FILE* source, Song& song);

// Releases a song with all it owns; accepts a null or partly loaded song.
void freeSong(std::unique_ptr<Song>& song);

}  // namespace mid2nolt
