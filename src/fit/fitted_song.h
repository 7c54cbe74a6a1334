// A fit as a song of its own, which the arranger times as it times any song:
// read from the channels' notes, not written out and read again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "fit/channel_fit.h"
#include "midi/smf_writer.h"
#include "midi/track_source.h"

namespace mid2nolt {

// Format 1: track 0 holds every event of the source that belongs to no
// channel (the tempo map, texts, system exclusive), earlier tracks first at a
// tick, the names of tracks after the first left out; then a track per
// channel of the fit, named for its role, with its notes on its MIDI channel
// and the program, controls and pitch bend of its main part (from the part's
// track and from tracks without notes). Every track ends where the source's
// last track ends. At a tick, a channel's track ends its note before its
// other events, and starts the next after them.
class FittedSong final : public SongSource {
public:
    // Takes the channels' notes and what the song keeps besides them out of
    // `fit` (its counts stay).
    explicit FittedSong(ChannelFit& fit);

    // The track that holds channel `c` of the fit.
    static std::size_t trackOf(std::size_t c) { return c + 1; }

    std::uint16_t format() const override { return 1; }
    std::uint16_t division() const override { return division_; }
    std::size_t trackCount() const override { return 1 + channels_.size(); }
    std::uint64_t sizeOf(std::size_t t) const override;
    std::unique_ptr<TrackSource> open(std::size_t t) const override;
    bool copy(std::size_t t, const TrackSink& sink) const override;

    // A channel's track as the arranger reads it.
    struct Channel {
        std::string name;
        std::uint8_t midiChannel = 0;
        std::variant<FitNotes<std::uint32_t>, FitNotes<std::uint64_t>> notes;
        std::vector<ChannelEvent> events;  // by tick
    };

private:
    std::uint16_t division_ = 0;
    std::uint64_t endTick_ = 0;
    Bytes others_;  // track 0's chunk data
    std::vector<Channel> channels_;
};

}  // namespace mid2nolt
