// Writes the fuzzing seed corpus: whole files into <dir>/run and track chunk
// bytes into <dir>/events. Every event kind, running status, every meta type,
// formats 0, 1 and 2, and chunks cut off at every byte.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/smf_builder.h"

using smf::operator+;

namespace {

void write(const std::filesystem::path& path, const smf::Bytes& bytes) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out != nullptr) {
        // An empty seed has no buffer to hand to fwrite: it is just the empty file.
        if (!bytes.empty()) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
        }
        std::fclose(out);
    }
}

std::vector<smf::Track> tracks() {
    std::vector<smf::Track> all;
    smf::Track kinds;
    kinds.noteOn(0, 0, 60, 100)
        .noteOff(96, 0, 60)
        .event(0, 0xA1, {60, 10})
        .event(0, 0xB2, {7, 100})
        .event(0, 0xC3, {5})
        .event(0, 0xD4, {20})
        .event(0, 0xE5, {0, 64})
        .sysex(0, {1, 2, 0xF7})
        .raw({0, 0xF7, 1, 0xF7})
        .raw({0, 0xF1, 0, 0xF2, 0, 0xF3, 0, 0xF6, 0, 0xF8, 0, 0xFE})
        .end();
    all.push_back(kinds);

    smf::Track metas;
    for (int type : {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x20, 0x21, 0x54,
                     0x59, 0x7F}) {
        metas.meta(0, type, {'a', '\n', 'b', '\r', '\n', 'c', '\r', 0, 'd'});
    }
    metas.tempo(0, 600000).timeSignature(0, 6, 3).timeSignature(0, 0, 255).tempo(0, 0).end();
    all.push_back(metas);

    smf::Track running;
    running.event(0, 0x90, {60, 100})
        .raw({10, 62, 90, 10, 60, 0})
        .text(0, 1, "x")
        .raw({0, 62, 0})
        .sysex(0, {0xF7})
        .raw({5, 64, 80, 96, 64, 0})
        .event(0, 0xC1, {3})
        .raw({0, 4})
        .end();
    all.push_back(running);

    smf::Track bars;
    bars.timeSignature(0, 3, 3);
    for (int i = 0; i < 40; ++i) {
        bars.noteOn(i % 5 == 0 ? 500 : 48, i % 3, 40 + i, i % 4 == 0 ? 0 : 80);
        bars.noteOff(24, i % 3, 40 + i);
    }
    all.push_back(bars.end());

    smf::Track hostile;
    hostile.raw({0x3C, 0x64})
        .delta(0xFFFFFFFFFull)
        .noteOn(0, 9, 36, 1)
        .raw({0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 1, 1})
        .raw({0, 0xFF, 0x51, 0, 0, 0, 0})
        .noteOff(0xFFFFFFFull, 9, 36);
    all.push_back(hostile);
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir = argc > 1 ? argv[1] : "seeds";
    std::filesystem::create_directories(dir / "run");
    std::filesystem::create_directories(dir / "events");
    const std::vector<smf::Track> all = tracks();
    for (std::size_t t = 0; t < all.size(); ++t) {
        const smf::Bytes& bytes = all[t].bytes();
        write(dir / "events" / ("track" + std::to_string(t)), bytes);
        // Cut off at every byte.
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + bytes.size() / 40) {
            write(dir / "events" / ("track" + std::to_string(t) + "-cut" + std::to_string(cut)),
                  smf::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
        }
    }
    for (std::uint16_t format : {0, 1, 2}) {
        for (std::uint16_t division : {96, 480, 0, 0xE728}) {
            const smf::Bytes file = smf::file(format, division, all);
            // Appended piece by piece: g++ 12 at -O3 warns falsely on "literal" + string.
            const std::string name = std::string("f")
                                         .append(std::to_string(format))
                                         .append("-d")
                                         .append(std::to_string(division));
            write(dir / "run" / name, file);
            write(dir / "run" / (name + "-cut"),
                  smf::Bytes(file.begin(), file.begin() + static_cast<long>(file.size() / 2)));
        }
    }
    write(dir / "run" / "long-header", smf::header(1, 2, 96, 20) +
                                           smf::chunk("MTrk", all[0].bytes()) +
                                           smf::chunk("MTrk", all[2].bytes()) + smf::Bytes{'x'});
    write(dir / "run" / "lying-length",
          smf::header(0, 1, 96) + smf::chunk("MTrk", all[0].bytes(), 0xFFFFFFFF));
    write(
        dir / "run" / "foreign-chunk",
        smf::header(1, 2, 96) + smf::chunk("MTrk", all[1].bytes()) + smf::chunk("XFIH", {1, 2, 3}));
    write(dir / "run" / "no-tracks", smf::header(1, 65535, 96));
    return 0;
}
