// Fuzz target: the arranger on arbitrary bytes. Where the bytes load, arranges
// them with no voice limit and with a small one, writes the result as a file,
// reads it back with the same loader and checks that
// - with no limit, the file holds exactly the source's notes;
// - with a limit, it holds all but those left out, no voice more than the
//   limit per part;
// - every voice track sounds one note at a time;
// - a track without notes is kept byte for byte;
// - arranging fails only with a message;
// - the file is format 2 where voices carry tempo maps of their own;
// - fitted to 1 to 8 channels (picked from the input), at most that many
//   tracks hold notes, each one note at a time on one MIDI channel, every
//   note one of the source's (start, key and velocity).
// Notes are paired here plainly, apart from the arranger's own pairing, so
// that a fault in that pairing shows as notes that differ.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "arrange/arranger.h"
#include "fit/channel_fit.h"
#include "fit/fitted_song.h"
#include "harness.h"
#include "midi/notes.h"
#include "midi/smf_writer.h"
#include "midi/song.h"
#include "midi/timed_reader.h"

namespace {

using mid2nolt::EventKind;
using mid2nolt::Note;

// Every note of a song, track after track, each track's in the order they
// start: a note-on of velocity above 0 starts one, and ends the one sounding
// on its channel and key; a note-off or a note-on of velocity 0 ends it; the
// end of the track ends those still sounding.
struct SongNotes {
    std::vector<Note> notes;
    std::vector<std::size_t> firsts;  // where each track's notes begin, and the end

    std::span<Note> track(std::size_t t) {
        return {notes.data() + firsts[t], notes.data() + firsts[t + 1]};
    }
};

SongNotes pairedNotes(const mid2nolt::Song& song) {
    constexpr std::size_t kNone = SIZE_MAX;
    // The note sounding on each channel and key, and the slots ever used:
    // kept from call to call, and only those used set back.
    static std::vector<std::size_t> sounding(std::size_t{16} * 256, kNone);
    static std::vector<std::size_t> used;
    SongNotes paired;
    for (const mid2nolt::TrackChunk& track : song.tracks) {
        paired.firsts.push_back(paired.notes.size());
        used.clear();
        mid2nolt::TimedReader reader(track);
        mid2nolt::TrackEvent event;
        std::uint64_t tick = 0;
        while (reader.next(event, tick)) {
            const bool on = event.kind == EventKind::NoteOn && event.data2 > 0;
            const bool off = event.kind == EventKind::NoteOff ||
                             (event.kind == EventKind::NoteOn && event.data2 == 0);
            if (!on && !off) {
                continue;
            }
            const auto channel = static_cast<std::uint8_t>(event.status & 0x0F);
            const std::size_t slot = std::size_t{channel} * 256 + event.data1;
            if (sounding[slot] != kNone) {
                paired.notes[sounding[slot]].end = tick;
                sounding[slot] = kNone;
            }
            if (on) {
                sounding[slot] = paired.notes.size();
                used.push_back(slot);
                paired.notes.push_back({tick, tick, channel, event.data1, event.data2});
            }
        }
        for (const std::size_t slot : used) {
            if (sounding[slot] != kNone) {
                paired.notes[sounding[slot]].end = reader.endTick();
                sounding[slot] = kNone;
            }
        }
    }
    paired.firsts.push_back(paired.notes.size());
    return paired;
}

std::vector<Note> sorted(std::vector<Note> notes) {
    std::sort(notes.begin(), notes.end());
    return notes;
}

// The file `arranger` writes, loaded again into `song`.
bool readBack(mid2nolt::Arranger& arranger, std::uint16_t division, mid2nolt::Song& song) {
    char* bytes = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&bytes, &size);
    bool written =
        mid2nolt::writeSmfHeader(out, arranger.format(),
                                 static_cast<std::uint16_t>(arranger.trackCount()), division) &&
        arranger.write([out](std::span<const std::uint8_t> track) {
            return mid2nolt::writeSmfTrack(out, track);
        });
    written = std::fclose(out) == 0 && written;
    std::FILE* in = fuzzing::streamOf(reinterpret_cast<std::uint8_t*>(bytes), size);
    bool loaded = false;
    {
        fuzzing::Capture capture(false);
        loaded = written && mid2nolt::loadSong(in, song) == 0;
        capture.take();
    }
    std::fclose(in);
    std::free(bytes);
    return loaded && song.tracks.size() == arranger.trackCount();
}

