#include "arrange/arranger.h"

#include <algorithm>
#include <array>
#include <bit>
#include <functional>
#include <limits>
#include <memory>
#include <utility>

#include "midi/track_events.h"

namespace mid2nolt {

namespace {

constexpr std::uint8_t kTrackNameMeta = 0x03;
constexpr std::uint64_t kLastTick = std::numeric_limits<std::uint64_t>::max();
// A note's voice within its channel; kLeftOut when it has none, kCut added
// when it is ended early for another.
constexpr std::uint32_t kLeftOut = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kCut = 0x80000000u;
// The release velocity of a note ended by a note-on of velocity 0 or early.
constexpr std::uint8_t kReleaseVelocity = 64;
constexpr std::uint8_t kDefaultTempo[] = {0x07, 0xA1, 0x20};            // 120 beats a minute
constexpr std::uint8_t kDefaultTimeSignature[] = {0x04, 0x02, 0x18, 0x08};  // 4/4

std::uint8_t channelOf(const TrackEvent& event) {
    return event.status & 0x0Fu;
}

bool startsNote(const TrackEvent& event) {
    return event.kind == EventKind::NoteOn && event.data2 != 0;
}

bool endsNote(const TrackEvent& event) {
    return event.kind == EventKind::NoteOff || (event.kind == EventKind::NoteOn && event.data2 == 0);
}

bool isTimingMeta(const TrackEvent& event) {
    return event.kind == EventKind::Meta &&
           (event.metaType == kTempoMeta || event.metaType == kTimeSignatureMeta);
}

// Reads a track chunk a tick at a time: every event at one tick, in their
// order, up to the end of track. Stray data bytes are left out, as the walk
// leaves them.
class GroupReader {
public:
    explicit GroupReader(const TrackChunk& track) : reader_(track.data, track.length) {}

    bool next(std::vector<TrackEvent>& group, std::uint64_t& tick) {
        group.clear();
        if (!havePending_ && !(havePending_ = read())) {
            return false;
        }
        tick = pendingTick_;
        do {
            group.push_back(pending_);
            havePending_ = read();
        } while (havePending_ && pendingTick_ == tick);
        return true;
    }

    // The tick of the end of track, or of the last event when there is none.
    std::uint64_t endTick() const { return endTick_; }
    // Whether the ticks ran past 64 bits (reading stops there).
    bool overflowed() const { return overflowed_; }

private:
    bool read() {
        std::uint64_t delta = 0;
        while (!done_ && reader_.readDelta(delta)) {
            if (delta > kLastTick - tick_) {
                overflowed_ = true;
                break;
            }
            if (!reader_.readEvent(pending_)) {
                break;
            }
            tick_ += delta;
            endTick_ = tick_;
            if (pending_.kind == EventKind::EndOfTrack) {
                break;
            }
            if (pending_.kind != EventKind::StrayData) {
                pendingTick_ = tick_;
                return true;
            }
        }
        done_ = true;
        return false;
    }

    TrackEventReader reader_;
    TrackEvent pending_;
    std::uint64_t pendingTick_ = 0;
    std::uint64_t tick_ = 0;
    std::uint64_t endTick_ = 0;
    bool havePending_ = false;
    bool done_ = false;
    bool overflowed_ = false;
};

// The note sounding in a track on each channel and key. A note ends at the
// next note-off of its channel and key, or where the key is struck again, as
// a synthesizer ends it.
class Sounding {
public:
    Sounding() : notes_(16 * 256, kLeftOut) {}

