// Fuzz target: the arranger on arbitrary bytes. Where the bytes load, arranges
// them with no voice limit and with a small one, writes the result as a file,
// reads it back with the same loader and checks that
// - with no limit, the file holds exactly the source's notes;
// - with a limit, it holds all but those left out, no voice more than the
//   limit per part;
// - every voice track sounds one note at a time;
// - a track without notes is kept byte for byte;
// - arranging fails only with a message.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "arrange/arranger.h"
#include "arrange/smf_writer.h"
#include "harness.h"
#include "midi/song.h"

namespace {

using mid2nolt::Note;

std::vector<Note> allNotes(const std::vector<std::vector<Note>>& tracks) {
    std::vector<Note> notes;
    for (const std::vector<Note>& track : tracks) {
        notes.insert(notes.end(), track.begin(), track.end());
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

void check(const mid2nolt::Song& source, std::uint32_t limit) {
    const std::string mode = limit == 0 ? "no limit: " : "voices " + std::to_string(limit) + ": ";
    mid2nolt::Arrangement arrangement;
    std::string error;
    if (!mid2nolt::arrange(source, {limit}, arrangement, error)) {
        if (error.empty()) {
            fuzzing::fail(mode + "failed without a message");
        }
        return;
    }
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&bytes, &size);
    const bool written =
        mid2nolt::writeSmf(out, arrangement.format, arrangement.division, arrangement.tracks);
    std::fclose(out);
    std::FILE* in = fuzzing::streamOf(reinterpret_cast<std::uint8_t*>(bytes), size);
    mid2nolt::Song song;
    bool loaded = false;
    {
        fuzzing::Capture capture(false);
        loaded = written && mid2nolt::loadSong(in, song) == 0;
        capture.take();
    }
    std::fclose(in);
    std::free(bytes);
    if (!loaded || song.tracks.size() != arrangement.tracks.size()) {
        fuzzing::fail(mode + "the arranged file does not load");
    }

    std::vector<std::vector<Note>> notes = mid2nolt::songNotes(song);
    std::uint64_t leftOut = 0;
    for (const mid2nolt::PartReport& part : arrangement.parts) {
        leftOut += part.leftOut;
        if (limit != 0 && part.trackCount > limit) {
            fuzzing::fail(mode + "more voices than allowed");
        }
        if (!part.channel && !part.hasNotes) {
            const mid2nolt::TrackChunk& kept = song.tracks[part.firstTrack];
            const mid2nolt::TrackChunk& original = source.tracks[part.track];
            if (!std::equal(kept.data, kept.data + kept.length, original.data,
                            original.data + original.length)) {
                fuzzing::fail(mode + "a track without notes was changed");
            }
        }
        for (std::uint32_t t = part.firstTrack;
             part.channel && t < part.firstTrack + part.trackCount; ++t) {
            std::vector<Note>& voice = notes[t];
            std::sort(voice.begin(), voice.end());
            for (std::size_t i = 0; i < voice.size(); ++i) {
                if ((i > 0 && voice[i].start < voice[i - 1].end) ||
                    voice[i].channel != *part.channel) {
                    fuzzing::fail(mode + "voice track " + std::to_string(t) + " is not one voice");
                }
            }
        }
    }
    const std::vector<Note> before = allNotes(mid2nolt::songNotes(source));
    const std::vector<Note> after = allNotes(notes);
    if (limit == 0 ? after != before : after.size() + leftOut != before.size()) {
        fuzzing::fail(mode + "the notes differ from the source's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* stream = fuzzing::streamOf(data, size);
    mid2nolt::Song song;
    bool loaded = false;
    {
        fuzzing::Capture capture(false);
        loaded = mid2nolt::loadSong(stream, song) == 0;
        capture.take();
    }
    std::fclose(stream);
    if (loaded) {
        check(song, 0);
        check(song, 1 + (size > 0 ? data[size - 1] % 3u : 0u));
    }
    return 0;
}
