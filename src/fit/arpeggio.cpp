#include "fit/arpeggio.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "fit/chord.h"
#include "midi/midi_facts.h"
#include "midi/tempo.h"

namespace mid2nolt::fit {

namespace {

// The song's ticks in seconds and back, by its tempo map (SMPTE ticks at
// their fixed rate).
class Clock {
public:
    explicit Clock(const SongRest& rest) : map_(changesOf(rest), rest.division) {
        const Division division{rest.division};
        // (A frame of no ticks counts as one: the clock never stands still.)
        perSecond_ =
            division.smpte()
                ? static_cast<double>(std::max<std::uint64_t>(1, division.smpteTicksPerSecond()))
                : 0;
        division_ = division.smpte() ? 1 : rest.division;
    }
    double secondsAt(std::uint64_t tick, std::size_t& hint) const {
        return perSecond_ > 0 ? static_cast<double>(tick) / perSecond_
                              : map_.secondsAt(static_cast<double>(tick), hint);
    }
    // The first tick past where `seconds` falls, and after `after`: a step
    // that ends there lasts its driver ticks in a script, which counts a
    // driver tick once its time has passed (where a tick of the file is
    // shorter than a driver tick).
    std::uint64_t tickAt(double seconds, std::uint64_t after, std::size_t& hint) const {
        double tick = 0;
        if (perSecond_ > 0) {
            tick = seconds * perSecond_;
        } else {
            SecondsMap::Stretch stretch = map_.stretchAt(static_cast<double>(after), hint);
            for (;;) {
                const double from = map_.secondsAt(stretch.from, hint);
                tick = stretch.from + (seconds - from) * 1e6 * division_ / stretch.tempo;
                if (!(stretch.tempo > 0) || tick >= stretch.until) {
                    if (stretch.until == std::numeric_limits<double>::infinity()) {
                        tick = kTooFar;
                        break;
                    }
                    stretch = map_.stretchAt(stretch.until, hint);
                    continue;
                }
                break;
            }
        }
        // Past it by a hair at least: a script's sum of driver ticks that
        // lands on a whole tick may fall short of it by its rounding.
        const std::uint64_t past =
            !(tick < kTooFar) ? kNever : static_cast<std::uint64_t>(std::floor(tick + 1e-6)) + 1;
        return std::max(past, after + 1);
    }

private:
    static constexpr double kTooFar = 18446744073709549568.0;  // below 2^64
    static std::vector<TempoChange> changesOf(const SongRest& rest) {
        std::vector<TempoChange> changes;
        for (const TimedEvent& event : rest.others) {
            if (event.kind == EventKind::Meta && event.metaType == kTempoMeta) {
                changes.push_back({event.tick, event.tempo});
            }
        }
        orderByTick(changes);
        return changes;
    }
    SecondsMap map_;
    double perSecond_ = 0;
    double division_ = 1;
};

// What the harmony lanes may still write and take, all together.
struct Room {
    std::uint64_t slices = kMostSlices;
    std::uint64_t turns = kMostTurns;
};

// One harmony lane as it plays its share. Where two or more notes sound,
// the steps turn on a grid of the step's length from where they began to
// sound together, each to the next note up (the lowest after the highest);
// a note that starts joins the turn, one that ends hands it on at once.
template <typename Tick>
class LanePlayer {
public:
    LanePlayer(const Clock& clock, std::uint32_t step, std::uint32_t frequency, FitNotes<Tick>& out,
               std::vector<std::uint64_t>& fromPart, std::vector<bool>& arpeggiated, Room& room)
        : clock_(&clock),
          step_(step),
          frequency_(frequency),
          out_(&out),
          fromPart_(&fromPart),
          arpeggiated_(&arpeggiated),
          room_(&room),
          items_(arpeggiated.size()) {}

