// Fuzz target: the whole run on arbitrary bytes. Loads them as a source,
// converts every track in packing and in per-channel mode into a scratch
// folder, and checks that
// - every script is well formed: known kinds of line only, one trailer at the
//   end whose total is the sum of the timed lines modulo 2^32;
// - the scripts on disk are exactly those the run recorded;
// - an error message is written exactly when the run fails;
// - a second run over the same bytes gives the same console and scripts.

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "convert/run_record.h"
#include "convert/track_output.h"
#include "harness.h"
#include "midi/song.h"

namespace {

struct Outcome {
    std::string console;
    std::map<std::string, std::string> scripts;
    bool operator==(const Outcome&) const = default;
};

// The script names the run recorded, each once.
std::set<std::string> recordedScripts(const std::string& mode) {
    std::set<std::string> names;
    for (const mid2nolt::ScriptRecord& script : mid2nolt::runRecord.scripts) {
        const std::string name = script.name.substr(script.name.rfind('/') + 1);
        if (!names.insert(name).second) {
            fuzzing::fail(mode + ": script recorded twice: " + name);
        }
    }
    return names;
}

void convertOnce(const std::uint8_t* data, std::size_t size, bool packing, std::uint32_t frequency,
                 Outcome& outcome) {
    const std::string mode = packing ? "packing" : "per channel";
    // Scripts stay in memory, except in the corpus replay, which also checks
    // the real folder.
    const std::string dir = fuzzing::scriptsOnDisk ? fuzzing::freshScratchDir() + "/" : "";
    std::FILE* source = fuzzing::streamOf(data, size);
    std::int32_t result = -1;
    fuzzing::Capture::Result captured;
    {
        fuzzing::Capture capture(fuzzing::scriptsOnDisk);
        mid2nolt::Song song;
        mid2nolt::runRecord = {};
        if (mid2nolt::loadSong(source, song) == 0) {
            result = mid2nolt::convert(song, dir + "s", frequency, packing);
        }
        captured = capture.take();
    }
    std::fclose(source);

    std::map<std::string, std::string> files =
        fuzzing::scriptsOnDisk ? fuzzing::filesIn(dir) : std::move(captured.scripts);
    std::set<std::string> written;
    for (auto& [path, text] : files) {
        const std::string name = path.substr(path.rfind('/') + 1);
        written.insert(name);
        fuzzing::checkScript(mode + " " + name, text);
        outcome.scripts[mode + " " + name] = std::move(text);
    }
    if (written != recordedScripts(mode)) {
        fuzzing::fail(mode + ": the scripts written are not those recorded");
    }
    // A failure writes its one message; a success writes none.
    if ((result == 0) != captured.err.empty()) {
        fuzzing::fail(mode + ": error messages do not match the result");
    }
    outcome.console += captured.out + captured.err;
}

Outcome runOnce(const std::uint8_t* data, std::size_t size) {
    Outcome outcome;
    convertOnce(data, size, true, 60, outcome);
    // The last byte is often a trailing byte that the load ignores: let it
    // pick the frequency, 0 included.
    const std::uint32_t frequency = size > 0 ? data[size - 1] * 257u : 60u;
    convertOnce(data, size, false, frequency, outcome);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    if (!(runOnce(data, size) == runOnce(data, size))) {
        fuzzing::fail("two runs over the same bytes differ");
    }
    return 0;
}
