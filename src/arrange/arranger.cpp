#include "arrange/arranger.h"

#include <algorithm>
#include <array>
#include <bit>
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
constexpr std::uint8_t kDefaultTempo[] = {0x07, 0xA1, 0x20};                // 120 beats a minute
constexpr std::uint8_t kDefaultTimeSignature[] = {0x04, 0x02, 0x18, 0x08};  // 4/4

std::uint8_t channelOf(const TrackEvent& event) {
    return event.status & 0x0Fu;
}

bool startsNote(const TrackEvent& event) {
    return event.kind == EventKind::NoteOn && event.data2 != 0;
}

bool endsNote(const TrackEvent& event) {
    return event.kind == EventKind::NoteOff ||
           (event.kind == EventKind::NoteOn && event.data2 == 0);
}

bool isTimingMeta(const TrackEvent& event) {
    return event.kind == EventKind::Meta &&
           (event.metaType == kTempoMeta || event.metaType == kTimeSignatureMeta);
}

// Reads a track chunk event by event, with each event's tick, up to the end
// of track. Stray data bytes are left out, as the walk leaves them.
class TimedReader {
public:
    explicit TimedReader(const TrackChunk& track) : reader_(track.data, track.length) {}

    bool next(TrackEvent& event, std::uint64_t& tick) {
        std::uint64_t delta = 0;
        while (!done_ && reader_.readDelta(delta)) {
            if (delta > kLastTick - tick_) {
                overflowed_ = true;
                break;
            }
            if (!reader_.readEvent(event)) {
                break;
            }
            tick_ += delta;
            if (event.kind == EventKind::EndOfTrack) {
                break;
            }
            if (event.kind != EventKind::StrayData) {
                tick = tick_;
                return true;
            }
        }
        done_ = true;
        return false;
    }

    // The tick of the end of track, or of the last event when there is none.
    std::uint64_t endTick() const { return tick_; }
    // Whether the ticks ran past 64 bits (reading stops there).
    bool overflowed() const { return overflowed_; }

private:
    TrackEventReader reader_;
    std::uint64_t tick_ = 0;
    bool done_ = false;
    bool overflowed_ = false;
};

// The note sounding in a track on each channel and key. A note ends at the
// next note-off of its channel and key, or where the key is struck again, as
// a synthesizer ends it.
class Sounding {
public:
    Sounding() : notes_(std::size_t{16} * 256, kLeftOut) {}

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
                f(static_cast<std::uint8_t>(s >> 8), static_cast<std::uint8_t>(s & 0xFFu),
                  notes_[s]);
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
// start here and so last no time (`ended` on the start). Notes are numbered
// in the order they start.
struct NoteStart {
    std::uint32_t note;
    std::uint8_t channel;
    std::uint8_t key;
    std::uint8_t velocity;
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
    std::uint32_t first = 0;  // the number of the first note that starts here
    std::vector<NoteStart> starts;
    std::vector<NoteEnd> ends;

    void clear(std::uint32_t nextNote) {
        first = nextNote;
        starts.clear();
        ends.clear();
    }
    bool empty() const { return starts.empty() && ends.empty(); }
};

// Ends `note` where `event` stands: on its start, when it started in this
// tick, else as one of the tick's ends.
[[gnu::always_inline]] inline void endNote(const TrackEvent& event, std::uint32_t note,
                                           std::uint8_t release, PairedGroup& paired) {
    if (note >= paired.first) {
        paired.starts[note - paired.first].ended = true;
        paired.starts[note - paired.first].release = release;
    } else {
        paired.ends.push_back({note, channelOf(event), event.data1, release});
    }
}

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
        note = sounding.start(channelOf(event), event.data1, nextNote);
        if (note != kLeftOut) {
            ended(note, kReleaseVelocity);
        }
        return true;
    }
    if (endsNote(event) && sounding.end(channelOf(event), event.data1, note)) {
        ended(note, event.kind == EventKind::NoteOff ? event.data2 : kReleaseVelocity);
    }
    return false;
}