    // Plays what sounds until `tick`: notes that end, steps that turn.
    void advance(std::uint64_t tick) {
        while (!sounding_.empty()) {
            const std::uint64_t end = sounding_.nextEnd();
            const std::uint64_t turn = sounding_.size() >= 2 ? nextTurn_ : kNever;
            if (std::min(end, turn) > tick) {
                return;
            }
            if (end <= turn) {
                const std::uint8_t key = current_.key;
                const bool handsOn = current_.end == end;
                sounding_.removeEnding(end);
                if (sounding_.empty()) {
                    stop(end);
                } else if (handsOn) {
                    play(sounding_.above(key), end);
                }
            } else {
                ++turns_;
                play(sounding_.above(current_.key), turn);
                // No more turns once no slice can be written, or none taken.
                nextTurn_ = room_->slices > 0 && --room_->turns > 0 ? turnAt(turn) : kNever;
            }
        }
    }
    void add(const Share& note) {
        advance(note.start);
        sounding_.add(note);
        if (sounding_.size() == 1) {
            play(note, note.start);
        } else if (sounding_.size() == 2) {
            // Two sound together: the turns begin, from the lower, on the
            // driver's ticks from the one where they began.
            turns_ = 0;
            from_ = std::floor(clock_->secondsAt(note.start, hint_) * frequency_ + 1e-6);
            nextTurn_ = turnAt(note.start);
            play(sounding_.lowest(), note.start);
        }
    }
    void finish() {
        advance(kNever - 1);
        stop(kNever - 1);
    }
    std::uint64_t steps = 0;
    std::uint64_t whole = 0;
    std::uint64_t arpeggiated = 0;  // notes with a step in an arpeggio

private:
    // The tick of the next turn, after `after`: none where the driver has no
    // ticks.
    std::uint64_t turnAt(std::uint64_t after) {
        if (frequency_ == 0) {
            return kNever;
        }
        const double tick = from_ + static_cast<double>((turns_ + 1) * step_);
        return clock_->tickAt(tick / frequency_, after, hint_);
    }
    // `note` plays from `tick`: the slice before ends, unless it is of the
    // same note, which plays on.
    void play(const Share& note, std::uint64_t tick) {
        if (playing_ && current_.id == note.id) {
            stepped_ = stepped_ || sounding_.size() >= 2;
            return;
        }
        stop(tick);
        playing_ = true;
        current_ = note;
        since_ = tick;
        stepped_ = sounding_.size() >= 2;
    }
    void stop(std::uint64_t tick) {
        if (!playing_) {
            return;
        }
        const std::uint64_t end = std::min(tick, current_.end);
        if (end > since_ && room_->slices > 0) {
            --room_->slices;
            out_->push_back({static_cast<Tick>(since_), static_cast<Tick>(end), current_.key,
                             current_.velocity});
            ++(*fromPart_)[current_.part];
            if (stepped_) {
                ++steps;
                // A source note's, not what a line cut short of one.
                if (current_.id < items_ && !(*arpeggiated_)[current_.id]) {
                    (*arpeggiated_)[current_.id] = true;
                    ++arpeggiated;
                }
            } else if (since_ == current_.start && end == current_.end) {
                ++whole;
            }
        }
        playing_ = false;
    }

