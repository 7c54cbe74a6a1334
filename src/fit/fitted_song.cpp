#include "fit/fitted_song.h"

#include <algorithm>
#include <array>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "midi/midi_facts.h"
#include "midi/smf_writer.h"
#include "midi/timed_reader.h"

namespace mid2nolt {

namespace {

// The channel's notes and channel events in one stream: at a tick, the note
// that ends there, then the channel events, then the note that starts.
template <typename Tick>
void writeChannel(TrackWriter& writer, const FitChannel& channel, const FitNotes<Tick>& notes,
                  const std::vector<ChannelEvent>& events) {
    const std::string name = roleName(channel);
    writer.meta(0, kTrackNameMeta, reinterpret_cast<const std::uint8_t*>(name.data()),
                static_cast<std::uint32_t>(name.size()));
    const std::uint8_t on = 0x90 | channel.midiChannel;
    const std::uint8_t off = 0x80 | channel.midiChannel;
    bool sounding = false;
    BasicFitNote<Tick> last;
    std::size_t e = 0;
    const auto until = [&](std::uint64_t tick) {
        for (; e < events.size() && events[e].tick <= tick; ++e) {
            if (sounding && last.end <= events[e].tick) {
                writer.channel(last.end, off, last.key, kReleaseVelocity);
                sounding = false;
            }
            writer.channel(events[e].tick, events[e].status, events[e].data1, events[e].data2);
        }
        if (sounding && last.end <= tick) {
            writer.channel(last.end, off, last.key, kReleaseVelocity);
            sounding = false;
        }
    };
    for (const BasicFitNote<Tick>& note : notes) {
        until(note.start);
        writer.channel(note.start, on, note.key, note.velocity);
        sounding = true;
        last = note;
    }
    until(kLastTick);
}

// The events of no channel, by tick, as the fitted song's track 0.
void writeOthers(TrackWriter& writer, SongRest& rest) {
    std::vector<TimedEvent>& others = rest.others;
    std::stable_sort(others.begin(), others.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.tick < b.tick; });
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

void buildFittedSong(ChannelFit& fit, Song& fitted) {
    const std::size_t tracks = fit.rest.events.size();
    // Which tracks have notes: a channel takes the channel events of its main
    // part and of tracks without notes.
    std::vector<bool> hasNotes(tracks, false);
    for (const SourcePart& part : fit.parts) {
        hasNotes[part.track] = true;
    }
    const std::uint64_t endTick = fit.rest.endTick;

    // Each track is appended to the song's bytes as it is written; where each
    // begins is kept, and the chunks point into the bytes once all are there.
    fitted = {};
    fitted.format = 1;
    fitted.division = fit.rest.division;
    std::vector<std::size_t> starts;
    TrackWriter writer;
    const auto keep = [&] {
        starts.push_back(fitted.bytes.size());
        fitted.bytes.insert(fitted.bytes.end(), writer.bytes().begin(), writer.bytes().end());
        writer.clear();
    };
    writeOthers(writer, fit.rest);
    keep();

    for (FitChannel& channel : fit.channels) {
        const std::vector<ChannelEvent> own = eventsOf(fit, channel, hasNotes);
        std::visit([&](auto& notes) { writeChannel(writer, channel, notes, own); }, channel.notes);
        writer.end(std::max(endTick, writer.lastTick()));
        keep();
        std::visit([](auto& notes) { std::decay_t<decltype(notes)>().swap(notes); }, channel.notes);
    }
    fit.rest = {};
    starts.push_back(fitted.bytes.size());
    fitted.trackCount = static_cast<std::uint16_t>(starts.size() - 1);
    for (std::size_t t = 0; t + 1 < starts.size(); ++t) {
        fitted.tracks.push_back({static_cast<std::uint32_t>(starts[t + 1] - starts[t]),
                                 fitted.bytes.data() + starts[t]});
    }
}

}  // namespace mid2nolt
