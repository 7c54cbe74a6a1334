// A song as a stage reads it, track by track and event by event: the chunks
// of a file, or tracks another stage made of its notes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "midi/song.h"
#include "midi/timed_reader.h"
#include "midi/track_events.h"

namespace mid2nolt {

// Takes a track's chunk data, in order; false stops the writing.
using TrackSink = std::function<bool(std::span<const std::uint8_t>)>;

// One track, event by event with each event's tick, as TimedReader reads a
// chunk: no end of track among the events, no stray data.
class TrackSource {
public:
    virtual ~TrackSource() = default;
    // The next event and its tick; false after the last.
    virtual bool next(TrackEvent& event, std::uint64_t& tick) = 0;
    // After the last event: the tick where the track ends, and whether its
    // ticks ran past 64 bits (reading stopped there).
    virtual std::uint64_t endTick() const = 0;
    virtual bool overflowed() const = 0;
};

class SongSource {
public:
    virtual ~SongSource() = default;
    virtual std::uint16_t format() const = 0;
    virtual std::uint16_t division() const = 0;
    virtual std::size_t trackCount() const = 0;
    // About the bytes track `t` takes as a chunk: room to reserve, no more.
    virtual std::uint64_t sizeOf(std::size_t t) const = 0;
    // Track `t` from its first event; the source outlives what it returns,
    // and the data of its events stay where they are until the source goes.
    virtual std::unique_ptr<TrackSource> open(std::size_t t) const = 0;
    // Hands track `t`'s chunk data, as it stands, to `sink`.
    virtual bool copy(std::size_t t, const TrackSink& sink) const = 0;
};

// A chunk of a file read as a track.
class ChunkTrack final : public TrackSource {
public:
    explicit ChunkTrack(const TrackChunk& chunk) : reader_(chunk) {}
    bool next(TrackEvent& event, std::uint64_t& tick) override { return reader_.next(event, tick); }
    std::uint64_t endTick() const override { return reader_.endTick(); }
    bool overflowed() const override { return reader_.overflowed(); }

private:
    TimedReader reader_;
};

// A loaded file's tracks, as they are stored.
class SongChunks final : public SongSource {
public:
    explicit SongChunks(const Song& song) : song_(song) {}
    std::uint16_t format() const override { return song_.format; }
    std::uint16_t division() const override { return song_.division; }
    std::size_t trackCount() const override { return song_.tracks.size(); }
    std::uint64_t sizeOf(std::size_t t) const override { return song_.tracks[t].length; }
    std::unique_ptr<TrackSource> open(std::size_t t) const override {
        return std::make_unique<ChunkTrack>(song_.tracks[t]);
    }
    bool copy(std::size_t t, const TrackSink& sink) const override {
        return sink({song_.tracks[t].data, song_.tracks[t].length});
    }

private:
    const Song& song_;
};

}  // namespace mid2nolt