    void reset() { std::fill(notes_.begin(), notes_.end(), kLeftOut); }
    // Starts `note`; returns the note it ends, or kLeftOut.
    std::uint32_t start(std::uint8_t channel, std::uint8_t key, std::uint32_t note) {
        return std::exchange(notes_[slot(channel, key)], note);
    }
    bool end(std::uint8_t channel, std::uint8_t key, std::uint32_t& note) {
        note = std::exchange(notes_[slot(channel, key)], kLeftOut);
        return note != kLeftOut;
    }
    bool sounds(std::uint8_t channel, int key) const {
        return notes_[slot(channel, static_cast<std::uint8_t>(key))] != kLeftOut;
    }
    // Calls f(channel, key, note) for every note still sounding.
    template <typename F>
    void forEach(F f) const {
        for (std::size_t s = 0; s < notes_.size(); ++s) {
            if (notes_[s] != kLeftOut) {
                f(static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s & 0xFFu), notes_[s]);
            }
        }
    }

private:
    static std::size_t slot(std::uint8_t channel, std::uint8_t key) {
        return std::size_t{channel} << 8 | key;
    }
    std::vector<std::uint32_t> notes_;
};

// The note events of one tick, paired: the notes that start here, and the
// notes that end here, of those sounding before (`ends`) or of those that
// start here and so last no time (`ended` on the start).
struct NoteStart {
    std::uint32_t note;
    const TrackEvent* event;
    bool ended = false;
    std::uint8_t release = 0;
};
struct NoteEnd {
    std::uint32_t note;
    std::uint8_t channel;
    std::uint8_t key;
    std::uint8_t release;
};
struct PairedGroup {
    std::vector<NoteStart> starts;
    std::vector<NoteEnd> ends;
};

// Notes are numbered in the order they start, from `nextNote` on.
void pairGroup(const std::vector<TrackEvent>& group, Sounding& sounding, std::uint32_t& nextNote,
               PairedGroup& paired) {
    paired.starts.clear();
    paired.ends.clear();
    const std::uint32_t first = nextNote;
    const auto endNote = [&](std::uint32_t note, const TrackEvent& event, std::uint8_t release) {
        if (note >= first) {
            paired.starts[note - first].ended = true;
            paired.starts[note - first].release = release;
        } else {
            paired.ends.push_back({note, channelOf(event), event.data1, release});
        }
    };
    for (const TrackEvent& event : group) {
        std::uint32_t note = 0;
        if (startsNote(event)) {
            note = sounding.start(channelOf(event), event.data1, nextNote);
            if (note != kLeftOut) {
                endNote(note, event, kReleaseVelocity);
            }
            paired.starts.push_back({nextNote++, &event});
        } else if (endsNote(event) && sounding.end(channelOf(event), event.data1, note)) {
            endNote(note, event, event.kind == EventKind::NoteOff ? event.data2 : kReleaseVelocity);
        }
    }
}

struct Cut {
    std::uint64_t tick;
    std::uint32_t note;
    std::uint8_t channel;
    std::uint8_t key;
};

// Deals the notes of one channel into monophonic voices: a new voice only
// when none is free, else the free voice whose last note is nearest in pitch
// (the lower voice on a tie). With a limit and every voice busy, a note above
// or below everything sounding takes the voice of the note it passes, which
// ends there (or is left out, when it starts there too); any other note is
// left out.
class Dealer {
public:
    struct Voice {
        std::uint32_t note = kLeftOut;  // sounding now, or kLeftOut
        std::uint8_t key = 0;           // of the note sounding or last sounded
        std::uint64_t start = 0;
        std::uint64_t lastEnd = 0;
    };

    std::uint32_t limit = 0;
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
    std::vector<Voice> voices;

    void reset(std::uint32_t maxVoices) {
        limit = maxVoices;
        leftOut = 0;
        cutShort = 0;
        voices.clear();
        for (std::vector<std::uint32_t>& heap : free_) {
            heap.clear();
        }
        free_bits_.fill(0);
    }

    void release(std::uint32_t v, std::uint64_t tick) {
        voices[v].note = kLeftOut;
        voices[v].lastEnd = tick;
        std::vector<std::uint32_t>& heap = free_[voices[v].key];
        heap.push_back(v);
        std::push_heap(heap.begin(), heap.end(), std::greater<>());
        free_bits_[voices[v].key >> 6] |= std::uint64_t{1} << (voices[v].key & 63u);
    }

