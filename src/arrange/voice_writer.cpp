#include "arrange/voice_writer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace mid2nolt {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

void VoiceWriter::start(std::uint64_t trackSize, const TrackPlan& plan, const TempoMap& map,
                        bool conductor) {
    plan_ = &plan;
    map_ = &map;
    conductor_ = conductor;
    nextEntry_ = 0;
    nextCut_ = 0;
    voices_.assign(conductor ? 1 : 0, Voice{});
    for (std::uint8_t c = 0; c < 16; ++c) {
        firstWriter_[c] = static_cast<std::uint32_t>(voices_.size());
        const std::vector<std::uint64_t>& lastEnd = plan.channels[c].lastEnd;
        for (std::size_t v = 0; v < lastEnd.size(); ++v) {
            Voice& voice = voices_.emplace_back();
            voice.channel = c;
            voice.first = v == 0;
            voice.lastEnd = lastEnd[v];
            voice.acrossTempo = plan.channels[c].acrossTempo[v];
            voice.own = ownMaps_ && voice.acrossTempo;
        }
    }
    writers_.resize(std::max(writers_.size(), voices_.size()));
    for (std::size_t w = 0; w < voices_.size(); ++w) {
        writers_[w].clear();
    }
    // Room made once, not by doubling, which would copy each voice's bytes
    // and touch fresh pages again. A note takes about 10 bytes (two events
    // with deltas of 1 or 2 bytes), and with a tempo map of its own up to two
    // tempos of 7 more; else the voice takes each entry of the map, with a
    // note-off before it where it rests; the home track also takes the
    // track's other events, fewer bytes than the track.
    const std::size_t mapBytes = map.entries.size() * 12;
    for (std::uint8_t c = 0; c < 16; ++c) {
        const std::vector<std::uint64_t>& notesOf = plan.channels[c].notesOf;
        for (std::size_t v = 0; v < notesOf.size(); ++v) {
            const std::size_t w = firstWriter_[c] + v;
            writers_[w].reserve(notesOf[v] * (voices_[w].own ? 24 : 10) +
                                (voices_[w].own ? 0 : mapBytes) + (w == kHome ? trackSize : 0));
        }
    }
    if (conductor) {
        writers_[kHome].reserve(trackSize);
    }
    // Voices after the first are named after the track.
    if (plan.named) {
        for (std::size_t w = 1; w < voices_.size(); ++w) {
            Bytes name(plan.name, plan.name + plan.nameLength);
            const std::string suffix = " (voice " + std::to_string(conductor ? w : w + 1) + ")";
            name.insert(name.end(), suffix.begin(), suffix.end());
            writers_[w].meta(0, kTrackNameMeta, name.data(),
                             static_cast<std::uint32_t>(name.size()));
        }
    }
    sounding_.reset();
    // The first span starts with the track.
    for (std::size_t w = 0; w < voices_.size(); ++w) {
        voices_[w].spanAt = writers_[w].here();
    }
}

// The tempo that takes the voice from its time at `from` to the file's at
// `to`, rounded to a whole microsecond a quarter note (held to what a tempo
// can be), what the rounding leaves carried in the voice's `ahead`.
double VoiceWriter::spanTempo(Voice& voice, std::uint64_t from, std::uint64_t to) {
    const double quarters = static_cast<double>(to - from) / division_;
    const double start = seconds_->secondsAt(static_cast<double>(from), voice.hint);
    const double real = (seconds_->secondsAt(static_cast<double>(to), voice.hint) - start) * 1e6;
    const double wanted = (real - voice.ahead) / quarters;
    double tempo = kMaxTempo;
    if (!(wanted >= 0.5)) {
        tempo = 1;
        ++temposHeld_;
    } else if (wanted < kMaxTempo + 0.5) {
        tempo = std::floor(wanted + 0.5);
    } else {
        ++temposHeld_;
    }
    voice.ahead += tempo * quarters - real;
    return tempo;
}

