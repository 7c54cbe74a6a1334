// Fuzz target: the event stepping of one track chunk (the input bytes).
// An independent, deliberately plain reading of the stepping rules serves as
// the oracle. Checks that
// - the event reader delivers the oracle's events and stops at its byte
//   (running status and cut-off events included);
// - the channel scan finds a channel sounding exactly when the oracle meets a
//   note-on of nonzero velocity on it before the end;
// - a walk of all channels, and of a channel with note events and one
//   without (picked by the input's length), writes one timed line per note
//   event that the oracle gives it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "convert/conversion_state.h"
#include "convert/script_format.h"
#include "convert/track_output.h"
#include "convert/track_walker.h"
#include "harness.h"
#include "midi/song.h"
#include "midi/track_events.h"

namespace {

using mid2nolt::EventKind;

struct Oracle {
    std::vector<mid2nolt::TrackEvent> events;
    std::uint64_t stop = 0;
};

// Steps through the bytes by the rules, one byte at a time.
Oracle stepByTheRules(const std::uint8_t* data, std::uint64_t length) {
    Oracle o;
    std::uint64_t pos = 0;
    std::uint8_t running = 0;
    auto vlq32 = [&](std::uint32_t& value) {
        value = 0;
        while (pos < length) {
            const std::uint8_t b = data[pos++];
            value = (value << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) {
                return true;
            }
        }
        return false;
    };
    for (;;) {
        bool deltaComplete = false;
        while (pos < length) {
            if ((data[pos++] & 0x80u) == 0) {
                deltaComplete = true;
                break;
            }
        }
        if (!deltaComplete || pos >= length) {
            o.stop = length;
            return o;
        }
        mid2nolt::TrackEvent e;
        std::uint8_t status = data[pos++];
        if (status < 0xF0) {
            bool have = false;
            std::uint8_t first = 0;
            if (status < 0x80) {
                if (running == 0) {
                    e.kind = EventKind::StrayData;
                    o.events.push_back(e);
                    continue;
                }
                first = status;
                have = true;
                status = running;
            } else {
                running = status;
            }
            const int high = status >> 4;
            const std::uint64_t count = (high == 0xC || high == 0xD) ? 1 : 2;
            if (length - pos < count - (have ? 1 : 0)) {
                o.stop = length;
                return o;
            }
            e.status = status;
            e.data1 = have ? first : data[pos++];
            e.data2 = count == 2 ? data[pos++] : 0;
            e.kind = high == 0x8   ? EventKind::NoteOff
                     : high == 0x9 ? EventKind::NoteOn
                                   : EventKind::OtherChannel;
            o.events.push_back(e);
            continue;
        }
        std::uint32_t skipLength = 0;
        if (status == 0xF0 || status == 0xF7) {
            if (!vlq32(skipLength)) {
                o.stop = length;
                return o;
            }
            e.kind = EventKind::SystemExclusive;
        } else if (status == 0xFF) {
            if (pos >= length) {
                o.stop = length;
                return o;
            }
            e.metaType = data[pos++];
            if (e.metaType == 0x2F) {
                e.kind = EventKind::EndOfTrack;
                o.events.push_back(e);
                o.stop = pos;
                return o;
            }
            if (!vlq32(skipLength)) {
                o.stop = length;
                return o;
            }
            const std::uint64_t left = length - pos;
            e.kind = EventKind::Meta;
            if (e.metaType >= 1 && e.metaType <= 7) {
                if (skipLength > left) {
                    o.stop = length;
                    return o;
                }
                e.text = data + pos;
                e.textLength = skipLength;
            } else if (e.metaType == 0x51) {
                if (left < 3) {
                    o.stop = length;
                    return o;
                }
                e.tempo = static_cast<std::uint32_t>(data[pos] << 16 | data[pos + 1] << 8 |
                                                     data[pos + 2]);
            } else if (e.metaType == 0x58) {
                if (left < 2) {
                    o.stop = length;
                    return o;
                }
                e.numerator = data[pos];
                e.exponent = data[pos + 1];
            }
        } else {
            e.kind = EventKind::System;
        }
        pos = pos + skipLength > length ? length : pos + skipLength;
        o.events.push_back(e);
    }
}

bool sameEvent(const mid2nolt::TrackEvent& a, const mid2nolt::TrackEvent& b) {
    if (a.kind != b.kind) {
        return false;
    }
    switch (a.kind) {
        case EventKind::NoteOff:
        case EventKind::NoteOn:
        case EventKind::OtherChannel:
            return a.status == b.status && a.data1 == b.data1 && a.data2 == b.data2;
        case EventKind::Meta:
            return a.metaType == b.metaType && a.text == b.text && a.textLength == b.textLength &&
                   (a.metaType != 0x51 || a.tempo == b.tempo) &&
                   (a.metaType != 0x58 || (a.numerator == b.numerator && a.exponent == b.exponent));
        default: return true;
    }
}

// One script stream for every walk: its buffer is set up once, not per input.
mid2nolt::ScriptStream& sharedStream() {
    static mid2nolt::ScriptStream out;
    return out;
}

std::size_t timedLinesOfWalk(const mid2nolt::Song& song, bool allChannels, std::uint32_t channel) {
    mid2nolt::conversionState.allChannels = allChannels;
    mid2nolt::conversionState.channel = channel;
    // Kept from walk to walk, so its room is allocated once.
    static std::string script;
    script.clear();
    mid2nolt::ScriptStream& out = sharedStream();
    out.adopt(fuzzing::stringStream(script), "walk");
    out.wholeTrackHeader(0, "walk");
    if (mid2nolt::walkTrack(song, out, 0) != 0) {
        fuzzing::fail("a walk of loaded data failed");
    }
    return fuzzing::checkScript("walk", script);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) {
        return 0;
    }
    // An exact-size copy, so that any read past the chunk is caught.
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size == 0 ? 1 : size]);
    if (size > 0) {
        std::memcpy(bytes.get(), data, size);
    }
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    const Oracle oracle = stepByTheRules(bytes.get(), length);

    mid2nolt::TrackEventReader reader(bytes.get(), length);
    std::uint64_t delta = 0;
    mid2nolt::TrackEvent event;
    std::size_t index = 0;
    while (reader.readDelta(delta) && reader.readEvent(event)) {
        if (index >= oracle.events.size() || !sameEvent(event, oracle.events[index])) {
            fuzzing::fail("event " + std::to_string(index) + " differs from the rules");
        }
        ++index;
        if (event.kind == EventKind::EndOfTrack) {
            break;
        }
    }
    if (index != oracle.events.size()) {
        fuzzing::fail("the reader delivered " + std::to_string(index) + " events, the rules " +
                      std::to_string(oracle.events.size()));
    }
    if (reader.position() != oracle.stop) {
        fuzzing::fail("the reader stopped at byte " + std::to_string(reader.position()) +
                      ", the rules at " + std::to_string(oracle.stop));
    }

    mid2nolt::Song song;
    song.format = 0;
    song.division = 96;
    song.trackCount = 1;
    song.tracks.push_back({length, bytes.get()});

    std::uint16_t sounding = 0;
    std::size_t notesOn[16] = {};
    std::size_t notes = 0;
    for (const auto& e : oracle.events) {
        if (e.kind == EventKind::NoteOn || e.kind == EventKind::NoteOff) {
            ++notesOn[e.status & 0x0F];
            ++notes;
            if (e.kind == EventKind::NoteOn && e.data2 != 0) {
                sounding = static_cast<std::uint16_t>(sounding | 1u << (e.status & 0x0F));
            }
        }
    }
    if (mid2nolt::soundingChannels(song, 0) != sounding) {
        fuzzing::fail("the channel scan disagrees with the rules");
    }

    mid2nolt::conversionState = mid2nolt::ConversionState{};
    mid2nolt::resetMusicalContext();
    mid2nolt::conversionState.division = song.division;
    mid2nolt::conversionState.driverFrequency = 60;
    if (timedLinesOfWalk(song, true, 0) != notes) {
        fuzzing::fail("a walk of all channels wrote a timed line per note event not once");
    }
    // One channel with note events and one without, each picked by the
    // input's length, stand for the rest: a walk of one channel skips the
    // others' events alike whichever channel it is, and the whole-run target
    // converts every channel. Walking all of them cost most of each run.
    std::uint32_t withNotes[16];
    std::uint32_t withoutNotes[16];
    std::size_t noted = 0;
    std::size_t unnoted = 0;
    for (std::uint32_t c = 0; c < 16; ++c) {
        (notesOn[c] != 0 ? withNotes[noted++] : withoutNotes[unnoted++]) = c;
    }
    const auto walkChannel = [&](std::uint32_t c) {
        if (timedLinesOfWalk(song, false, c) != notesOn[c]) {
            fuzzing::fail("the walk of channel " + std::to_string(c) +
                          " missed or added a note event");
        }
    };
    if (noted > 0) {
        walkChannel(withNotes[size % noted]);
    }
    if (unnoted > 0) {
        walkChannel(withoutNotes[size % unnoted]);
    }
    return 0;
}