// Pairs one event of the tick into `paired`.
[[gnu::always_inline]] inline void pairEvent(const TrackEvent& event, Sounding& sounding,
                                             std::uint32_t& nextNote, PairedGroup& paired) {
    const auto ended = [&](std::uint32_t note, std::uint8_t release) {
        endNote(event, note, release, paired);
    };
    if (pairNote(event, sounding, nextNote, ended)) {
        paired.starts.push_back({nextNote++, channelOf(event), event.data1, event.data2});
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
        for (std::vector<std::uint32_t>& heap : moreFree_) {
            heap.clear();
        }
        free_bits_.fill(0);
    }

    void release(std::uint32_t v, std::uint64_t tick) {
        voices[v].note = kLeftOut;
        voices[v].lastEnd = tick;
        const std::uint8_t key = voices[v].key;
        std::uint64_t& bits = free_bits_[key >> 6];
        const std::uint64_t bit = std::uint64_t{1} << (key & 63u);
        if ((bits & bit) == 0) {
            bits |= bit;
            lowestFree_[key] = v;
            return;
        }
        if (v < lowestFree_[key]) {
            std::swap(v, lowestFree_[key]);
        }
        std::vector<std::uint32_t>& heap = moreFree_[key];
        heap.push_back(v);
        std::push_heap(heap.begin(), heap.end(), std::greater<>());
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
            if (below < above ||
                (below == above && lowestFree_[static_cast<std::size_t>(down)] <
                                       lowestFree_[static_cast<std::size_t>(up)])) {
                chosen = down;
            }
        }
        const auto slot = static_cast<std::size_t>(chosen);
        const std::uint32_t v = lowestFree_[slot];
        std::vector<std::uint32_t>& heap = moreFree_[slot];
        if (heap.empty()) {
            free_bits_[slot >> 6] &= ~(std::uint64_t{1} << (slot & 63u));
        } else {
            std::pop_heap(heap.begin(), heap.end(), std::greater<>());
            lowestFree_[slot] = heap.back();
            heap.pop_back();
        }
        return v;
    }

    // Free voices by the key of their last note: a bit per key that has any,
    // the lowest voice number, and the others in a min-heap (rarely any).
    std::array<std::uint64_t, 4> free_bits_{};
    std::array<std::uint32_t, 256> lowestFree_{};
    std::array<std::vector<std::uint32_t>, 256> moreFree_;
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
    std::uint64_t endTick = 0;
};

// What the passes over each track reuse.
struct Workspace {
    Sounding sounding;
    std::array<Dealer, 16> dealers;
    std::vector<TrackEvent> group;
    PairedGroup paired;
    std::vector<TrackWriter> writers;
};

