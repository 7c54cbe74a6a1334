// The arranger's second pass over a track: its voice tracks, written.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "arrange/tempo_map.h"
#include "arrange/tick_group.h"
#include "arrange/track_plan.h"
#include "midi/notes.h"
#include "midi/smf_writer.h"
#include "midi/tempo.h"
#include "midi/track_source.h"

namespace mid2nolt {

// Writes the voice tracks of one source track as its plan deals them, each
// with the tempo map. Keeps its buffers from track to track.
//
// With own tempo maps, a voice whose notes sound across a change of tempo
// gets, instead of the map's tempo entries, one tempo for each span between
// its note events (and from the start to the first): the span's length in
// microseconds over its length in quarter notes, set where the span starts,
// after the note events there. Each tempo is rounded to a whole microsecond
// and the rounding carried into the next span, so that the voice's time at
// every note event stays within rounding of the file's; a long span ends
// with a quarter note of its own tempo, so that its rounding does not add up.
class VoiceWriter {
public:
    // For every track written after: own tempo maps or none; whether to
    // measure how far the voices that keep the map's tempo drift; the
    // file's ticks a quarter note.
    void settings(bool ownMaps, bool measureDrift, std::uint16_t division) {
        ownMaps_ = ownMaps;
        measureDrift_ = measureDrift;
        division_ = division;
    }
    // `conductor`: the track's other events get a track of their own, before
    // the voices; otherwise they go with the first voice. `seconds` times
    // `map`. False when `sink` stopped.
    bool write(const SongSource& song, std::size_t t, const TrackPlan& plan, const TempoMap& map,
               const SecondsMap& seconds, bool conductor, const TrackSink& sink);

    // Of all tracks written: tempos held to 1..16777215 where the span's
    // could not be written, and the largest difference in seconds between a
    // note's start as the converter times it and in the file, for the voices
    // measured.
    std::uint64_t temposHeld() const { return temposHeld_; }
    double drift() const { return drift_; }

private:
    struct Voice {
        std::uint8_t channel = 0;
        bool first = false;  // of its channel: carries all the channel's events
        std::uint64_t lastEnd = 0;
        bool sounding = false;
        std::uint32_t note = kLeftOut;  // the note it started last
        int lastKey = -1;
        bool noteWritten = false;  // a note event at noteTick
        std::uint64_t noteTick = 0;
        // A note sounds across a change of tempo; with a map of its own, the
        // span being timed starts at spanStart, its tempo to go at spanAt.
        bool acrossTempo = false;
        bool own = false;
        std::uint64_t spanStart = 0;
        std::size_t spanAt = 0;
        std::uint32_t lastTempo = kDefaultTempo;
        double seconds = 0;    // kept the map's tempo: its time as the converter times it
        double ahead = 0;      // a map of its own: microseconds its time is ahead of the file's
        std::size_t hint = 0;  // where in the seconds map its time stands
        SecondsMap::Stretch stretch;  // of one tempo in the file, where its time stands
        // Spans that end by this tick keep the tempo in force: it is the file's
        // there, and the voice within a microsecond of the file's time.
        std::uint64_t steadyUntil = 0;
    };
    static constexpr std::size_t kHome = 0;  // the track that takes what is no voice's

    void start(std::uint64_t trackSize, const TrackPlan& plan, const TempoMap& map, bool conductor);
    void noteEvent(std::size_t w, std::uint64_t tick, std::uint8_t status, std::uint8_t key,
                   std::uint8_t velocity);
    void writeMapUntil(std::uint64_t tick, bool inclusive);
    void writeTick(std::uint64_t tick);
    void writeOther(std::uint64_t tick, const TrackEvent& event);
    void closeSpan(std::size_t w, std::uint64_t tick);
    double spanTempo(Voice& voice, std::uint64_t from, std::uint64_t to);
    double splitTempo(std::size_t w, std::uint64_t tick);
    void measure(Voice& voice, std::uint64_t tick, bool starts);
    std::size_t writerOf(std::uint8_t channel, std::uint32_t note) const {
        return firstWriter_[channel] + plan_->voiceOf[note];
    }
    // Whether `note` still sounds in its voice: it has one, and no later
    // note took it (a cut note ends where its cut is).
    bool stillSounds(std::uint8_t channel, std::uint32_t note) const {
        return plan_->voiceOf[note] != kLeftOut && voices_[writerOf(channel, note)].note == note;
    }

    bool ownMaps_ = false;
    bool measureDrift_ = false;
    std::uint16_t division_ = 0;
    std::uint64_t temposHeld_ = 0;
    double drift_ = 0;
    const TrackPlan* plan_ = nullptr;
    const TempoMap* map_ = nullptr;
    const SecondsMap* seconds_ = nullptr;
    bool conductor_ = false;
    std::array<std::uint32_t, 16> firstWriter_{};
    std::vector<Voice> voices_;
    std::size_t nextEntry_ = 0;
    std::size_t nextCut_ = 0;
    // Kept from track to track.
    std::vector<TrackWriter> writers_;
    Sounding sounding_;
    TickGroup group_;
    std::vector<TrackEvent> others_;
};

}  // namespace mid2nolt
