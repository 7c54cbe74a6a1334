#include "arrange/channel_fit.h"

#include <algorithm>
#include <string>
#include <utility>

#include "arrange/fit_lines.h"
#include "arrange/fit_notes.h"
#include "arrange/fit_schedule.h"

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

// The fit of notes read: see fitChannels.
template <typename Tick>
void fitItems(Items<Tick>& items, const std::vector<bool>& lead, const FitOptions& options,
              ChannelFit& fit) {
    using Item = BasicItem<Tick>;
    const std::uint16_t division = fit.rest.division;
    const Order byStart = byStarting(items);
    // One order by end serves every schedule: the notes they place are whole.
    Order byEnd = byFreeing(items);
    scheduleByEnd(
        items, byEnd, options.channels, [](const Item&) { return true; },
        [&](std::uint32_t, std::uint32_t) { ++fit.most; });

    const auto pitchedNotes = static_cast<std::uint64_t>(
        std::count_if(items.begin(), items.end(), [](const Item& i) { return !i.drum; }));
    const bool hasDrums = pitchedNotes < items.size();
    // Whether every pitched note fits whole in `count` channels; none can
    // where all notes do not fit in as many channels or more.
    const auto pitchedFitIn = [&](std::uint32_t count, auto place) {
        if (fit.most < pitchedNotes) {
            return false;
        }
        std::uint64_t placed = 0;
        scheduleByEnd(
            items, byEnd, count, [](const Item& i) { return !i.drum; },
            [&](std::uint32_t n, std::uint32_t channel) {
                place(n, channel);
                ++placed;
            });
        return placed == pitchedNotes;
    };
    // Below 4 channels the drums get one only where the pitched notes all fit
    // whole in the others: a channel is never left empty while they go.
    const bool drums =
        hasDrums && (options.drums == DrumChoice::On ||
                     (options.drums == DrumChoice::Auto &&
                      (options.channels >= 4 ||
                       (options.channels > 1 &&
                        pitchedFitIn(options.channels - 1, [](std::uint32_t, std::uint32_t) {})))));
    const std::uint32_t pitched = options.channels - (drums ? 1 : 0);

    // The tune: the top line of the parts named for it, else of every pitched
    // part; the bass: the lowest line of the pitched notes left.
    const bool named = std::any_of(items.begin(), items.end(), [&](const Item& i) {
        return !i.drum && lead[fit.parts[i.part].track];
    });
    Order melody;
    Order bass;
    linesOf(
        items, byStart, [&](const Item& i) { return !named || lead[fit.parts[i.part].track]; },
        pitched >= 2, melody, bass);

    std::vector<Lane> lanes(pitched);
    // Where every pitched note fits whole, each keeps its whole length; the
    // lanes are then named for the lines they hold most of.
    const bool allFit =
        pitched > 0 && pitchedFitIn(pitched, [&](std::uint32_t n, std::uint32_t lane) {
            items[n].lane = static_cast<std::uint8_t>(lane);
        });
    if (allFit) {
        std::vector<bool> labelled(pitched, false);
        const std::uint32_t m = laneWithMost(items, melody, labelled);
        lanes[m].role = Role::Melody;
        labelled[m] = true;
        if (pitched >= 2) {
            const std::uint32_t b = laneWithMost(items, bass, labelled);
            lanes[b].role = Role::Bass;
        }
        Order().swap(melody);
        Order().swap(bass);
    } else if (pitched > 0) {
        for (Item& item : items) {
            item.lane = kNoItemLane;
        }
        // Else the melody and the bass each take a lane, every note of their
        // lines struck, and the other pitched notes fill what is free of all
        // pitched lanes, as many as fit whole.
        lanes[0].role = Role::Melody;
        if (pitched > 1) {
            lanes[1].role = Role::Bass;
        }
        placeLines(items, lanes, std::move(melody), std::move(bass), shortestCut(division));
        // Lanes that hold no line note fill from the start: the latest free
        // of them is found at once; the others are searched.
        FreeChannels free;
        std::vector<std::uint32_t> withLines;
        for (std::uint32_t l = pitched; l > 0; --l) {
            Lane& lane = lanes[l - 1];
            if (lane.line.empty()) {
                free.add(l - 1);
                continue;
            }
            withLines.push_back(l - 1);
        }
        markDoubled(items, byStart, lanes);
        forHarmony(items, byEnd, [&](std::uint32_t n) {
            Item& item = items[n];
            // The gap between line notes that closes soonest, the one that
            // opened latest on a tie: the lanes free for good are kept for
            // the notes still to come, which end later. Else the lane free
            // for good that was taken latest.
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
                item.lane = static_cast<std::uint8_t>(best);
                lanes[best].lastEnd = item.frees();
                return;
            }
            if (const std::optional<std::size_t> at = free.latestFreeAt(item.start)) {
                item.lane = static_cast<std::uint8_t>(free.channel(*at));
                free.take(*at, item.frees());
            }
        });
    }
    // Each harmony part on one channel where it can be.
    keepPartsTogether(items, byStart, lanes);
    // What only the placing needed goes before the channels are filled.
    Order().swap(byEnd);
    for (Lane& lane : lanes) {
        Order().swap(lane.line);
    }
    if (drums) {
        Lane& lane = lanes.emplace_back();
        lane.role = Role::Drums;
        placeLine(items, lane, drumLine(items, byStart, shortestCut(division)),
                  static_cast<std::uint32_t>(lanes.size() - 1));
    }

    // The channels, most important role first, each note in the order they start.
    std::vector<std::uint64_t> perLane(lanes.size(), 0);
    for (const Item& item : items) {
        if (item.lane != kNoItemLane) {
            ++perLane[item.lane];
        }
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
    for (std::size_t i = 0; i < byStart.size(); ++i) {
        fetchAhead(items, byStart, i);
        const Item& item = items[byStart[i]];
        if (item.lane == kNoItemLane) {
            continue;
        }
        FitChannel& channel = fit.channels[channelOf[item.lane]];
        std::get<FitNotes<Tick>>(channel.notes)
            .push_back({item.start, item.end, item.key, item.velocity});
        ++channel.fromPart[item.part];
        channel.cutShort += item.cut ? 1 : 0;
        (item.cut ? fit.cutShort : fit.keptWhole) += 1;
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

}  // namespace

ChannelFit fitChannels(std::unique_ptr<Song> song, const FitOptions& options) {
    ChannelFit fit;
    std::vector<bool> lead;
    {
        Items<std::uint32_t> items;
        if (readNotes(*song, fit, lead, items)) {
            song.reset();
            fitItems(items, lead, options, fit);
            return fit;
        }
    }
    // Ticks past 32 bits: the notes are read afresh, 24 bytes each.
    fit = {};
    Items<std::uint64_t> items;
    readNotes(*song, fit, lead, items);
    song.reset();
    fitItems(items, lead, options, fit);
    return fit;
}

}  // namespace mid2nolt
