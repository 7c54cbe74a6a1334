#include "arrange/track_plan.h"

#include <utility>

#include "arrange/tempo_watch.h"

namespace mid2nolt {

namespace {

// Deals the notes of one tick once all its events are read. The starts are
// sorted in place: nothing reads them after.
void deal(std::uint64_t tick, TickGroup& group, TrackPlan& plan, std::array<Dealer, 16>& dealers) {
    for (const NoteEnd& end : group.ends) {
        if (dealers[end.channel].holds(plan.voiceOf[end.note], end.note)) {
            dealers[end.channel].release(plan.voiceOf[end.note], tick);
        }
    }
    std::vector<NoteStart>& starts = group.starts;
    for (const NoteStart& start : starts) {
        plan.voiceOf.push_back(kLeftOut);
        ++plan.channels[start.channel].notes;
    }
    // Notes struck together are dealt from the top down (a stable insertion
    // sort: groups are small, and it allocates nothing).
    for (std::size_t i = 1; i < starts.size(); ++i) {
        for (std::size_t j = i; j > 0 && starts[j - 1].key < starts[j].key; --j) {
            std::swap(starts[j - 1], starts[j]);
        }
    }
    for (const NoteStart& start : starts) {
        plan.voiceOf[start.note] = dealers[start.channel].place(
            start.note, start.key, tick, plan.voiceOf, plan.cuts, start.channel);
    }
    for (const NoteStart& start : starts) {
        if (start.ended && dealers[start.channel].holds(plan.voiceOf[start.note], start.note)) {
            dealers[start.channel].release(plan.voiceOf[start.note], tick);
        }
    }
}

// What each channel's dealer made of the track: its counts, and per voice
// where it ends, whether it sounds across a change of tempo, its notes.
void summarise(TrackPlan& plan, const std::array<Dealer, 16>& dealers) {
    for (std::size_t c = 0; c < 16; ++c) {
        ChannelPlan& channel = plan.channels[c];
        const Dealer& dealer = dealers[c];
        channel.leftOut = dealer.leftOut;
        channel.cutShort = dealer.cutShort;
        for (const Dealer::Voice& voice : dealer.voices) {
            channel.lastEnd.push_back(voice.note == kLeftOut ? voice.lastEnd : plan.endTick);
            channel.acrossTempo.push_back(voice.someAcrossTempo);
            channel.notesOf.push_back(voice.notes);
        }
    }
}

}  // namespace

bool planTrack(const SongSource& song, std::size_t t, std::uint32_t limit, TrackPlan& plan,
               TempoMap* map, const std::vector<TempoChange>& known, PlanBuffers& buffers) {
    for (Dealer& dealer : buffers.dealers) {
        dealer.reset(limit);
    }
    // A note takes at least 3 bytes of a chunk: room for all at once.
    plan.voiceOf.reserve(song.sizeOf(t) / 3);
    TickGroup& group = buffers.group;
    TempoWatch watch(known);
    const std::unique_ptr<TrackSource> track = song.open(t);
    std::uint64_t groupTick = 0;
    group.clear(0);
    // A tick's notes are dealt once all its events are read.
    const auto every = [&](const TrackEvent& event, std::uint64_t tick) {
        if (tick != groupTick) {
            if (!group.empty()) {
                deal(groupTick, group, plan, buffers.dealers);
                group.clear(group.next());
            }
            watch.after(groupTick, buffers.dealers);
            watch.before(tick, buffers.dealers);
            groupTick = tick;
        }
        if (event.kind != EventKind::Meta) {
            return;
        }
        if (isTimingMeta(event)) {
            if (map != nullptr) {
                map->add(tick, event);
                if (event.metaType == kTempoMeta) {
                    ++plan.tempoEntries;
                    watch.own(tick, event.tempo);
                }
            }
        } else if (event.metaType == kTrackNameMeta && !plan.named) {
            plan.named = true;
            plan.name = event.data;
            plan.nameLength = event.dataLength;
        }
    };
    const TrackEnd end = pairEvents(
        *track, buffers.sounding,
        [&](std::uint64_t, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
            group.start(channel, key, velocity);
        },
        [&](std::uint32_t note, std::uint64_t, std::uint8_t channel, std::uint8_t key,
            std::uint8_t release) { group.end(note, channel, key, release); },
        every);
    deal(groupTick, group, plan, buffers.dealers);
    if (end.overflowed) {
        return false;
    }
    plan.endTick = end.tick;
    // Notes still sounding end with the track: a change at its end is after them.
    watch.after(groupTick, buffers.dealers, groupTick == plan.endTick);
    watch.before(plan.endTick, buffers.dealers);
    plan.notesAcrossTempo = watch.notesAcross();
    summarise(plan, buffers.dealers);
    return true;
}

}  // namespace mid2nolt
