// What a note of a file is: how note events pair into notes, the notes of a
// song, and its notes timed in seconds.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "midi/song.h"
#include "midi/tempo.h"
#include "midi/timed_reader.h"
#include "midi/track_events.h"

namespace mid2nolt {

// No note: a slot of Sounding with none, or a pairing that ends none.
constexpr std::uint32_t kNoNote = std::numeric_limits<std::uint32_t>::max();

// The note sounding in a track on each channel and key, by its number. A note
// ends at the next note-off of its channel and key, or where the key is struck
// again, as a synthesizer ends it. A bit a channel and key says whether a note
// sounds there, so that starting afresh and visiting what sounds cost as
// little as the notes sounding, not all 4096 slots.
class Sounding {
public:
    // The note numbers are left as they are: each is read only once written.
    Sounding() {}  // not `= default`: value-initialised, that would zero them
    void reset() { bits_ = {}; }
    // Starts `note`; returns the note it ends, or kNoNote.
    std::uint32_t start(std::uint8_t channel, std::uint8_t key, std::uint32_t note) {
        std::uint64_t& word = bits_[wordOf(channel, key)];
        const std::uint64_t bit = bitOf(key);
        const std::uint32_t ended = (word & bit) != 0 ? notes_[slot(channel, key)] : kNoNote;
        word |= bit;
        notes_[slot(channel, key)] = note;
        return ended;
    }
    bool end(std::uint8_t channel, std::uint8_t key, std::uint32_t& note) {
        std::uint64_t& word = bits_[wordOf(channel, key)];
        const std::uint64_t bit = bitOf(key);
        if ((word & bit) == 0) {
            note = kNoNote;
            return false;
        }
        word &= ~bit;
        note = notes_[slot(channel, key)];
        return true;
    }
    bool sounds(std::uint8_t channel, int key) const {
        const auto k = static_cast<std::uint8_t>(key);
        return (bits_[wordOf(channel, k)] & bitOf(k)) != 0;
    }
    // Calls f(channel, key, note) for every note still sounding, by channel
    // and key.
    template <typename F>
    void forEach(F f) const {
        for (std::size_t w = 0; w < bits_.size(); ++w) {
            for (std::uint64_t word = bits_[w]; word != 0; word &= word - 1) {
                const std::size_t s = w * 64 + static_cast<std::size_t>(std::countr_zero(word));
                f(static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s & 0xFFu),
                  notes_[s]);
            }
        }
    }

private:
    static std::size_t slot(std::uint8_t channel, std::uint8_t key) {
        return std::size_t{channel} << 8 | key;
    }
    static std::size_t wordOf(std::uint8_t channel, std::uint8_t key) {
        return slot(channel, key) >> 6;
    }
    static std::uint64_t bitOf(std::uint8_t key) { return std::uint64_t{1} << (key & 63u); }
    // A note number is read only where its bit is set.
    std::array<std::uint64_t, 64> bits_{};
    std::array<std::uint32_t, std::size_t{16} * 256> notes_;
};

// Pairs one note event: a note-on of velocity above 0 starts note `nextNote`
// and ends the note sounding on its channel and key; a note-off, or a note-on
// of velocity 0, ends the note sounding. Calls ended(note, release velocity)
// for the note the event ends; gives whether it starts one. Inlined, as it
// runs for every note event (and in WebAssembly a call that may throw goes
// through JavaScript).
template <typename Ended>
[[gnu::always_inline]] inline bool pairNote(const TrackEvent& event, Sounding& sounding,
                                            std::uint32_t nextNote, Ended ended) {
    std::uint32_t note = 0;
    if (startsNote(event)) {
        note = sounding.start(channelOf(event.status), event.data1, nextNote);
        if (note != kNoNote) {
            ended(note, kReleaseVelocity);
        }
        return true;
    }
    if (endsNote(event) && sounding.end(channelOf(event.status), event.data1, note)) {
        ended(note, event.kind == EventKind::NoteOff ? event.data2 : kReleaseVelocity);
    }
    return false;
}

// Where a track ends, and whether its ticks ran past 64 bits (reading stops
// there).
struct TrackEnd {
    std::uint64_t tick = 0;
    bool overflowed = false;
};

// Pairs the notes of one track as `reader` reads it (a TimedReader, a
// TrackSource), as every part that reads notes pairs them: every(event, tick)
// sees each event first; start(tick, channel, key, velocity) for each note in
// the order they start; end(note, tick, channel, key, release velocity) where
// the note numbered `note` (from 0) ends, before the note that ends it
// starts. The notes still sounding at the end of the track are left in
// `sounding`.
template <typename Reader, typename Start, typename End, typename Every>
TrackEnd pairEvents(Reader& reader, Sounding& sounding, Start start, End end, Every every) {
    sounding.reset();
    TrackEvent event;
    std::uint32_t nextNote = 0;
    std::uint64_t tick = 0;
    while (reader.next(event, tick)) {
        every(event, tick);
        const auto ended = [&](std::uint32_t note, std::uint8_t release) {
            end(note, tick, channelOf(event.status), event.data1, release);
        };
        if (pairNote(event, sounding, nextNote, ended)) {
            start(tick, channelOf(event.status), event.data1, event.data2);
            ++nextNote;
        }
    }
    return {reader.endTick(), reader.overflowed()};
}

// The notes of one track chunk, paired by pairEvents: end(note, tick) where
// each ends, at the end of the track for those still sounding.
template <typename Start, typename End, typename Every>
TrackEnd pairTrack(const TrackChunk& track, Sounding& sounding, Start start, End end, Every every) {
    TimedReader reader(track);
    const TrackEnd at = pairEvents(
        reader, sounding, start,
        [&](std::uint32_t note, std::uint64_t tick, std::uint8_t, std::uint8_t, std::uint8_t) {
            end(note, tick);
        },
        every);
    sounding.forEach([&](std::uint8_t, std::uint8_t, std::uint32_t note) { end(note, at.tick); });
    return at;
}

// One note of a file: a note-on of velocity above 0 ends at the next note-off
// (or note-on of velocity 0) of its channel and key, at the next note-on of
// its channel and key, or at the end of the track.
struct Note {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
    auto operator<=>(const Note&) const = default;
};

// Every note of each track, in the order they start in the track.
std::vector<std::vector<Note>> songNotes(const Song& song);

// Every note of a song in parallel arrays, track after track, in the order
// they start in each track, ticks as doubles (exact up to 2^53) so that they
// can be timed in seconds in place; and each track's tempo changes in its
// order.
struct SongTimeline {
    std::vector<std::uint32_t> trackNotes;  // how many notes each track holds
    std::vector<double> starts;
    std::vector<double> ends;
    std::vector<std::uint8_t> channels;
    std::vector<std::uint8_t> keys;
    std::vector<std::vector<TempoChange>> tempos;
};

// The notes as songNotes pairs them, and the tempo changes.
SongTimeline songTimeline(const Song& song);

// Turns the timeline's ticks into seconds, in place, as a player times them:
// by one tempo map for the song (format 0 and 1) or each track's own
// (format 2). False, leaving ticks, where the division counts SMPTE frames or
// is 0.
bool timeInSeconds(const Song& song, SongTimeline& timeline);

}  // namespace mid2nolt
