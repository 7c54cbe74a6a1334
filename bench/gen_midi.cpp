// Deterministic generator of large, realistic MIDI files for benchmarks.
//
//   gen_midi <explicit|running|format0> <notes> <out.mid>
//
// explicit: format 1, 16 tracks of 2 to 4 channels each, tempo and time
//           signature changes and text events in track 0, every status byte
//           written. Half the tracks end notes with note-offs (0x8n), the
//           other half with note-ons of velocity 0, as many sequencers do.
// running:  the same events, written with running status wherever the status
//           repeats: the files differ only in their encoding, so the scripts
//           are the same and the timings compare the reading alone.
// format0:  format 0, one track, 16 channels interleaved.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/smf_builder.h"

using smf::operator+;

namespace {

// Small fixed linear congruential generator: the same files on every machine.
struct Random {
    std::uint64_t state;
    std::uint32_t next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state >> 33);
    }
    int between(int low, int high) {
        return low + static_cast<int>(next() % static_cast<std::uint32_t>(high - low + 1));
    }
};

struct Writer {
    bool runningStatus;
    bool silentNoteOns;  // note-offs written as note-ons of velocity 0
    smf::Bytes bytes;
    int lastStatus = -1;

    void vlq(std::uint64_t value) {
        std::uint8_t groups[10];
        int count = 0;
        do {
            groups[count++] = static_cast<std::uint8_t>(value & 0x7F);
            value >>= 7;
        } while (value != 0);
        while (count > 1) {
            bytes.push_back(static_cast<std::uint8_t>(groups[--count] | 0x80));
        }
        bytes.push_back(groups[0]);
    }
    void channelEvent(std::uint64_t delta, int status, int data1, int data2) {
        vlq(delta);
        if (!runningStatus || status != lastStatus) {
            bytes.push_back(static_cast<std::uint8_t>(status));
        }
        lastStatus = status;
        bytes.push_back(static_cast<std::uint8_t>(data1));
        bytes.push_back(static_cast<std::uint8_t>(data2));
    }
    void noteOn(std::uint64_t delta, int channel, int key, int velocity) {
        channelEvent(delta, 0x90 | channel, key, velocity);
    }
    void noteOff(std::uint64_t delta, int channel, int key) {
        if (silentNoteOns) {
            channelEvent(delta, 0x90 | channel, key, 0);
        } else {
            channelEvent(delta, 0x80 | channel, key, 64);
        }
    }
    // Metas leave running status alone, as real files rely on.
    void meta(std::uint64_t delta, int type, const std::vector<std::uint8_t>& data) {
        vlq(delta);
        bytes.push_back(0xFF);
        bytes.push_back(static_cast<std::uint8_t>(type));
        vlq(data.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    void text(std::uint64_t delta, const std::string& text) {
        meta(delta, 0x05, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
};

struct Active {
    int channel;
    int key;
    int stepsLeft;
};

// Writes `notes` notes over `channels`, with chords and overlapping notes;
// the conductor part (tempo, time signature, text) when `conductor` is set.
smf::Bytes makeTrack(Random& random, const std::vector<int>& channels, long notes, bool conductor,
                     bool runningStatus, bool silentNoteOns) {
    Writer w{runningStatus, silentNoteOns, {}};
    w.bytes.reserve(static_cast<std::size_t>(notes) * 9 + 1024);
    std::vector<Active> active;
    std::uint64_t pending = 0;  // delta time not yet written
    long written = 0;
    long step = 0;
    if (conductor) {
        w.text(0, "Benchmark");
        w.meta(0, 0x58, {4, 2, 24, 8});
    }
    while (written < notes || !active.empty()) {
        ++step;
        if (conductor && step % 512 == 0) {
            const std::uint32_t tempo = static_cast<std::uint32_t>(random.between(300000, 900000));
            w.meta(pending, 0x51,
                   {static_cast<std::uint8_t>(tempo >> 16), static_cast<std::uint8_t>(tempo >> 8),
                    static_cast<std::uint8_t>(tempo)});
            pending = 0;
        }
        if (conductor && step % 2048 == 0) {
            w.meta(pending, 0x58,
                   {static_cast<std::uint8_t>(random.between(2, 7)),
                    static_cast<std::uint8_t>(random.between(2, 3)), 24, 8});
            pending = 0;
        }
        if (step % 300 == 0) {
            w.text(pending, "lyric " + std::to_string(step));
            pending = 0;
        }
        // Release the notes whose time is up.
        for (std::size_t i = 0; i < active.size();) {
            if (--active[i].stepsLeft <= 0) {
                w.noteOff(pending, active[i].channel, active[i].key);
                pending = 0;
                active[i] = active.back();
                active.pop_back();
            } else {
                ++i;
            }
        }
        // Strike a note or a chord.
        if (written < notes) {
            const int channel = channels[random.next() % channels.size()];
            const int chord = random.between(1, 3);
            const int root = random.between(36, 84);
            for (int n = 0; n < chord && written < notes; ++n, ++written) {
                const int key = root + n * 4;
                w.noteOn(pending, channel, key, random.between(40, 127));
                pending = 0;
                active.push_back({channel, key, random.between(1, 6)});
            }
        }
        pending += static_cast<std::uint64_t>(random.between(0, 4) * 30);
    }
    w.vlq(pending);
    w.bytes.insert(w.bytes.end(), {0xFF, 0x2F, 0x00});
    return w.bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: gen_midi <explicit|running|format0> <notes> <out.mid>\n");
        return 2;
    }
    const std::string kind = argv[1];
    const long notes = std::atol(argv[2]);
    Random random{12345};
    smf::Bytes file;
    if (kind == "format0") {
        std::vector<int> all;
        for (int c = 0; c < 16; ++c) {
            all.push_back(c);
        }
        file = smf::header(0, 1, 480) +
               smf::chunk("MTrk", makeTrack(random, all, notes, true, false, false));
    } else if (kind == "explicit" || kind == "running") {
        const bool running = kind == "running";
        file = smf::header(1, 16, 480);
        for (int t = 0; t < 16; ++t) {
            std::vector<int> channels;
            const int count = 2 + t % 3;
            for (int c = 0; c < count; ++c) {
                channels.push_back((t + c * 5) % 16);
            }
            file = file + smf::chunk("MTrk", makeTrack(random, channels, notes / 16, t == 0,
                                                       running, t % 2 == 1));
        }
    } else {
        std::fprintf(stderr, "unknown kind %s\n", kind.c_str());
        return 2;
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