    // The voice for `note` starting at `tick`, or kLeftOut.
    std::uint32_t place(std::uint32_t note, std::uint8_t key, std::uint64_t tick,
                        std::vector<std::uint32_t>& voiceOf, std::vector<Cut>& cuts,
                        std::uint8_t channel) {
        std::uint32_t v = takeNearestFree(key);
        if (v == kLeftOut && (limit == 0 || voices.size() < limit)) {
            v = static_cast<std::uint32_t>(voices.size());
            voices.emplace_back();
        }
        if (v == kLeftOut) {
            v = yieldingVoice(key);
            if (v == kLeftOut) {
                ++leftOut;
                return kLeftOut;
            }
            Voice& victim = voices[v];
            if (victim.start == tick) {
                voiceOf[victim.note] = kLeftOut;
                ++leftOut;
            } else {
                voiceOf[victim.note] |= kCut;
                cuts.push_back({tick, victim.note, channel, victim.key});
                ++cutShort;
                victim.lastEnd = tick;
            }
        }
        voices[v].note = note;
        voices[v].key = key;
        voices[v].start = tick;
        return v;
    }

private:
    // With every voice busy: the voice of the highest note when `key` is above
    // all, of the lowest when below all and that note is not also the highest
    // (a single voice keeps the upper line); kLeftOut otherwise.
    std::uint32_t yieldingVoice(std::uint8_t key) const {
        std::uint32_t top = 0;
        std::uint32_t bottom = 0;
        for (std::uint32_t v = 1; v < voices.size(); ++v) {
            top = voices[v].key > voices[top].key ? v : top;
            bottom = voices[v].key < voices[bottom].key ? v : bottom;
        }
        if (key > voices[top].key) {
            return top;
        }
        return key < voices[bottom].key && voices.size() > 1 ? bottom : kLeftOut;
    }

    int firstFreeAtOrAbove(int key) const {
        for (int w = key >> 6; w < 4; ++w) {
            std::uint64_t bits = free_bits_[static_cast<std::size_t>(w)];
            if (w == key >> 6) {
                bits &= ~std::uint64_t{0} << (key & 63);
            }
            if (bits != 0) {
                return w * 64 + std::countr_zero(bits);
            }
        }
        return -1;
    }

    int lastFreeAtOrBelow(int key) const {
        for (int w = key >> 6; w >= 0; --w) {
            std::uint64_t bits = free_bits_[static_cast<std::size_t>(w)];
            if (w == key >> 6 && (key & 63) != 63) {
                bits &= (std::uint64_t{1} << ((key & 63) + 1)) - 1;
            }
            if (bits != 0) {
                return w * 64 + 63 - std::countl_zero(bits);
            }
        }
        return -1;
    }

    std::uint32_t takeNearestFree(std::uint8_t key) {
        const int up = firstFreeAtOrAbove(key);
        const int down = lastFreeAtOrBelow(key);
        if (up < 0 && down < 0) {
            return kLeftOut;
        }
        int chosen = up < 0 ? down : up;
        if (up >= 0 && down >= 0 && up != down) {
            const int above = up - key;
            const int below = key - down;
            if (below < above || (below == above && free_[static_cast<std::size_t>(down)].front() <
                                                        free_[static_cast<std::size_t>(up)].front())) {
                chosen = down;
            }
        }
        std::vector<std::uint32_t>& heap = free_[static_cast<std::size_t>(chosen)];
        std::pop_heap(heap.begin(), heap.end(), std::greater<>());
        const std::uint32_t v = heap.back();
        heap.pop_back();
        if (heap.empty()) {
            free_bits_[static_cast<std::size_t>(chosen) >> 6] &=
                ~(std::uint64_t{1} << (static_cast<unsigned>(chosen) & 63u));
        }
        return v;
    }

    // Free voices by the key of their last note: each a min-heap of voice
    // numbers, with a bit per key that has any.
    std::array<std::vector<std::uint32_t>, 256> free_;
    std::array<std::uint64_t, 4> free_bits_{};
};

// The file's tempo map: tempo and time signature metas, by tick.
struct MapEntry {
    std::uint64_t tick;
    std::uint8_t type;
    std::uint32_t offset;  // of the data in TempoMap::data
    std::uint32_t length;
};

struct TempoMap {
    std::vector<MapEntry> entries;
    Bytes data;