// The tempo of the span of voice `w` that ends at `tick`. Each quarter note
// of a tempo can round half a microsecond away, which a long span adds up
// (3 ms over 6,000 quarter notes): one of more than kLongSpan quarter notes
// ends with a quarter note of its own, whose tempo takes up what the rest
// rounded, written where it starts (where nothing of the voice follows).
double VoiceWriter::splitTempo(std::size_t w, std::uint64_t tick) {
    constexpr std::uint64_t kLongSpan = 200;  // at most a tenth of a millisecond
    Voice& voice = voices_[w];
    const std::uint64_t mid = tick - std::min<std::uint64_t>(tick, division_);
    if (tick - voice.spanStart <= kLongSpan * division_ || mid <= voice.spanStart ||
        mid <= writers_[w].lastTick()) {
        return spanTempo(voice, voice.spanStart, tick);
    }
    const auto first = static_cast<std::uint32_t>(spanTempo(voice, voice.spanStart, mid));
    if (first != voice.lastTempo) {
        writers_[w].insertTempo(voice.spanAt, first);
        voice.lastTempo = first;
    }
    const double last = spanTempo(voice, mid, tick);
    if (const auto written = static_cast<std::uint32_t>(last); written != voice.lastTempo) {
        const std::uint8_t data[3] = {static_cast<std::uint8_t>(written >> 16),
                                      static_cast<std::uint8_t>(written >> 8),
                                      static_cast<std::uint8_t>(written)};
        writers_[w].meta(mid, kTempoMeta, data, 3);
        voice.lastTempo = written;
    }
    return last;
}

// The span's tempo, now that it ends at `tick`: what takes the voice from its
// time at the span's start to the file's at its end, put where the span
// starts unless the tempo in force there is already that.
void VoiceWriter::closeSpan(std::size_t w, std::uint64_t tick) {
    Voice& voice = voices_[w];
    const std::uint64_t ticks = tick - voice.spanStart;
    if (ticks > 0) {
        const auto from = static_cast<double>(voice.spanStart);
        const auto to = static_cast<double>(tick);
        // Most spans lie within one tempo of the file, with the voice so near
        // the file's time that the file's tempo rounds it: that tempo, and
        // the voice as far ahead as before.
        if (!(from >= voice.stretch.from && from < voice.stretch.until)) {
            voice.stretch = seconds_->stretchAt(from, voice.hint);
        }
        double tempo = voice.stretch.tempo;
        // Near enough: within what the span's tempo rounds away, or a microsecond.
        const double division = division_;
        const bool near =
            std::abs(voice.ahead) * division < std::max(0.5 * static_cast<double>(ticks), division);
        const bool within = to <= voice.stretch.until && tempo >= 1 && near;
        if (!within) {
            tempo = splitTempo(w, tick);
        }
        if (const auto written = static_cast<std::uint32_t>(tempo); written != voice.lastTempo) {
            writers_[w].insertTempo(voice.spanAt, written);
            voice.lastTempo = written;
        }
        // Till the file's tempo changes, the spans to come need nothing, as
        // long as the tempo in force is the file's and the voice in time.
        constexpr double kExactTicks = 9007199254740992.0;  // 2^53
        const double until = voice.stretch.until;
        const bool steady = voice.stretch.tempo == voice.lastTempo && std::abs(voice.ahead) < 1 &&
                            (until < kExactTicks || until == kInfinity);
        voice.steadyUntil = !steady              ? 0
                            : until == kInfinity ? std::numeric_limits<std::uint64_t>::max()
                                                 : static_cast<std::uint64_t>(until);
    }
}

// A voice that keeps the map's tempo: its time at a note event as the
// converter times it, each span by the tempo in force at its end.
void VoiceWriter::measure(Voice& voice, std::uint64_t tick, bool starts) {
    voice.seconds +=
        static_cast<double>(tick - voice.spanStart) * voice.lastTempo / 1e6 / division_;
    voice.spanStart = tick;
    if (starts) {
        const double off =
            voice.seconds - seconds_->secondsAt(static_cast<double>(tick), voice.hint);
        drift_ = std::max(drift_, off < 0 ? -off : off);
    }
}