void check(const mid2nolt::Song& source, const std::vector<Note>& before, std::uint32_t limit) {
    const std::string mode = limit == 0 ? "no limit: " : "voices " + std::to_string(limit) + ": ";
    const mid2nolt::SongChunks chunks(source);
    mid2nolt::Arranger arranger(chunks, {limit});
    std::string error;
    if (!arranger.plan(error)) {
        if (error.empty()) {
            fuzzing::fail(mode + "failed without a message");
        }
        return;
    }
    mid2nolt::Song song;
    if (!readBack(arranger, source.division, song)) {
        fuzzing::fail(mode + "the arranged file does not load");
    }
    // Tempo maps of the voices' own only in format 2, where they mean something.
    if (song.format != arranger.format() || (arranger.ownTempoMaps() && song.format != 2)) {
        fuzzing::fail(mode + "the arranged file's format is not as said");
    }

    SongNotes notes = pairedNotes(song);
    std::uint64_t leftOut = 0;
    for (const mid2nolt::PartReport& part : arranger.parts()) {
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
            // Paired in the order they start; sorted where notes of one tick
            // came in another order.
            const std::span<Note> voice = notes.track(t);
            if (!std::is_sorted(voice.begin(), voice.end())) {
                std::sort(voice.begin(), voice.end());
            }
            for (std::size_t i = 0; i < voice.size(); ++i) {
                if ((i > 0 && voice[i].start < voice[i - 1].end) ||
                    voice[i].channel != *part.channel) {
                    fuzzing::fail(mode + "voice track " + std::to_string(t) + " is not one voice");
                }
            }
        }
    }
    // With no limit the very notes, else as many as were not left out.
    if (limit == 0 ? sorted(std::move(notes.notes)) != before
                   : notes.notes.size() + leftOut != before.size()) {
        fuzzing::fail(mode + "the notes differ from the source's");
    }
}

// Whether every note of `kept` lies within a note of `before` of its key.
bool slicesOf(const std::vector<Note>& before, const std::vector<Note>& kept) {
    return std::all_of(kept.begin(), kept.end(), [&](const Note& n) {
        return std::any_of(before.begin(), before.end(), [&](const Note& b) {
            return b.key == n.key && b.start <= n.start && n.end <= b.end;
        });
    });
}

// The fit takes the song it fits, and lets it go. With arpeggios, every note
// is a slice of a source note instead.
void checkFit(std::unique_ptr<mid2nolt::Song> source, const std::vector<Note>& before,
              mid2nolt::FitOptions options) {
    const std::uint32_t channels = options.channels;
    const std::string mode = "channels " + std::to_string(channels) + " arpeggio " +
                             std::to_string(options.arpeggio) + ": ";
    const std::uint16_t division = source->division;
    mid2nolt::ChannelFit fit;
    std::string error;
    if (!mid2nolt::fitChannels(std::move(source), options, fit, error)) {
        return;  // a track runs past 64 bits, or arpeggios too fine: the arranger says so too
    }
    const mid2nolt::FittedSong fitted(fit);
    mid2nolt::Arranger arranger(fitted, {});
    mid2nolt::Song song;
    if (!arranger.plan(error) || !readBack(arranger, division, song)) {
        fuzzing::fail(mode + "the fitted file does not load");
    }
    std::vector<std::tuple<std::uint64_t, std::uint8_t, std::uint8_t>> sourceNotes;
    for (const Note& note : before) {
        sourceNotes.emplace_back(note.start, note.key, note.velocity);
    }
    std::sort(sourceNotes.begin(), sourceNotes.end());
    std::vector<std::tuple<std::uint64_t, std::uint8_t, std::uint8_t>> kept;
    SongNotes notes = pairedNotes(song);
    if (options.arpeggio != 0 && !slicesOf(before, notes.notes)) {
        fuzzing::fail(mode + "a note not a slice of a source note");
    }
    std::uint32_t withNotes = 0;
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        const std::span<Note> track = notes.track(t);
        withNotes += track.empty() ? 0 : 1;
        std::sort(track.begin(), track.end());
        for (std::size_t i = 0; i < track.size(); ++i) {
            if ((i > 0 && track[i].start < track[i - 1].end) ||
                track[i].channel != track[0].channel) {
                fuzzing::fail(mode + "track " + std::to_string(t) + " is not one voice");
            }
            kept.emplace_back(track[i].start, track[i].key, track[i].velocity);
        }
    }
    std::sort(kept.begin(), kept.end());
    if (withNotes > channels ||
        (options.arpeggio == 0 &&
         !std::includes(sourceNotes.begin(), sourceNotes.end(), kept.begin(), kept.end()))) {
        fuzzing::fail(mode + "more channels than asked or a note not the source's");
    }
}

// The song the input holds, or null where it does not load.
std::unique_ptr<mid2nolt::Song> load(const std::uint8_t* data, std::size_t size) {
    std::FILE* stream = fuzzing::streamOf(data, size);
    auto song = std::make_unique<mid2nolt::Song>();
    bool loaded = false;
    {
        fuzzing::Capture capture(false);
        loaded = mid2nolt::loadSong(stream, *song) == 0;
        capture.take();
    }
    std::fclose(stream);
    return loaded ? std::move(song) : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::unique_ptr<mid2nolt::Song> song = load(data, size);
    if (song) {
        const std::vector<Note> notes = sorted(pairedNotes(*song).notes);
        check(*song, notes, 0);
        check(*song, notes, 1 + (size > 0 ? data[size - 1] % 3u : 0u));
        if (song->format != 2) {
            const std::uint8_t pick = size > 1 ? data[size - 2] : 0;
            mid2nolt::FitOptions options;
            options.channels = 1 + pick % 8u;
            options.drums = static_cast<mid2nolt::DrumChoice>(pick / 8 % 3);
            options.arpeggio = pick / 24 % 5;  // 0: none; else 1 to 4 driver ticks
            checkFit(std::move(song), notes, options);
        }
    }
    return 0;
}
