#include "convert/track_walker.h"

#include <algorithm>
#include <cstdio>

#include "convert/conversion_state.h"
#include "convert/script_format.h"
#include "convert/tick_conversion.h"
#include "midi/messages.h"
#include "midi/song.h"
#include "midi/track_events.h"

namespace mid2nolt {

namespace {

// Per-script fields. pendingVelocity is left alone: every note-on sets it
// before it is read.
void resetWalk() {
    ConversionState& s = conversionState;
    s.absTime = 0;
    s.lastEmitTime = 0;
    s.fraction = 0.0;
    s.driverTicks = 0;
    s.barNumber = 0;
    s.lastBarPrinted = 0;
    s.barMarkTicks = 0;
    s.barHeaderPending = false;
    s.pendingKey = 0;
    s.lastKey = 0;
    s.noteOnPending = false;
    s.noteOffPending = false;
}

void writeBarHeading(ScriptStream& out) {
    ConversionState& s = conversionState;
    if (s.barNumber - s.lastBarPrinted < 2) {
        out.barHeading(s.barNumber);
    } else {
        out.barsHeading(s.lastBarPrinted + 1, s.barNumber);
    }
    s.lastBarPrinted = s.barNumber;
    s.barHeaderPending = false;
}

bool takesChannel(std::uint8_t status) {
    const ConversionState& s = conversionState;
    return s.allChannels || (status & 0x0Fu) == s.channel;
}

// Closes the script; a script that could not be written whole is a failure.
std::int32_t closeScript(ScriptStream& out) {
    if (!out.close()) {
        std::fprintf(stderr, "%s%s\n",
                     "ERROR- Couldn't write output NOLT Script : ", out.name().c_str());
        return -1;
    }
    return 0;
}

}  // namespace

void handleMetaEvent(const TrackEvent& event, ScriptStream& out) {
    ConversionState& s = conversionState;
    if (isTextMeta(event.metaType)) {
        out.textComment(event.text, event.textLength);
    } else if (event.metaType == kTempoMeta) {
        s.tempo = event.tempo;
    } else if (event.metaType == kTimeSignatureMeta) {
        s.beatsPerBar = event.numerator;
        // 2^exponent must fit 8 bits and never be 0: exponents above 7 count as 7.
        s.beatUnit = static_cast<std::uint8_t>(1u << std::min<unsigned>(event.exponent, 7));
    }
}

std::int32_t walkTrack(const Song& song, ScriptStream& out, std::uint32_t trackIndex) {
    ConversionState& s = conversionState;
    const TrackChunk& track = song.tracks[trackIndex];
    s.trackLength = track.length;
    if (track.data == nullptr) {
        std::fprintf(stderr, "%s", messages::kUnexpectedEnd);
        out.close();
        return -1;
    }
    if (song.format == 2) {
        resetMusicalContext();
    }
    resetWalk();

    TrackEventReader reader(track.data, s.trackLength);
    std::uint64_t delta = 0;
    TrackEvent event;
    while (reader.readDelta(delta)) {
        s.absTime += delta;
        // A heading that is due comes before whatever event follows, taken or not.
        if (s.barHeaderPending) {
            writeBarHeading(out);
        }
        if (!reader.readEvent(event) || event.kind == EventKind::EndOfTrack) {
            break;
        }
        switch (event.kind) {
            case EventKind::NoteOff:
                if (takesChannel(event.status)) {
                    emitLine(out);
                    s.noteOffPending = true;
                }
                break;
            case EventKind::NoteOn:
                if (takesChannel(event.status)) {
                    emitLine(out);
                    s.pendingKey = event.data1;
                    s.pendingVelocity = event.data2;
                    s.noteOnPending = true;
                }
                break;
            case EventKind::Meta: handleMetaEvent(event, out); break;
            default: break;
        }
    }

    // The time after the last note event, and a note event still pending,
    // are neither written nor counted.
    out.trailer(s.driverTicks);
    return closeScript(out);
}

}  // namespace mid2nolt
