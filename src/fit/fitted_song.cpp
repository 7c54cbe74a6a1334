#include "fit/fitted_song.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "midi/midi_facts.h"

namespace mid2nolt {

namespace {

// A channel's notes and channel events as one track: its name at tick 0;
// then at a tick, the note that ends there, the channel events, the note
// that starts.
template <typename Tick>
class ChannelTrack final : public TrackSource {
public:
    ChannelTrack(const FittedSong::Channel& channel, const FitNotes<Tick>& notes,
                 std::uint64_t endTick)
        : channel_(channel), notes_(notes), endTick_(endTick) {}

    bool next(TrackEvent& event, std::uint64_t& tick) override {
        if (!named_) {
            named_ = true;
            event.kind = EventKind::Meta;
            event.metaType = kTrackNameMeta;
            event.data = event.text = reinterpret_cast<const std::uint8_t*>(channel_.name.data());
            event.dataLength = event.textLength = static_cast<std::uint32_t>(channel_.name.size());
            tick = 0;
            return true;
        }
        // Up to where the next note starts: the channel events by tick, the
        // note sounding ending before any at or after its end; then the
        // next note.
        const std::vector<ChannelEvent>& events = channel_.events;
        const std::uint64_t until = n_ < notes_.size() ? notes_[n_].start : kLastTick;
        if (e_ < events.size() && events[e_].tick <= until) {
            if (!(sounding_ && last_.end <= events[e_].tick)) {
                const ChannelEvent& other = events[e_++];
                return emit(event, tick, EventKind::OtherChannel, other.tick, other.status,
                            other.data1, other.data2);
            }
        } else if (!(sounding_ && last_.end <= until)) {
            if (n_ == notes_.size()) {
                return false;
            }
            last_ = notes_[n_++];
            sounding_ = true;
            return emit(event, tick, EventKind::NoteOn, last_.start, 0x90 | channel_.midiChannel,
                        last_.key, last_.velocity);
        }
        sounding_ = false;
        return emit(event, tick, EventKind::NoteOff, last_.end, 0x80 | channel_.midiChannel,
                    last_.key, kReleaseVelocity);
    }
    std::uint64_t endTick() const override { return std::max(endTick_, lastTick_); }
    bool overflowed() const override { return false; }

private:
    bool emit(TrackEvent& event, std::uint64_t& tick, EventKind kind, std::uint64_t at,
              std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
        event.kind = kind;
        event.status = status;
        event.data1 = data1;
        event.data2 = dataBytes(status) == 2 ? data2 : 0;
        tick = lastTick_ = at;
        return true;
    }

    const FittedSong::Channel& channel_;
    const FitNotes<Tick>& notes_;
    std::uint64_t endTick_;
    std::uint64_t lastTick_ = 0;
    bool named_ = false;
    std::size_t n_ = 0;  // the next note to start
    std::size_t e_ = 0;  // the next channel event
    bool sounding_ = false;
    BasicFitNote<Tick> last_;
};

// The events of no channel, by tick, as track 0's chunk data.
Bytes othersOf(SongRest& rest) {
    std::vector<TimedEvent>& others = rest.others;
    std::stable_sort(others.begin(), others.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.tick < b.tick; });
    TrackWriter writer;
    for (const TimedEvent& other : others) {
        const std::uint8_t* data = rest.data.data() + other.at;
        if (other.kind == EventKind::Meta) {
            writer.meta(other.tick, other.metaType, data, other.length);
        } else if (other.kind == EventKind::SystemExclusive) {
            writer.sysex(other.tick, other.status, data, other.length);
        } else {
            writer.system(other.tick, other.status);
        }
    }
    writer.end(std::max(rest.endTick, writer.lastTick()));
    return {writer.bytes().begin(), writer.bytes().end()};
}

// A channel's channel events, by tick: those of its main part's MIDI channel
// in its main part's track and in the tracks without notes.
std::vector<ChannelEvent> eventsOf(const ChannelFit& fit, const FitChannel& channel,
                                   const std::vector<bool>& hasNotes) {
    const SourcePart& main = fit.parts[channel.mainPart];
    std::vector<ChannelEvent> own;
    for (std::size_t t = 0; t < hasNotes.size(); ++t) {
        if (t == main.track || !hasNotes[t]) {
            const std::vector<ChannelEvent>& from = fit.rest.events[t][main.channel];
            own.insert(own.end(), from.begin(), from.end());
        }
    }
    std::stable_sort(own.begin(), own.end(),
                     [](const ChannelEvent& a, const ChannelEvent& b) { return a.tick < b.tick; });
    return own;
}

}  // namespace

FittedSong::FittedSong(ChannelFit& fit) : division_(fit.rest.division), endTick_(fit.rest.endTick) {
    // Which tracks have notes: a channel takes the channel events of its main
    // part and of tracks without notes.
    std::vector<bool> hasNotes(fit.rest.events.size(), false);
    for (const SourcePart& part : fit.parts) {
        hasNotes[part.track] = true;
    }
    for (FitChannel& channel : fit.channels) {
        channels_.push_back({roleName(channel), channel.midiChannel, std::move(channel.notes),
                             eventsOf(fit, channel, hasNotes)});
        channel.notes = {};
    }
    others_ = othersOf(fit.rest);
    fit.rest = {};
}

std::uint64_t FittedSong::sizeOf(std::size_t t) const {
    if (t == 0) {
        return others_.size();
    }
    const Channel& channel = channels_[t - 1];
    const std::size_t notes = std::visit([](const auto& all) { return all.size(); }, channel.notes);
    return notes * 8 + channel.events.size() * 4 + channel.name.size() + 8;
}

std::unique_ptr<TrackSource> FittedSong::open(std::size_t t) const {
    if (t == 0) {
        return std::make_unique<ChunkTrack>(
            TrackChunk{static_cast<std::uint32_t>(others_.size()), others_.data()});
    }
    const Channel& channel = channels_[t - 1];
    return std::visit(
        [&](const auto& notes) -> std::unique_ptr<TrackSource> {
            using Tick = decltype(std::decay_t<decltype(notes)>::value_type::start);
            return std::make_unique<ChannelTrack<Tick>>(channel, notes, endTick_);
        },
        channel.notes);
}

bool FittedSong::copy(std::size_t t, const TrackSink& sink) const {
    if (t == 0) {
        return sink(others_);
    }
    // A channel's track with no notes: its name and channel events.
    const std::unique_ptr<TrackSource> track = open(t);
    TrackWriter writer;
    TrackEvent event;
    std::uint64_t tick = 0;
    while (track->next(event, tick)) {
        if (event.kind == EventKind::Meta) {
            writer.meta(tick, event.metaType, event.data, event.dataLength);
        } else {
            writer.channel(tick, event.status, event.data1, event.data2);
        }
    }
    writer.end(track->endTick());
    return sink(writer.bytes());
}

}  // namespace mid2nolt