// A voice with a map of its own ends a span at its first note event of a
// tick, and starts the next after its last there. Inlined: it runs for every
// note event.
[[gnu::always_inline]] inline void VoiceWriter::noteEvent(std::size_t w, std::uint64_t tick,
                                                          std::uint8_t status, std::uint8_t key,
                                                          std::uint8_t velocity) {
    Voice& voice = voices_[w];
    if (voice.own && tick != voice.spanStart) {
        if (tick > voice.steadyUntil) {
            closeSpan(w, tick);
        }
        voice.spanStart = tick;
    }
    writers_[w].channel(tick, status, key, velocity);
    voice.sounding = isNoteOnStatus(status);
    voice.lastKey = key;
    voice.noteWritten = true;
    voice.noteTick = tick;
    if (voice.own) {
        voice.spanAt = writers_[w].here();
    } else if (measureDrift_ && voice.acrossTempo) {
        measure(voice, tick, voice.sounding);
    }
}

// A timing meta goes to every track. A voice resting there, with notes to
// come, gets a note-off first, so that the rest is timed piece by piece: of a
// key no note of the channel sounds, so that it silences nothing.
void VoiceWriter::writeMapUntil(std::uint64_t tick, bool inclusive) {
    const TempoMap& map = *map_;
    while (nextEntry_ < map.entries.size() &&
           (map.entries[nextEntry_].tick < tick ||
            (inclusive && map.entries[nextEntry_].tick == tick))) {
        const MapEntry& entry = map.entries[nextEntry_++];
        for (std::size_t w = 0; w < voices_.size(); ++w) {
            Voice& voice = voices_[w];
            if (voice.own && entry.type == kTempoMeta) {
                continue;
            }
            if (entry.type == kTempoMeta) {
                const std::uint8_t* at = map.data.data() + entry.offset;
                voice.lastTempo = std::uint32_t{at[0]} << 16 | std::uint32_t{at[1]} << 8 | at[2];
            }
            if (!voice.own && (!conductor_ || w != kHome) && !voice.sounding &&
                entry.tick < voice.lastEnd &&
                !(voice.noteWritten && voice.noteTick == entry.tick)) {
                int key = voice.lastKey;
                if (key < 0 || key > 127 || sounding_.sounds(voice.channel, key)) {
                    key = 0;
                    while (key < 128 && sounding_.sounds(voice.channel, key)) {
                        ++key;
                    }
                }
                if (key < 128) {
                    noteEvent(w, entry.tick, 0x80 | voice.channel, static_cast<std::uint8_t>(key),
                              0);
                }
            }
            writers_[w].meta(entry.tick, entry.type, map.data.data() + entry.offset, entry.length);
        }
    }
}

// Everything but notes: a channel's events to its voices (the first takes
// them all, the others up to their last note's end), the rest to the first
// track.
void VoiceWriter::writeOther(std::uint64_t tick, const TrackEvent& event) {
    switch (event.kind) {
        case EventKind::OtherChannel: {
            const std::uint8_t channel = channelOf(event.status);
            const std::size_t count = plan_->channels[channel].lastEnd.size();
            if (count == 0) {
                writers_[kHome].channel(tick, event.status, event.data1, event.data2);
            }
            for (std::size_t v = 0; v < count; ++v) {
                const std::size_t w = firstWriter_[channel] + v;
                if (voices_[w].first || tick <= voices_[w].lastEnd) {
                    writers_[w].channel(tick, event.status, event.data1, event.data2);
                }
            }
            break;
        }
        case EventKind::Meta:
            if (!isTimingMeta(event)) {
                writers_[kHome].meta(tick, event.metaType, event.data, event.dataLength);
            }
            break;
        case EventKind::SystemExclusive:
            writers_[kHome].sysex(tick, event.status, event.data, event.dataLength);
            break;
        case EventKind::System: writers_[kHome].system(tick, event.status); break;
        default: break;
    }
}