    const Clock* clock_;
    std::uint32_t step_;       // driver ticks
    std::uint32_t frequency_;  // driver ticks a second
    FitNotes<Tick>* out_;
    std::vector<std::uint64_t>* fromPart_;
    std::vector<bool>* arpeggiated_;
    Room* room_;         // what all lanes may still write and take
    std::size_t items_;  // ids below are the items'; the rest, remainders
    Chord sounding_;
    bool playing_ = false;
    Share current_;
    std::uint64_t since_ = 0;
    bool stepped_ = false;
    double from_ = 0;  // the driver tick where the turns began
    std::uint64_t turns_ = 0;
    std::uint64_t nextTurn_ = kNever;
    std::size_t hint_ = 0;
};

// The line notes cut short, in the order the cuts come: what is left of
// each starts there.
template <typename Tick>
LineEnds<Tick> remaindersOf(const Items<Tick>& items, LineEnds<Tick> lineEnds) {
    std::erase_if(lineEnds, [&](const std::pair<std::uint32_t, Tick>& line) {
        const BasicItem<Tick>& item = items[line.first];
        return item.lane == kNoItemLane || item.end >= line.second;
    });
    std::stable_sort(lineEnds.begin(), lineEnds.end(), [&](const auto& a, const auto& b) {
        return items[a.first].end < items[b.first].end;
    });
    lineEnds.shrink_to_fit();
    return lineEnds;
}

// Deals the shares over the harmony lanes, in the order they start, and
// has each lane play its own.
template <typename Tick>
class ShareDealer {
public:
    ShareDealer(std::vector<std::uint8_t> harmony, const Clock& clock, const FitOptions& options,
                std::size_t items, Arpeggios<Tick>& result)
        : harmony_(std::move(harmony)),
          arpeggiated_(items, false),
          ends_(harmony_.size()),
          lastPart_(harmony_.size(), std::numeric_limits<std::uint32_t>::max()),
          playerOf_(result.slices.size(), 0) {
        for (std::size_t h = 0; h < harmony_.size(); ++h) {
            const std::uint8_t l = harmony_[h];
            players_.emplace_back(clock, options.arpeggio, options.frequency, result.slices[l],
                                  result.fromPart[l], arpeggiated_, room_);
            playerOf_[l] = h;
        }
    }
    // A note a harmony lane holds (`placed`) stays there; another goes to
    // the lane that sounds fewest of its share there, the one its part took
    // last on a tie, else the first.
    void deal(Share note, bool placed) {
        std::size_t best = placed ? playerOf_[note.lane] : 0;
        if (harmony_.size() > 1) {
            for (std::size_t h = 0; h < harmony_.size(); ++h) {
                while (ends_[h].firstEnd(kNever) <= note.start) {
                    ends_[h].pop();
                }
            }
            for (std::size_t h = 1; !placed && h < harmony_.size(); ++h) {
                if (std::pair(ends_[h].size(), lastPart_[h] != note.part) <
                    std::pair(ends_[best].size(), lastPart_[best] != note.part)) {
                    best = h;
                }
            }
            ends_[best].push({note.end});
        }
        lastPart_[best] = note.part;
        note.lane = harmony_[best];
        players_[best].add(note);
    }
    void finish(Arpeggios<Tick>& result) {
        for (std::size_t h = 0; h < harmony_.size(); ++h) {
            players_[h].finish();
            result.steps[harmony_[h]] = players_[h].steps;
            result.whole[harmony_[h]] = players_[h].whole;
            result.arpeggiated[harmony_[h]] = players_[h].arpeggiated;
        }
        result.tooMany = room_.slices == 0 || room_.turns == 0;
    }

private:
    std::vector<std::uint8_t> harmony_;
    std::vector<bool> arpeggiated_;
    Room room_;
    std::vector<LanePlayer<Tick>> players_;
    // Per lane, the ends of its share sounding (where there are lanes to
    // choose from).
    struct End {
        std::uint64_t end;
    };
    std::vector<EndQueue<End>> ends_;
    std::vector<std::uint32_t> lastPart_;
    std::vector<std::size_t> playerOf_;
};

}  // namespace

template <typename Tick>
Arpeggios<Tick> arpeggiate(const Items<Tick>& items, const Order& byStart,
                           const std::vector<Lane>& lanes, LineEnds<Tick> lineEnds,
                           const FitOptions& options, const SongRest& rest, std::size_t parts) {
    Arpeggios<Tick> result;
    result.slices.resize(lanes.size());
    result.fromPart.assign(lanes.size(), std::vector<std::uint64_t>(parts, 0));
    result.arpeggiated.assign(lanes.size(), 0);
    result.steps.assign(lanes.size(), 0);
    result.whole.assign(lanes.size(), 0);
    std::vector<std::uint8_t> harmony;
    for (std::size_t l = 0; l < lanes.size(); ++l) {
        if (lanes[l].role == Role::Harmony) {
            harmony.push_back(static_cast<std::uint8_t>(l));
        }
    }
    if (harmony.empty()) {
        return result;
    }
    const LineEnds<Tick> remainders = remaindersOf(items, std::move(lineEnds));
    const Clock clock(rest);
    ShareDealer<Tick> dealer(std::move(harmony), clock, options, items.size(), result);
    std::size_t r = 0;
    for (std::size_t i = 0; i <= byStart.size(); ++i) {
        const std::uint64_t start = i == byStart.size() ? kNever : items[byStart[i]].start;
        for (; r < remainders.size() && items[remainders[r].first].end <= start; ++r) {
            const BasicItem<Tick>& cut = items[remainders[r].first];
            dealer.deal(
                {cut.end, remainders[r].second, static_cast<std::uint32_t>(items.size() + r),
                 cut.part, cut.key, cut.velocity, 0},
                false);
        }
        if (i == byStart.size()) {
            break;
        }
        fetchAhead(items, byStart, i);
        const BasicItem<Tick>& item = items[byStart[i]];
        // A note a harmony lane holds (a line's too, put aside there) stays
        // there; a pitched note no lane holds is dealt.
        const bool placed = item.lane != kNoItemLane && lanes[item.lane].role == Role::Harmony;
        if (placed || (!item.drum && !item.line && item.lane == kNoItemLane)) {
            dealer.deal(
                {item.start, item.end, byStart[i], item.part, item.key, item.velocity, item.lane},
                placed);
        }
    }
    dealer.finish(result);
    return result;
}

template Arpeggios<std::uint32_t> arpeggiate(const Items<std::uint32_t>&, const Order&,
                                             const std::vector<Lane>&, LineEnds<std::uint32_t>,
                                             const FitOptions&, const SongRest&, std::size_t);
template Arpeggios<std::uint64_t> arpeggiate(const Items<std::uint64_t>&, const Order&,
                                             const std::vector<Lane>&, LineEnds<std::uint64_t>,
                                             const FitOptions&, const SongRest&, std::size_t);

}  // namespace mid2nolt::fit