// First pass: pairs the notes, deals them into voices, and collects the
// track's name and timing metas.
bool planTrack(const TrackChunk& track, std::uint32_t limit, TrackPlan& plan, TempoMap& map,
               Workspace& work) {
    work.sounding.reset();
    for (Dealer& dealer : work.dealers) {
        dealer.reset(limit);
    }
    // A note takes at least 3 bytes of a chunk: room for all at once.
    plan.voiceOf.reserve(track.length / 3);
    PairedGroup& paired = work.paired;
    // Deals the notes of one tick once all its events are read. The starts
    // are sorted in place: nothing reads them after.
    const auto deal = [&](std::uint64_t tick) {
        for (const NoteEnd& end : paired.ends) {
            if (plan.voiceOf[end.note] < kCut) {
                work.dealers[end.channel].release(plan.voiceOf[end.note], tick);
            }
        }
        std::vector<NoteStart>& starts = paired.starts;
        for (const NoteStart& start : starts) {
            plan.voiceOf.push_back(kLeftOut);
            ++plan.channels[start.channel].notes;
        }
        // Notes struck together are dealt from the top down (a stable
        // insertion sort: groups are small, and it allocates nothing).
        for (std::size_t i = 1; i < starts.size(); ++i) {
            for (std::size_t j = i; j > 0 && starts[j - 1].key < starts[j].key; --j) {
                std::swap(starts[j - 1], starts[j]);
            }
        }
        for (const NoteStart& start : starts) {
            plan.voiceOf[start.note] = work.dealers[start.channel].place(
                start.note, start.key, tick, plan.voiceOf, plan.cuts, start.channel);
        }
        for (const NoteStart& start : starts) {
            if (start.ended && plan.voiceOf[start.note] < kCut) {
                work.dealers[start.channel].release(plan.voiceOf[start.note], tick);
            }
        }
    };
    TimedReader reader(track);
    TrackEvent event;
    std::uint32_t nextNote = 0;
    std::uint64_t tick = 0;
    std::uint64_t groupTick = 0;
    paired.clear(nextNote);
    while (reader.next(event, tick)) {
        if (tick != groupTick) {
            if (!paired.empty()) {
                deal(groupTick);
                paired.clear(nextNote);
            }
            groupTick = tick;
        }
        if (event.kind == EventKind::Meta) {
            if (isTimingMeta(event)) {
                map.add(tick, event);
            } else if (event.metaType == kTrackNameMeta && !plan.named) {
                plan.named = true;
                plan.name = event.data;
                plan.nameLength = event.dataLength;
            }
        } else {
            pairEvent(event, work.sounding, nextNote, paired);
        }
    }
    deal(groupTick);
    if (reader.overflowed()) {
        return false;
    }
    plan.endTick = reader.endTick();
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
bool writeVoices(const TrackChunk& track, const TrackPlan& plan, const TempoMap& map,
                 bool conductor, const TrackSink& sink, Workspace& work) {
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
    std::vector<Voice> voices(conductor ? 1 : 0);
    for (std::uint8_t c = 0; c < 16; ++c) {
        firstWriter[c] = static_cast<std::uint32_t>(voices.size());
        const std::vector<std::uint64_t>& lastEnd = plan.channels[c].lastEnd;
        for (std::size_t v = 0; v < lastEnd.size(); ++v) {
            voices.push_back({c, v == 0, lastEnd[v]});
        }
    }
    // Writers keep their buffers from track to track.
    std::vector<TrackWriter>& writers = work.writers;
    writers.resize(std::max(writers.size(), voices.size()));
    for (std::size_t w = 0; w < voices.size(); ++w) {
        writers[w].clear();
    }
    const std::size_t home = 0;
    // Voices after the first are named after the track.
    if (plan.named) {
        for (std::size_t w = 1; w < voices.size(); ++w) {
            Bytes name(plan.name, plan.name + plan.nameLength);
            const std::string suffix = " (voice " + std::to_string(conductor ? w : w + 1) + ")";
            name.insert(name.end(), suffix.begin(), suffix.end());
            writers[w].meta(0, kTrackNameMeta, name.data(),
                            static_cast<std::uint32_t>(name.size()));
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
            for (std::size_t w = 0; w < voices.size(); ++w) {
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

    // The events of one tick are written once all are read: note events are
    // paired as they come, the others kept in order.
    PairedGroup& paired = work.paired;
    std::vector<TrackEvent>& others = work.group;
    std::size_t nextCut = 0;
    const auto writeTick = [&](std::uint64_t tick) {
        // Note ends first, so that a voice is free for the notes that start here.
        for (; nextCut < plan.cuts.size() && plan.cuts[nextCut].tick == tick; ++nextCut) {
            const Cut& cut = plan.cuts[nextCut];
            noteEvent(writerOf(cut.channel, cut.note), tick, 0x80 | cut.channel, cut.key,
                      kReleaseVelocity);
        }
        for (const NoteEnd& end : paired.ends) {
            if (plan.voiceOf[end.note] < kCut) {
                noteEvent(writerOf(end.channel, end.note), tick, 0x80 | end.channel, end.key,
                          end.release);
            }
        }
        // Then everything but notes: a channel's events to its voices (the
        // first takes them all, the others up to their last note's end), the
        // rest to the first track.
        for (const TrackEvent& event : others) {
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
        for (const NoteStart& start : paired.starts) {
            if (!placed(start.note)) {
                continue;
            }
            const std::size_t w = writerOf(start.channel, start.note);
            noteEvent(w, tick, 0x90 | start.channel, start.key, start.velocity);
            if (start.ended) {
                noteEvent(w, tick, 0x80 | start.channel, start.key, start.release);
            }
        }
    };
    TimedReader reader(track);
    TrackEvent event;
    std::uint32_t nextNote = 0;
    std::uint64_t tick = 0;
    std::uint64_t groupTick = 0;
    bool started = false;
    while (reader.next(event, tick)) {
        if (!started || tick != groupTick) {
            if (started) {
                writeTick(groupTick);
            }
            writeMapUntil(tick, false);
            paired.clear(nextNote);
            others.clear();
            groupTick = tick;
            started = true;
        }
        if (event.kind == EventKind::NoteOn || event.kind == EventKind::NoteOff) {
            pairEvent(event, sounding, nextNote, paired);
        } else {
            others.push_back(event);
        }
    }
    if (started) {
        writeTick(groupTick);
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
    for (std::size_t w = 0; w < voices.size(); ++w) {
        writers[w].end(std::max(endTick, writers[w].lastTick()));
        if (!sink(writers[w].bytes())) {
            return false;
        }
    }
    return true;
}

}  // namespace

struct Arranger::Plan {
    std::vector<TrackPlan> tracks;
    std::vector<TempoMap> maps;  // one for the file, or one per track in format 2
    Workspace work;
};

Arranger::Arranger(const Song& song, const ArrangeOptions& options)
    : song_(song), options_(options), plan_(std::make_unique<Plan>()) {}

Arranger::~Arranger() = default;

std::uint16_t Arranger::format() const {
    return song_.format == 2 ? 2 : 1;
}

bool Arranger::conductor(std::size_t track) const {
    return track == 0 && song_.format != 2;
}

bool Arranger::plan(std::string& error) {
    Plan& plan = *plan_;
    plan.tracks.assign(song_.tracks.size(), {});
    plan.maps.assign(song_.format == 2 ? song_.tracks.size() : 1, {});
    for (std::size_t t = 0; t < song_.tracks.size(); ++t) {
        if (!planTrack(song_.tracks[t], options_.maxVoices, plan.tracks[t],
                       plan.maps[song_.format == 2 ? t : 0], plan.work)) {
            error = "Track " + std::to_string(t) + " is longer than 2^64 ticks";
            return false;
        }
    }
    for (TempoMap& map : plan.maps) {
        map.finish();
    }

    parts_.clear();
    std::uint64_t next = 0;
    const auto part = [&](std::uint32_t track, std::optional<std::uint8_t> channel, bool hasNotes,
                          const ChannelPlan* notes, std::uint32_t count) {
        parts_.push_back({track, channel, hasNotes, notes ? notes->notes : 0,
                          notes ? notes->leftOut : 0, notes ? notes->cutShort : 0,
                          static_cast<std::uint32_t>(std::min<std::uint64_t>(next, kTrackLimit)),
                          count});
        next += count;
    };
    for (std::size_t t = 0; t < song_.tracks.size(); ++t) {
        const TrackPlan& track = plan.tracks[t];
        const auto number = static_cast<std::uint32_t>(t);
        const bool hasNotes = !track.voiceOf.empty();
        if (!hasNotes || conductor(t)) {
            part(number, std::nullopt, hasNotes, nullptr, 1);
        }
        for (std::uint8_t c = 0; c < 16; ++c) {
            const ChannelPlan& channel = track.channels[c];
            if (channel.notes != 0) {
                part(number, c, true, &channel, static_cast<std::uint32_t>(channel.lastEnd.size()));
            }
        }
    }
    if (next > kTrackLimit) {
        error = "Too many voice tracks for one MIDI File : " + std::to_string(next);
        return false;
    }
    trackCount_ = static_cast<std::uint32_t>(next);
    return true;
}

bool Arranger::write(const TrackSink& sink) {
    Plan& plan = *plan_;
    for (std::size_t t = 0; t < song_.tracks.size(); ++t) {
        const TrackChunk& track = song_.tracks[t];
        const TrackPlan& trackPlan = plan.tracks[t];
        const bool written =
            !trackPlan.voiceOf.empty()
                ? writeVoices(track, trackPlan, plan.maps[song_.format == 2 ? t : 0], conductor(t),
                              sink, plan.work)
                : sink({track.data, track.length});
        if (!written) {
            return false;
        }
    }
    return true;
}

bool arrange(const Song& song, const ArrangeOptions& options, Arrangement& result,
             std::string& error) {
    result = {};
    Arranger arranger(song, options);
    if (!arranger.plan(error)) {
        return false;
    }
    result.format = arranger.format();
    result.division = song.division;
    result.parts = arranger.parts();
    return arranger.write([&](std::span<const std::uint8_t> track) {
        result.tracks.emplace_back(track.begin(), track.end());
        return true;
    });
}

namespace {

// Pairs the notes of one track: start(tick, channel, key, velocity) for each
// note in the order they start, end(note, tick) where the note numbered
// `note` (from 0) ends, at the end of the track for those still sounding;
// every(event, tick) sees each event first.
template <typename Start, typename End, typename Every>
void pairTrack(const TrackChunk& track, Sounding& sounding, Start start, End end, Every every) {
    sounding.reset();
    TimedReader reader(track);
    TrackEvent event;
    std::uint32_t nextNote = 0;
    std::uint64_t tick = 0;
    while (reader.next(event, tick)) {
        every(event, tick);
        const auto ended = [&](std::uint32_t note, std::uint8_t) { end(note, tick); };
        if (pairNote(event, sounding, nextNote, ended)) {
            start(tick, channelOf(event), event.data1, event.data2);
            ++nextNote;
        }
    }
    sounding.forEach(
        [&](std::uint8_t, std::uint8_t, std::uint32_t note) { end(note, reader.endTick()); });
}

}  // namespace

std::vector<std::vector<Note>> songNotes(const Song& song) {
    std::vector<std::vector<Note>> tracks;
    Sounding sounding;
    for (const TrackChunk& track : song.tracks) {
        std::vector<Note>& notes = tracks.emplace_back();
        pairTrack(
            track, sounding,
            [&](std::uint64_t tick, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
                notes.push_back({tick, tick, channel, key, velocity});
            },
            [&](std::uint32_t note, std::uint64_t tick) { notes[note].end = tick; },
            [](const TrackEvent&, std::uint64_t) {});
    }
    return tracks;
}

SongTimeline songTimeline(const Song& song) {
    SongTimeline timeline;
    Sounding sounding;
    // Room for a note every 8 bytes of track, what a note-on and its note-off
    // take in most files, so that the arrays seldom grow and copy: they grow
    // past it when there are more; room left over is never touched.
    std::size_t hint = 0;
    for (const TrackChunk& track : song.tracks) {
        hint += track.length / 8;
    }
    timeline.starts.reserve(hint);
    timeline.ends.reserve(hint);
    timeline.channels.reserve(hint);
    timeline.keys.reserve(hint);
    for (const TrackChunk& track : song.tracks) {
        const std::size_t first = timeline.starts.size();
        std::vector<TempoChange>& changes = timeline.tempos.emplace_back();
        pairTrack(
            track, sounding,
            [&](std::uint64_t tick, std::uint8_t channel, std::uint8_t key, std::uint8_t) {
                timeline.starts.push_back(static_cast<double>(tick));
                timeline.ends.push_back(static_cast<double>(tick));
                timeline.channels.push_back(channel);
                timeline.keys.push_back(key);
            },
            [&](std::uint32_t note, std::uint64_t tick) {
                timeline.ends[first + note] = static_cast<double>(tick);
            },
            [&](const TrackEvent& event, std::uint64_t tick) {
                if (event.kind == EventKind::Meta && event.metaType == kTempoMeta) {
                    changes.push_back({tick, event.tempo});
                }
            });
        timeline.trackNotes.push_back(static_cast<std::uint32_t>(timeline.starts.size() - first));
    }
    return timeline;
}

}  // namespace mid2nolt