// The events of one tick, once all are read: note ends first, so that a voice
// is free for the notes that start here; then everything but notes; then the
// notes that start (one that also ends here ends at once).
void VoiceWriter::writeTick(std::uint64_t tick) {
    const TrackPlan& plan = *plan_;
    for (; nextCut_ < plan.cuts.size() && plan.cuts[nextCut_].tick == tick; ++nextCut_) {
        const Cut& cut = plan.cuts[nextCut_];
        noteEvent(writerOf(cut.channel, cut.note), tick, 0x80 | cut.channel, cut.key,
                  kReleaseVelocity);
    }
    for (const NoteEnd& end : group_.ends) {
        if (stillSounds(end.channel, end.note)) {
            noteEvent(writerOf(end.channel, end.note), tick, 0x80 | end.channel, end.key,
                      end.release);
        }
    }
    for (const TrackEvent& event : others_) {
        writeOther(tick, event);
    }
    for (const NoteStart& start : group_.starts) {
        if (plan.voiceOf[start.note] == kLeftOut) {
            continue;
        }
        const std::size_t w = writerOf(start.channel, start.note);
        noteEvent(w, tick, 0x90 | start.channel, start.key, start.velocity);
        voices_[w].note = start.note;
        if (start.ended) {
            noteEvent(w, tick, 0x80 | start.channel, start.key, start.release);
        }
    }
}

bool VoiceWriter::write(const SongSource& song, std::size_t t, const TrackPlan& plan,
                        const TempoMap& map, const SecondsMap& seconds, bool conductor,
                        const TrackSink& sink) {
    seconds_ = &seconds;
    start(song.sizeOf(t), plan, map, conductor);
    // Note events are paired as they come, the others kept in order, and the
    // tick written once all its events are read.
    const std::unique_ptr<TrackSource> track = song.open(t);
    std::uint64_t groupTick = 0;
    bool started = false;
    group_.clear(0);
    pairEvents(
        *track, sounding_,
        [&](std::uint64_t, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
            group_.start(channel, key, velocity);
        },
        [&](std::uint32_t note, std::uint64_t, std::uint8_t channel, std::uint8_t key,
            std::uint8_t release) { group_.end(note, channel, key, release); },
        [&](const TrackEvent& event, std::uint64_t tick) {
            if (!started || tick != groupTick) {
                if (started) {
                    writeTick(groupTick);
                }
                writeMapUntil(tick, false);
                group_.clear(group_.next());
                others_.clear();
                groupTick = tick;
                started = true;
            }
            if (event.kind != EventKind::NoteOn && event.kind != EventKind::NoteOff) {
                others_.push_back(event);
            }
        });
    if (started) {
        writeTick(groupTick);
    }

    // Notes still sounding end with the track.
    const std::uint64_t endTick = plan.endTick;
    writeMapUntil(endTick, false);
    sounding_.forEach([&](std::uint8_t channel, std::uint8_t key, std::uint32_t note) {
        if (stillSounds(channel, note)) {
            noteEvent(writerOf(channel, note), endTick, 0x80 | channel, key, kReleaseVelocity);
        }
    });
    // The last spans end with the track.
    for (std::size_t w = 0; w < voices_.size(); ++w) {
        if (voices_[w].own) {
            closeSpan(w, endTick);
        }
    }
    writeMapUntil(kLastTick, true);
    for (std::size_t w = 0; w < voices_.size(); ++w) {
        writers_[w].end(std::max(endTick, writers_[w].lastTick()));
        if (!sink(writers_[w].bytes())) {
            return false;
        }
    }
    return true;
}

}  // namespace mid2nolt