    // Written as the walk reads them: a tempo always with its three bytes, a
    // time signature with at least its two.
    void add(std::uint64_t tick, const TrackEvent& event) {
        const auto offset = static_cast<std::uint32_t>(data.size());
        if (event.metaType == kTempoMeta) {
            data.insert(data.end(), {static_cast<std::uint8_t>(event.tempo >> 16),
                                     static_cast<std::uint8_t>(event.tempo >> 8),
                                     static_cast<std::uint8_t>(event.tempo)});
        } else if (event.dataLength >= 2) {
            data.insert(data.end(), event.data, event.data + event.dataLength);
        } else {
            data.insert(data.end(), {event.numerator, event.exponent});
        }
        entries.push_back(
            {tick, event.metaType, offset, static_cast<std::uint32_t>(data.size() - offset)});
    }

    // In tick order, earlier tracks first at one tick; a map that changes a
    // setting later but not at the start gets its default there, so that no
    // track starts with the setting another track ended with.
    void finish() {
        std::stable_sort(entries.begin(), entries.end(),
                         [](const MapEntry& a, const MapEntry& b) { return a.tick < b.tick; });
        addDefault(kTempoMeta, kDefaultTempo, sizeof kDefaultTempo);
        addDefault(kTimeSignatureMeta, kDefaultTimeSignature, sizeof kDefaultTimeSignature);
    }

private:
    void addDefault(std::uint8_t type, const std::uint8_t* bytes, std::uint32_t length) {
        bool any = false;
        for (const MapEntry& entry : entries) {
            if (entry.type == type) {
                if (entry.tick == 0) {
                    return;
                }
                any = true;
            }
        }
        if (any) {
            const auto offset = static_cast<std::uint32_t>(data.size());
            data.insert(data.end(), bytes, bytes + length);
            entries.insert(entries.begin(), {0, type, offset, length});
        }
    }
};

struct ChannelPlan {
    std::uint64_t notes = 0;
    std::uint64_t leftOut = 0;
    std::uint64_t cutShort = 0;
    std::vector<std::uint64_t> lastEnd;  // per voice: the end of its last note
};

// What the first pass decides for one track.
struct TrackPlan {
    std::vector<std::uint32_t> voiceOf;  // per note, in the order the notes start
    std::vector<Cut> cuts;               // in tick order
    std::array<ChannelPlan, 16> channels;
    const std::uint8_t* name = nullptr;  // the first track name
    std::uint32_t nameLength = 0;
    bool named = false;
    bool hasNotes = false;
    std::uint64_t endTick = 0;
};

// What the passes over each track reuse.
struct Workspace {
    Sounding sounding;
    std::array<Dealer, 16> dealers;
    std::vector<TrackEvent> group;
    PairedGroup paired;
};

// First pass: pairs the notes, deals them into voices, and collects the
// track's name and timing metas.
bool planTrack(const TrackChunk& track, std::uint32_t limit, TrackPlan& plan, TempoMap& map,
               Workspace& work) {
    struct Fresh {
        std::uint32_t note;
        std::uint8_t channel;
        std::uint8_t key;
        bool ended;
    };
    work.sounding.reset();
    for (Dealer& dealer : work.dealers) {
        dealer.reset(limit);
    }
    GroupReader groups(track);
    std::vector<Fresh> fresh;
    std::uint32_t nextNote = 0;
    std::uint64_t tick = 0;
    while (groups.next(work.group, tick)) {
        for (const TrackEvent& event : work.group) {
            if (isTimingMeta(event)) {
                map.add(tick, event);
            } else if (event.kind == EventKind::Meta && event.metaType == kTrackNameMeta &&
                       !plan.named) {
                plan.named = true;
                plan.name = event.data;
                plan.nameLength = event.dataLength;
            }
        }
        pairGroup(work.group, work.sounding, nextNote, work.paired);
        for (const NoteEnd& end : work.paired.ends) {
            if (plan.voiceOf[end.note] < kCut) {
                work.dealers[end.channel].release(plan.voiceOf[end.note], tick);
            }
        }
        fresh.clear();
        for (const NoteStart& start : work.paired.starts) {
            const std::uint8_t channel = channelOf(*start.event);
            plan.voiceOf.push_back(kLeftOut);
            ++plan.channels[channel].notes;
            fresh.push_back({start.note, channel, start.event->data1, start.ended});
        }
        // Notes struck together are dealt from the top down.
        std::stable_sort(fresh.begin(), fresh.end(),
                         [](const Fresh& a, const Fresh& b) { return a.key > b.key; });
        for (const Fresh& f : fresh) {
            plan.voiceOf[f.note] = work.dealers[f.channel].place(f.note, f.key, tick, plan.voiceOf,
                                                                 plan.cuts, f.channel);
        }
        for (const Fresh& f : fresh) {
            if (f.ended && plan.voiceOf[f.note] < kCut) {
                work.dealers[f.channel].release(plan.voiceOf[f.note], tick);
            }
        }
    }
    if (groups.overflowed()) {
        return false;
    }
    plan.endTick = groups.endTick();
    plan.hasNotes = !plan.voiceOf.empty();
    for (std::size_t c = 0; c < 16; ++c) {
        ChannelPlan& channel = plan.channels[c];
        const Dealer& dealer = work.dealers[c];
        channel.leftOut = dealer.leftOut;
        channel.cutShort = dealer.cutShort;
        for (const Dealer::Voice& voice : dealer.voices) {
            channel.lastEnd.push_back(voice.note == kLeftOut ? voice.lastEnd : plan.endTick);
        }
    }
    return true;
}

// Second pass: writes the voice tracks of one track. `conductor`: the track's
// other events get a track of their own, before the voices; otherwise they go
// with the first voice.
void writeVoices(const TrackChunk& track, const TrackPlan& plan, const TempoMap& map,
                 bool conductor, std::vector<Bytes>& out, Workspace& work) {
    struct Voice {
        std::uint8_t channel = 0;
        bool first = false;  // of its channel: carries all the channel's events
        std::uint64_t lastEnd = 0;
        bool sounding = false;
        int lastKey = -1;
        bool noteWritten = false;  // a note event at noteTick
        std::uint64_t noteTick = 0;
    };
    std::array<std::uint32_t, 16> firstWriter{};
    std::vector<TrackWriter> writers(conductor ? 1 : 0);
    std::vector<Voice> voices(writers.size());
    for (std::uint8_t c = 0; c < 16; ++c) {
        firstWriter[c] = static_cast<std::uint32_t>(writers.size());
        const std::vector<std::uint64_t>& lastEnd = plan.channels[c].lastEnd;
        for (std::size_t v = 0; v < lastEnd.size(); ++v) {
            voices.push_back({c, v == 0, lastEnd[v]});
        }
        writers.resize(voices.size());
    }
    const std::size_t home = 0;
    // Voices after the first are named after the track.
    if (plan.named) {
        for (std::size_t w = 1; w < writers.size(); ++w) {
            Bytes name(plan.name, plan.name + plan.nameLength);
            const std::string suffix = " (voice " + std::to_string(conductor ? w : w + 1) + ")";
            name.insert(name.end(), suffix.begin(), suffix.end());
            writers[w].meta(0, kTrackNameMeta, name.data(), static_cast<std::uint32_t>(name.size()));
        }
    }

    Sounding& sounding = work.sounding;
    sounding.reset();
    const auto noteEvent = [&](std::size_t w, std::uint64_t tick, std::uint8_t status,
                               std::uint8_t key, std::uint8_t velocity) {
        writers[w].channel(tick, status, key, velocity);
        Voice& voice = voices[w];
        voice.sounding = (status & 0xF0u) == 0x90u;
        voice.lastKey = key;
        voice.noteWritten = true;
        voice.noteTick = tick;
    };
    // A timing meta goes to every track. A voice resting there, with notes to
    // come, gets a note-off first, so that the rest is timed piece by piece:
    // of a key no note of the channel sounds, so that it silences nothing.
    std::size_t nextEntry = 0;
    const auto writeMapUntil = [&](std::uint64_t tick, bool inclusive) {
        while (nextEntry < map.entries.size() &&
               (map.entries[nextEntry].tick < tick ||
                (inclusive && map.entries[nextEntry].tick == tick))) {
            const MapEntry& entry = map.entries[nextEntry++];
            for (std::size_t w = 0; w < writers.size(); ++w) {
                const Voice& voice = voices[w];
                if ((!conductor || w != home) && !voice.sounding && entry.tick < voice.lastEnd &&
                    !(voice.noteWritten && voice.noteTick == entry.tick)) {
                    int key = voice.lastKey;
                    if (key < 0 || key > 127 || sounding.sounds(voice.channel, key)) {
                        key = 0;
                        while (key < 128 && sounding.sounds(voice.channel, key)) {
                            ++key;
                        }
                    }
                    if (key < 128) {
                        noteEvent(w, entry.tick, 0x80 | voice.channel,
                                  static_cast<std::uint8_t>(key), 0);
                    }
                }
                writers[w].meta(entry.tick, entry.type, map.data.data() + entry.offset,
                                entry.length);
            }
        }
    };
    const auto writerOf = [&](std::uint8_t channel, std::uint32_t note) -> std::size_t {
        return firstWriter[channel] + (plan.voiceOf[note] & ~kCut);
    };
    const auto placed = [&](std::uint32_t note) { return plan.voiceOf[note] != kLeftOut; };

    GroupReader groups(track);
    std::vector<TrackEvent>& group = work.group;
    std::uint32_t nextNote = 0;
    std::size_t nextCut = 0;
    std::uint64_t tick = 0;
    while (groups.next(group, tick)) {
        writeMapUntil(tick, false);
        pairGroup(group, sounding, nextNote, work.paired);
        // Note ends first, so that a voice is free for the notes that start here.
        for (; nextCut < plan.cuts.size() && plan.cuts[nextCut].tick == tick; ++nextCut) {
            const Cut& cut = plan.cuts[nextCut];
            noteEvent(writerOf(cut.channel, cut.note), tick, 0x80 | cut.channel, cut.key,
                      kReleaseVelocity);
        }
        for (const NoteEnd& end : work.paired.ends) {
            if (plan.voiceOf[end.note] < kCut) {
                noteEvent(writerOf(end.channel, end.note), tick, 0x80 | end.channel, end.key,
                          end.release);
            }
        }
        // Then everything but notes: a channel's events to its voices (the
        // first takes them all, the others up to their last note's end), the
        // rest to the first track.
        for (const TrackEvent& event : group) {
            switch (event.kind) {
                case EventKind::OtherChannel: {
                    const std::uint8_t channel = channelOf(event);
                    const std::size_t count = plan.channels[channel].lastEnd.size();
                    if (count == 0) {
                        writers[home].channel(tick, event.status, event.data1, event.data2);
                    }
                    for (std::size_t v = 0; v < count; ++v) {
                        const std::size_t w = firstWriter[channel] + v;
                        if (voices[w].first || tick <= voices[w].lastEnd) {
                            writers[w].channel(tick, event.status, event.data1, event.data2);
                        }
                    }
                    break;
                }
                case EventKind::Meta:
                    if (!isTimingMeta(event)) {
                        writers[home].meta(tick, event.metaType, event.data, event.dataLength);
                    }
                    break;
                case EventKind::SystemExclusive:
                    writers[home].sysex(tick, event.status, event.data, event.dataLength);
                    break;
                case EventKind::System: writers[home].system(tick, event.status); break;
                default: break;
            }
        }
        // Then the notes that start; one that also ends here ends at once.
        for (const NoteStart& start : work.paired.starts) {
            if (!placed(start.note)) {
                continue;
            }
            const std::uint8_t channel = channelOf(*start.event);
            const std::size_t w = writerOf(channel, start.note);
            noteEvent(w, tick, 0x90 | channel, start.event->data1, start.event->data2);
            if (start.ended) {
                noteEvent(w, tick, 0x80 | channel, start.event->data1, start.release);
            }
        }
    }

    // Notes still sounding end with the track.
    const std::uint64_t endTick = plan.endTick;
    writeMapUntil(endTick, false);
    sounding.forEach([&](std::uint8_t channel, std::uint8_t key, std::uint32_t note) {
        if (plan.voiceOf[note] < kCut) {
            noteEvent(writerOf(channel, note), endTick, 0x80 | channel, key, kReleaseVelocity);
        }
    });
    writeMapUntil(kLastTick, true);
    for (TrackWriter& writer : writers) {
        writer.end(std::max(endTick, writer.lastTick()));
        out.push_back(writer.take());
    }
}

}  // namespace

