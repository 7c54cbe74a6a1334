#include "fit/channel_fit.h"

#include <algorithm>
#include <string>
#include <utility>

#include "fit/arpeggio.h"
#include "fit/items.h"
#include "fit/lead.h"
#include "fit/lines.h"
#include "fit/schedule.h"
#include "fit/together.h"
#include "midi/messages.h"
#include "midi/midi_facts.h"

namespace mid2nolt {

using namespace fit;

std::string roleName(const FitChannel& channel) {
    switch (channel.role) {
        case Role::Melody: return "Melody";
        case Role::Bass: return "Bass";
        case Role::Drums: return "Drums";
        case Role::Harmony: break;
    }
    return "Harmony " + std::to_string(channel.number);
}

namespace {

// The orders every step sweeps, and the bound the fit is measured against.
struct Orders {
    Order byStart;
    Order byEnd;  // as the notes are before any is cut: one order serves every schedule
};

// How many of the notes `takes` picks fit whole in `count` channels (interval
// scheduling); `place(note, channel)` for each placed.
template <typename Tick, typename Takes, typename Place>
std::uint64_t mostIn(const Items<Tick>& items, const Order& byEnd, std::uint32_t count, Takes takes,
                     Place place) {
    std::uint64_t placed = 0;
    scheduleByEnd(items, byEnd, count, takes, [&](std::uint32_t n, std::uint32_t channel) {
        place(n, channel);
        ++placed;
    });
    return placed;
}

template <typename Tick>
bool isPitched(const BasicItem<Tick>& item) {
    return !item.drum;
}

// The most notes the roles let in, in one sweep: the pitched notes that fit
// whole in `pitched` channels (`pitchedMost`), and where `drums`, the drum
// notes that fit whole in one more.
template <typename Tick>
std::uint64_t mostByRole(const Items<Tick>& items, const Order& byEnd, std::uint32_t pitched,
                         bool drums, std::uint64_t& pitchedMost) {
    FreeChannels free;
    for (std::uint32_t c = pitched; c > 0; --c) {
        free.add(c - 1);
    }
    std::uint64_t drumFree = 0;
    std::uint64_t drumMost = 0;
    pitchedMost = 0;
    for (std::size_t i = 0; i < byEnd.size(); ++i) {
        fetchAhead(items, byEnd, i);
        const BasicItem<Tick>& item = items[byEnd[i]];
        if (item.drum) {
            if (drums && item.start >= drumFree) {
                drumFree = item.frees();
                ++drumMost;
            }
        } else if (const std::optional<std::size_t> at = free.latestFreeAt(item.start)) {
            free.take(*at, item.frees());
            ++pitchedMost;
        }
    }
    return pitchedMost + drumMost;
}

// Whether the drums take a channel: asked for, or from 4 channels on, or
// below where the pitched notes all fit whole in the others (a channel is
// never left empty while drum notes go, and a song of drums alone keeps them).
template <typename Tick>
bool drumsTakeAChannel(const Items<Tick>& items, const Order& byEnd, const FitOptions& options,
                       std::uint64_t pitched) {
    if (pitched == items.size() || options.drums == DrumChoice::Off) {
        return false;
    }
    return options.drums == DrumChoice::On || options.channels >= 4 ||
           mostIn(items, byEnd, options.channels - 1, isPitched<Tick>,
                  [](std::uint32_t, std::uint32_t) {}) == pitched;
}

// Where every pitched note fits whole in the pitched lanes, each keeps its
// whole length; the lanes are then named for the lines they hold most of.
template <typename Tick>
void nameLanes(const Items<Tick>& items, const Order& melody, const Order& bass,
               std::vector<Lane>& lanes) {
    std::vector<bool> labelled(lanes.size(), false);
    const std::uint32_t m = laneWithMost(items, melody, labelled);
    lanes[m].role = Role::Melody;
    labelled[m] = true;
    if (lanes.size() >= 2) {
        lanes[laneWithMost(items, bass, labelled)].role = Role::Bass;
    }
}

// The lane a harmony note takes, visited in the order they free a channel:
// the gap between line notes that closes soonest (the one that opened latest
// on a tie), so that the lanes free for good are kept for the notes still to
// come, which end later; else the lane free for good taken latest; else none.
template <typename Tick>
std::uint32_t harmonyLane(const BasicItem<Tick>& item, const Items<Tick>& items,
                          std::vector<Lane>& lanes, const std::vector<std::uint32_t>& withLines,
                          FreeChannels& free) {
    std::uint32_t best = kNoLane;
    std::uint64_t bestGap = 0;
    std::uint64_t bestClose = 0;
    for (const std::uint32_t l : withLines) {
        const std::optional<LineGap> gap = gapBefore(lanes[l], items, item);
        if (gap && (best == kNoLane || gap->closes < bestClose ||
                    (gap->closes == bestClose && gap->opened > bestGap))) {
            best = l;
            bestGap = gap->opened;
            bestClose = gap->closes;
        }
    }
    if (best != kNoLane) {
        lanes[best].lastEnd = item.frees();
        return best;
    }
    if (const std::optional<std::size_t> at = free.latestFreeAt(item.start)) {
        const std::uint32_t lane = free.channel(*at);
        free.take(*at, item.frees());
        return lane;
    }
    return kNoLane;
}

// Where not every pitched note fits whole: the melody and the bass each take
// a lane, every note of their lines struck, and the other pitched notes fill
// what is free of all pitched lanes, as many as fit whole.
template <typename Tick>
void placeAroundLines(Items<Tick>& items, const Orders& orders, Order melody, Order bass,
                      std::uint16_t division, bool legato, std::vector<Lane>& lanes,
                      LineEnds<Tick>* lineEnds) {
    for (BasicItem<Tick>& item : items) {
        item.lane = kNoItemLane;
    }
    lanes[0].role = Role::Melody;
    if (lanes.size() > 1) {
        lanes[1].role = Role::Bass;
    }
    // Where the harmony plays what the lines cut short, their ends as they were.
    for (const Order* line : {&melody, &bass}) {
        for (std::size_t i = 0; lineEnds != nullptr && i < line->size(); ++i) {
            lineEnds->emplace_back((*line)[i], items[(*line)[i]].end);
        }
    }
    placeLines(items, lanes, std::move(melody), std::move(bass), shortestCut(division), legato);
    // Lanes that hold no line note fill from the start: the latest free of
    // them is found at once; the others are searched.
    FreeChannels free;
    std::vector<std::uint32_t> withLines;
    for (auto l = static_cast<std::uint32_t>(lanes.size()); l > 0; --l) {
        if (lanes[l - 1].line.empty()) {
            free.add(l - 1);
        } else {
            withLines.push_back(l - 1);
        }
    }
    markDoubled(items, orders.byStart, lanes);
    forHarmony(items, orders.byEnd, [&](std::uint32_t n) {
        const std::uint32_t lane = harmonyLane(items[n], items, lanes, withLines, free);
        if (lane != kNoLane) {
            items[n].lane = static_cast<std::uint8_t>(lane);
        }
    });
}

// The pitched lanes: the tune (the top line of the parts that carry it,
// else of every pitched part) and the bass (the lowest line of the pitched
// notes left): where `allFit`, every pitched note is placed whole already
// and the lanes are named for the lines; else the lines are struck first.
template <typename Tick>
std::vector<Lane> placePitched(Items<Tick>& items, const Orders& orders, Tune& tune,
                               std::uint32_t pitched, bool allFit, ChannelFit& fit,
                               LineEnds<Tick>* lineEnds) {
    std::vector<Lane> lanes(pitched);
    if (pitched == 0) {
        return lanes;
    }
    Order melody;
    Order bass;
    linesOf(
        items, orders.byStart,
        [&](const BasicItem<Tick>& i, std::uint64_t tick) { return tune.carries(i.part, tick); },
        pitched >= 2, melody, bass);
    if (allFit) {
        dealWhole(items, orders.byStart, melody, bass, pitched);
        nameLanes(items, melody, bass, lanes);
    } else {
        placeAroundLines(items, orders, std::move(melody), std::move(bass), fit.rest.division,
                         tune.legato(), lanes, lineEnds);
    }
    return lanes;
}

// Opens a channel for each lane that holds notes, most important role first.
// Gives each lane's channel, or kNoLane.
template <typename Tick>
std::vector<std::uint32_t> openChannels(const Items<Tick>& items, const std::vector<Lane>& lanes,
                                        const Arpeggios<Tick>* arpeggios, ChannelFit& fit) {
    std::vector<std::uint64_t> perLane(lanes.size(), 0);
    for (const BasicItem<Tick>& item : items) {
        if (item.lane != kNoItemLane) {
            ++perLane[item.lane];
        }
    }
    for (std::size_t l = 0; arpeggios != nullptr && l < lanes.size(); ++l) {
        perLane[l] = lanes[l].role == Role::Harmony ? arpeggios->slices[l].size() : perLane[l];
    }
    std::vector<std::uint32_t> channelOf(lanes.size(), kNoLane);
    std::uint32_t harmony = 0;
    for (const Role role : {Role::Melody, Role::Bass, Role::Drums, Role::Harmony}) {
        for (std::size_t l = 0; l < lanes.size(); ++l) {
            if (lanes[l].role != role || perLane[l] == 0) {
                continue;
            }
            channelOf[l] = static_cast<std::uint32_t>(fit.channels.size());
            FitChannel& channel = fit.channels.emplace_back();
            channel.role = role;
            channel.number = role == Role::Harmony ? ++harmony : 0;
            channel.fromPart.assign(fit.parts.size(), 0);
            channel.notes.template emplace<FitNotes<Tick>>().reserve(perLane[l]);
        }
    }
    return channelOf;
}

// The harmony channels' arpeggios, with their counts.
template <typename Tick>
void fillArpeggios(Arpeggios<Tick>& arpeggios, const std::vector<std::uint32_t>& channelOf,
                   ChannelFit& fit) {
    for (std::size_t l = 0; l < channelOf.size(); ++l) {
        if (channelOf[l] == kNoLane || fit.channels[channelOf[l]].role != Role::Harmony) {
            continue;
        }
        FitChannel& channel = fit.channels[channelOf[l]];
        channel.notes = std::move(arpeggios.slices[l]);
        channel.fromPart = std::move(arpeggios.fromPart[l]);
        channel.arpeggiated = arpeggios.arpeggiated[l];
        channel.steps = arpeggios.steps[l];
        fit.keptWhole += arpeggios.whole[l];
        fit.arpeggiated += arpeggios.arpeggiated[l];
    }
}

// The channels, each note in the order they start, with their counts; the
// harmony channels', where they play `arpeggios`, from those.
template <typename Tick>
void fillChannels(const Items<Tick>& items, const Order& byStart, const std::vector<Lane>& lanes,
                  Arpeggios<Tick>* arpeggios, ChannelFit& fit) {
    const std::vector<std::uint32_t> channelOf = openChannels(items, lanes, arpeggios, fit);
    for (std::size_t i = 0; i < byStart.size(); ++i) {
        fetchAhead(items, byStart, i);
        const BasicItem<Tick>& item = items[byStart[i]];
        if (item.lane == kNoItemLane ||
            (arpeggios != nullptr && lanes[item.lane].role == Role::Harmony)) {
            continue;
        }
        FitChannel& channel = fit.channels[channelOf[item.lane]];
        std::get<FitNotes<Tick>>(channel.notes)
            .push_back({item.start, item.end, item.key, item.velocity});
        ++channel.fromPart[item.part];
        channel.cutShort += item.cut ? 1 : 0;
        (item.cut ? fit.cutShort : fit.keptWhole) += 1;
    }
    if (arpeggios != nullptr) {
        fillArpeggios(*arpeggios, channelOf, fit);
    }
    for (FitChannel& channel : fit.channels) {
        channel.noteCount = std::get<FitNotes<Tick>>(channel.notes).size();
        channel.mainPart = static_cast<std::uint32_t>(
            std::max_element(channel.fromPart.begin(), channel.fromPart.end()) -
            channel.fromPart.begin());
        channel.midiChannel =
            channel.role == Role::Drums ? kDrumChannel : fit.parts[channel.mainPart].channel;
    }
}

// The text of the error where the part --melody asks for has no pitched note.
std::string noMelody(const PartChoice& asked) {
    return "Track " + std::to_string(asked.track) +
           (asked.channel ? ", Channel " + std::to_string(*asked.channel) : "") +
           " has no pitched note to carry the melody (--melody)";
}

// What the placing starts from: the tune, and the drums' channel with the
// bound and the drum line.
struct Survey {
    Tune tune;
    bool tuneFound = true;
    bool drums = false;
    std::uint64_t pitchedNotes = 0;
    std::uint64_t pitchedMost = 0;  // that fit whole in the pitched channels
    Order drumOrder;
};

// Hears the tune while the drums' channel, the bound (`fit.most`) and the
// drum line are found: neither job writes what the other reads.
template <typename Tick>
Survey survey(const Items<Tick>& items, const Orders& orders, const std::vector<bool>& named,
              const FitOptions& options, ChannelFit& fit) {
    Survey found;
    runTogether(
        items.size() >= kNotesWorthSharing,
        [&] {
            found.tuneFound =
                findTune(items, orders.byStart, orders.byEnd, named, options, fit, found.tune);
        },
        [&] {
            found.pitchedNotes = static_cast<std::uint64_t>(
                std::count_if(items.begin(), items.end(), isPitched<Tick>));
            found.drums = drumsTakeAChannel(items, orders.byEnd, options, found.pitchedNotes);
            fit.most = mostByRole(items, orders.byEnd, options.channels - (found.drums ? 1 : 0),
                                  found.drums, found.pitchedMost);
            if (found.drums) {
                found.drumOrder = drumLine(items, orders.byStart, shortestCut(fit.rest.division));
            }
        });
    return found;
}

// The fit of notes read, in five steps: the drums' channel and the tune, the
// pitched lanes (lines and harmony), the drums' lane, the arpeggios where
// asked, the channels; with the bound the roles allow. See fitChannels; the
// error's text, or "".
template <typename Tick>
std::string fitItems(Items<Tick>& items, const std::vector<bool>& named, const FitOptions& options,
                     ChannelFit& fit) {
    Orders orders;
    sortNotes(items, orders.byStart, orders.byEnd);
    Survey found = survey(items, orders, named, options, fit);
    if (!found.tuneFound) {
        return noMelody(*options.melody);
    }
    const std::uint32_t pitched = options.channels - (found.drums ? 1 : 0);
    LineEnds<Tick> lineEnds;
    std::vector<Lane> lanes =
        placePitched(items, orders, found.tune, pitched, found.pitchedMost == found.pitchedNotes,
                     fit, options.arpeggio != 0 ? &lineEnds : nullptr);
    // Each harmony part on one channel where it can be.
    keepPartsTogether(items, orders.byStart, lanes);
    // What only the placing needed goes before the channels are filled.
    Order().swap(orders.byEnd);
    for (Lane& lane : lanes) {
        Order().swap(lane.line);
    }
    if (found.drums) {
        Lane& lane = lanes.emplace_back();
        lane.role = Role::Drums;
        placeLine(items, lane, std::move(found.drumOrder),
                  static_cast<std::uint32_t>(lanes.size() - 1));
    }
    std::optional<Arpeggios<Tick>> arpeggios;
    if (options.arpeggio != 0) {
        arpeggios = arpeggiate(items, orders.byStart, lanes, std::move(lineEnds), options, fit.rest,
                               fit.parts.size());
        if (arpeggios->tooMany) {
            return "The arpeggios need more than " + std::to_string(kMostSlices) +
                   " steps: a step of more driver ticks (--arpeggio) or a lower frequency (-f) "
                   "needs fewer";
        }
        fit.arpeggios = std::any_of(lanes.begin(), lanes.end(),
                                    [](const Lane& lane) { return lane.role == Role::Harmony; });
    }
    fillChannels(items, orders.byStart, lanes, arpeggios ? &*arpeggios : nullptr, fit);
    return "";
}

// Reads the song's notes with `Tick` wide ticks and fits them; false where a
// tick does not fit in a Tick, or with `error` set where a track runs past
// 64 bits or the part --melody asks for has no pitched note.
template <typename Tick>
bool readAndFit(std::unique_ptr<Song>& song, const FitOptions& options, ChannelFit& fit,
                std::string& error) {
    fit = {};
    std::vector<bool> lead;
    Items<Tick> items;
    std::uint32_t track = 0;
    switch (readNotes(song, fit, lead, items, track)) {
        case ReadEnd::Read: break;
        case ReadEnd::WiderTicks: return false;
        case ReadEnd::TooLong:
            error = "Track " + std::to_string(track) + messages::kTrackTooLong;
            return false;
    }
    fit.arpeggio = options.arpeggio;
    error = fitItems(items, lead, options, fit);
    if (!error.empty()) {
        return false;
    }
    return true;
}

}  // namespace

bool fitChannels(std::unique_ptr<Song> song, const FitOptions& options, ChannelFit& fit,
                 std::string& error) {
    error.clear();
    if (readAndFit<std::uint32_t>(song, options, fit, error)) {
        return true;
    }
    // Ticks past 32 bits: the notes are read afresh, 24 bytes each.
    return error.empty() && readAndFit<std::uint64_t>(song, options, fit, error);
}

}  // namespace mid2nolt
