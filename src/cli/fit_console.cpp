#include "cli/fit_console.h"

#include <cstdio>

#include "fit/fitted_song.h"

namespace mid2nolt::cli {

std::string grouped(std::uint64_t count) {
    const std::string digits = std::to_string(count);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

std::vector<std::uint32_t> fittedTracks(const ChannelFit& fit, const Arranger& arranger) {
    // The arranger keeps each channel's track as one voice.
    std::vector<std::uint32_t> tracks;
    for (std::size_t c = 0; c < fit.channels.size(); ++c) {
        const std::size_t from = FittedSong::trackOf(c);
        auto track = static_cast<std::uint32_t>(from);
        for (const PartReport& part : arranger.parts()) {
            if (part.track == from && part.channel) {
                track = part.firstTrack;
            }
        }
        tracks.push_back(track);
    }
    return tracks;
}

namespace {

// Where the Melody channel's tune comes from, and why.
void printTune(const ChannelFit& fit) {
    const TuneChoice& tune = fit.tune;
    if (tune.from == TuneFrom::Skyline) {
        std::printf("Melody from the highest notes of every part : no part plays a tune alone\n");
        return;
    }
    std::string parts;
    for (std::size_t i = 0; i < tune.parts.size(); ++i) {
        const SourcePart& part = fit.parts[tune.parts[i]];
        parts += i == 0 ? "" : i + 1 == tune.parts.size() ? " and " : ", ";
        parts +=
            "Track " + std::to_string(part.track) + ", Channel " + std::to_string(part.channel);
    }
    std::string why;
    switch (tune.from) {
        case TuneFrom::Asked: why = "as --melody asks"; break;
        case TuneFrom::Named: why = "named for the tune"; break;
        case TuneFrom::Heard:
            why = "one note at a time through " + std::to_string(tune.through) + " % of the song";
            break;
        case TuneFrom::Skyline: break;
    }
    std::printf("Melody from %s : %s\n", parts.c_str(), why.c_str());
}

}  // namespace

void printFit(const ChannelFit& fit, const std::vector<std::uint32_t>& tracks,
              std::uint32_t channels) {
    printTune(fit);
    for (std::size_t c = 0; c < fit.channels.size(); ++c) {
        const FitChannel& channel = fit.channels[c];
        std::string sources;
        std::size_t listed = 0;
        std::size_t count = 0;
        for (const std::uint64_t notes : channel.fromPart) {
            count += notes != 0 ? 1 : 0;
        }
        for (std::size_t p = 0; p < fit.parts.size(); ++p) {
            if (channel.fromPart[p] == 0) {
                continue;
            }
            ++listed;
            sources += listed == 1 ? "" : listed == count ? " and " : ", ";
            sources += "Track " + std::to_string(fit.parts[p].track) + ", Channel " +
                       std::to_string(fit.parts[p].channel) + " (" + grouped(channel.fromPart[p]) +
                       ")";
        }
        const std::string arpeggios = fit.arpeggios && channel.role == Role::Harmony
                                          ? ", " + grouped(channel.arpeggiated) +
                                                " played as arpeggio in " + grouped(channel.steps) +
                                                " step(s)"
                                          : "";
        std::printf("Channel %zu, %s : %s note(s), %s cut short%s, from %s : Track %u\n", c + 1,
                    roleName(channel).c_str(), grouped(channel.noteCount).c_str(),
                    grouped(channel.cutShort).c_str(), arpeggios.c_str(), sources.c_str(),
                    tracks[c]);
    }
    if (fit.arpeggio != 0 && !fit.arpeggios) {
        std::printf("No harmony channel : --arpeggio changes nothing\n");
    }
    const std::string kept =
        fit.arpeggios ? grouped(fit.keptWhole) + " of " + grouped(fit.notes) + " note(s) whole, " +
                            grouped(fit.cutShort) + " cut short and " + grouped(fit.arpeggiated) +
                            " played as arpeggio"
                      : grouped(fit.keptWhole) + " of " + grouped(fit.notes) +
                            " note(s) whole and " + grouped(fit.cutShort) + " cut short";
    std::printf("Kept %s in %u channel(s) (the most %u channel(s) can hold whole: %s)\n",
                kept.c_str(), channels, channels, grouped(fit.most).c_str());
}

}  // namespace mid2nolt::cli