bool arrange(const Song& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error) {
    result = {};
    result.format = song.format == 2 ? 2 : 1;
    result.division = song.division;
    std::vector<TrackPlan> plans(song.tracks.size());
    std::vector<TempoMap> maps(song.format == 2 ? song.tracks.size() : 1);
    const auto work = std::make_unique<Workspace>();
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        if (!planTrack(song.tracks[t], options.maxVoices, plans[t],
                       maps[song.format == 2 ? t : 0], *work)) {
            error = "Track " + std::to_string(t) + " is longer than 2^64 ticks";
            return false;
        }
    }
    for (TempoMap& map : maps) {
        map.finish();
    }

    // Every output track is counted before any is written.
    std::size_t trackCount = 0;
    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        const TrackPlan& plan = plans[t];
        const bool conductor = t == 0 && song.format != 2;
        std::size_t count = plan.hasNotes && conductor ? 1 : 0;
        for (const ChannelPlan& channel : plan.channels) {
            count += channel.lastEnd.size();
        }
        trackCount += std::max<std::size_t>(count, 1);
    }
    if (trackCount > std::numeric_limits<std::uint16_t>::max()) {
        error = "Too many voice tracks for one MIDI File : " + std::to_string(trackCount);
        return false;
    }

    for (std::size_t t = 0; t < song.tracks.size(); ++t) {
        const TrackChunk& track = song.tracks[t];
        const TrackPlan& plan = plans[t];
        const auto first = static_cast<std::uint32_t>(result.tracks.size());
        const auto number = static_cast<std::uint32_t>(t);
        if (!plan.hasNotes) {
            result.tracks.emplace_back(track.data, track.data + track.length);
            result.parts.push_back({number, std::nullopt, false, 0, 0, 0, first, 1});
            continue;
        }
        const bool conductor = t == 0 && song.format != 2;
        writeVoices(track, plan, maps[song.format == 2 ? t : 0], conductor, result.tracks, *work);
        std::uint32_t next = first;
        if (conductor) {
            result.parts.push_back({number, std::nullopt, true, 0, 0, 0, next++, 1});
        }
        for (std::uint8_t c = 0; c < 16; ++c) {
            const ChannelPlan& channel = plan.channels[c];
            if (channel.notes == 0) {
                continue;
            }
            const auto voices = static_cast<std::uint32_t>(channel.lastEnd.size());
            result.parts.push_back(
                {number, c, true, channel.notes, channel.leftOut, channel.cutShort, next, voices});
            next += voices;
        }
    }
    return true;
}

std::vector<std::vector<Note>> songNotes(const Song& song) {
    std::vector<std::vector<Note>> tracks;
    const auto work = std::make_unique<Workspace>();
    for (const TrackChunk& track : song.tracks) {
        std::vector<Note>& notes = tracks.emplace_back();
        work->sounding.reset();
        GroupReader groups(track);
        std::uint32_t nextNote = 0;
        std::uint64_t tick = 0;
        while (groups.next(work->group, tick)) {
            pairGroup(work->group, work->sounding, nextNote, work->paired);
            for (const NoteEnd& end : work->paired.ends) {
                notes[end.note].end = tick;
            }
            for (const NoteStart& start : work->paired.starts) {
                const TrackEvent& event = *start.event;
                notes.push_back({tick, tick, channelOf(event), event.data1, event.data2});
            }
        }
        work->sounding.forEach([&](std::uint8_t, std::uint8_t, std::uint32_t note) {
            notes[note].end = groups.endTick();
        });
    }
    return tracks;
}

}  // namespace mid2nolt
