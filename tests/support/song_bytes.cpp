// Songs from bytes and back, and what tests read of an arranged song.

#include "support/song_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "midi/track_events.h"

namespace testing_support {

using mid2nolt::Arrangement;
using mid2nolt::Note;
using mid2nolt::Song;

std::unique_ptr<Song> loadBytes(const mid2nolt::Bytes& bytes) {
    std::FILE* file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    auto song = std::make_unique<Song>();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool loaded = mid2nolt::loadSong(file, *song) == 0;
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    std::fclose(file);
    EXPECT_TRUE(loaded) << err;
    return song;
}

namespace {

std::uint64_t readNumber(const mid2nolt::Bytes& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    while (at < bytes.size()) {
        const std::uint8_t byte = bytes[at++];
        value = (value << 7) | (byte & 0x7Fu);
        if ((byte & 0x80u) == 0) {
            break;
        }
    }
    return value;
}

}  // namespace

mid2nolt::Bytes withoutNames(mid2nolt::Bytes bytes) {
    for (std::size_t chunk = 14; chunk + 8 <= bytes.size();) {
        const std::size_t size = (std::size_t{bytes[chunk + 4]} << 24) |
                                 (std::size_t{bytes[chunk + 5]} << 16) |
                                 (std::size_t{bytes[chunk + 6]} << 8) | bytes[chunk + 7];
        const std::size_t end = std::min(bytes.size(), chunk + 8 + size);
        std::uint8_t status = 0;
        for (std::size_t at = chunk + 8; at < end;) {
            readNumber(bytes, at);  // the delta
            if (at < end && bytes[at] >= 0x80) {
                status = bytes[at++];
            }
            if (status == 0xFF && at < end) {
                if (bytes[at] == 0x03 || bytes[at] == 0x04) {
                    bytes[at] = 0x01;
                }
                ++at;
                at += readNumber(bytes, at);
            } else if (status == 0xF0 || status == 0xF7) {
                at += readNumber(bytes, at);
            } else {
                at += (status & 0xE0u) == 0xC0u ? 1 : 2;
            }
        }
        chunk += 8 + size;
    }
    return bytes;
}

mid2nolt::Bytes fileBytes(const Arrangement& arrangement) {
    std::FILE* file = std::tmpfile();
    EXPECT_TRUE(
        mid2nolt::writeSmf(file, arrangement.format, arrangement.division, arrangement.tracks));
    mid2nolt::Bytes bytes(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
    return bytes;
}

mid2nolt::Bytes fileBytes(const mid2nolt::SongSource& song) {
    Arrangement tracks;
    tracks.format = song.format();
    tracks.division = song.division();
    for (std::size_t t = 0; t < song.trackCount(); ++t) {
        EXPECT_TRUE(song.copy(t, [&](std::span<const std::uint8_t> track) {
            tracks.tracks.emplace_back(track.begin(), track.end());
            return true;
        }));
    }
    return fileBytes(tracks);
}

std::vector<Note> allNotes(const Song& song) {
    std::vector<Note> notes;
    for (const std::vector<Note>& track : mid2nolt::songNotes(song)) {
        notes.insert(notes.end(), track.begin(), track.end());
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

std::string overlap(const std::vector<Note>& notes) {
    for (std::size_t i = 1; i < notes.size(); ++i) {
        if (notes[i].start < notes[i - 1].end) {
            return "key " + std::to_string(notes[i - 1].key) + " and " +
                   std::to_string(notes[i].key) + " at tick " + std::to_string(notes[i].start);
        }
    }
    return {};
}

void PrintTo(const Voice& voice, std::ostream* os) {
    *os << '"' << voice.name << "\" {";
    for (const Note& n : voice.notes) {
        *os << " " << int{n.key} << "@" << n.start << "-" << n.end << "/c" << int{n.channel};
    }
    *os << " }";
}

std::vector<Voice> voicesOf(const Song& song) {
    std::vector<Voice> voices;
    const std::vector<std::vector<Note>> notes = mid2nolt::songNotes(song);
    for (const mid2nolt::TrackChunk& track : song.tracks) {
        Voice voice{"", notes[voices.size()]};
        mid2nolt::TrackEventReader reader(track.data, track.length);
        std::uint64_t delta = 0;
        mid2nolt::TrackEvent event;
        while (voice.name.empty() && reader.readDelta(delta) && reader.readEvent(event)) {
            if (event.kind == mid2nolt::EventKind::Meta && event.metaType == 0x03) {
                voice.name.assign(event.text, event.text + event.textLength);
            }
        }
        voices.push_back(voice);
    }
    return voices;
}

}  // namespace testing_support
