// The arranger's second pass over a track: its voice tracks, written.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "arrange/smf_writer.h"
#include "arrange/tempo_map.h"
#include "arrange/tick_group.h"
#include "arrange/track_plan.h"

namespace mid2nolt {

// Takes each output track's chunk data, in order; false stops the writing.
using TrackSink = std::function<bool(std::span<const std::uint8_t>)>;

// Writes the voice tracks of one source track as its plan deals them, each
// with the tempo map. Keeps its buffers from track to track.
class VoiceWriter {
public:
    // `conductor`: the track's other events get a track of their own, before
    // the voices; otherwise they go with the first voice. False when `sink`
    // stopped.
    bool write(const TrackChunk& track, const TrackPlan& plan, const TempoMap& map, bool conductor,
               const TrackSink& sink);

private:
    struct Voice {
        std::uint8_t channel = 0;
        bool first = false;  // of its channel: carries all the channel's events
        std::uint64_t lastEnd = 0;
        bool sounding = false;
        int lastKey = -1;
        bool noteWritten = false;  // a note event at noteTick
        std::uint64_t noteTick = 0;
    };
    static constexpr std::size_t kHome = 0;  // the track that takes what is no voice's

    void start(const TrackPlan& plan, const TempoMap& map, bool conductor);
    void noteEvent(std::size_t w, std::uint64_t tick, std::uint8_t status, std::uint8_t key,
                   std::uint8_t velocity);
    void writeMapUntil(std::uint64_t tick, bool inclusive);
    void writeTick(std::uint64_t tick);
    void writeOther(std::uint64_t tick, const TrackEvent& event);
    std::size_t writerOf(std::uint8_t channel, std::uint32_t note) const {
        return firstWriter_[channel] + (plan_->voiceOf[note] & ~kCut);
    }

    const TrackPlan* plan_ = nullptr;
    const TempoMap* map_ = nullptr;
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
