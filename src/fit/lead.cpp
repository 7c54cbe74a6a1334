#include "fit/lead.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "fit/lines.h"
#include "midi/key_set.h"
#include "midi/midi_facts.h"
#include "midi/notes.h"

namespace mid2nolt::fit {

namespace {

constexpr std::uint32_t kNoPart = std::numeric_limits<std::uint32_t>::max();
// A rest of a bar of four beats or more ends a phrase.
constexpr std::uint64_t kRestBeats = 4;
// The gaps between a part's onsets, in sixteenths, up to a bar.
constexpr std::size_t kSteps = 16;

// What a listener hears of one part.
struct Hearing {
    std::uint64_t notes = 0;
    std::uint64_t alone = 0;    // started while no other note of the part sounds
    std::uint64_t lowest = 0;   // the lowest of two or more keys sounding where it starts
    std::uint64_t highest = 0;  // the highest
    std::uint64_t lastStart = 0;
    std::uint64_t lastEnd = 0;
    bool lastAlone = false;
    std::array<std::uint32_t, kSteps + 1> gaps{};  // between onsets, in sixteenths
    KeySet keys;                                   // the keys it plays
};

// The keys sounding, counted, with a bit for each that sounds.
class Sounding {
public:
    void start(std::uint8_t key) {
        if (count_[key]++ == 0) {
            keys_.add(key);
        }
    }
    void end(std::uint8_t key) {
        if (--count_[key] == 0) {
            keys_.remove(key);
        }
    }
    // Of the keys sounding (one at least), the lowest and the highest.
    int lowest() const { return keys_.lowest(); }
    int highest() const { return keys_.highest(); }

private:
    std::array<std::uint32_t, KeySet::kKeys> count_{};
    KeySet keys_;
};

// Takes in a pitched note that starts at `tick` with the lowest and highest
// keys then sounding.
template <typename Tick>
void hearNote(Hearing& h, const BasicItem<Tick>& item, int low, int high, std::uint64_t step,
              std::uint64_t legato) {
    const std::uint64_t tick = item.start;
    if (h.notes > 0 && h.lastStart == tick) {
        // A chord: none of its notes plays alone.
        h.alone -= h.lastAlone ? 1 : 0;
        h.lastAlone = false;
    } else {
        if (h.notes > 0 && tick - h.lastStart < step * kSteps) {
            ++h.gaps[std::min<std::uint64_t>(kSteps, (tick - h.lastStart + step / 2) / step)];
        }
        h.lastAlone = h.notes == 0 || h.lastEnd <= tick + legato;
        h.alone += h.lastAlone ? 1 : 0;
        h.lastStart = tick;
    }
    h.lastEnd = std::max<std::uint64_t>(h.lastEnd, item.end);
    h.keys.add(item.key);
    // Lowest and highest where it sounds with others: a part alone is neither.
    h.lowest += item.key == low && low != high ? 1 : 0;
    h.highest += item.key == high && low != high ? 1 : 0;
    ++h.notes;
}

// What a listener hears of each part, in one sweep of the notes as they
// start, with those that end before each onset let go.
template <typename Tick>
std::vector<Hearing> hear(const Items<Tick>& items, const Order& byStart, const Order& byEnd,
                          std::size_t parts, std::uint64_t beat, std::uint64_t legato) {
    std::vector<Hearing> heard(parts);
    Sounding sounding;
    std::size_t e = 0;
    for (std::size_t i = 0; i < byStart.size();) {
        const std::uint64_t tick = items[byStart[i]].start;
        for (; e < byEnd.size() && items[byEnd[e]].frees() <= tick; ++e) {
            fetchAhead(items, byEnd, e);
            if (!items[byEnd[e]].drum) {
                sounding.end(items[byEnd[e]].key);
            }
        }
        std::size_t j = i;
        for (; j < byStart.size() && items[byStart[j]].start == tick; ++j) {
            fetchAhead(items, byStart, j);
            if (!items[byStart[j]].drum) {
                sounding.start(items[byStart[j]].key);
            }
        }
        for (; i < j; ++i) {
            const BasicItem<Tick>& item = items[byStart[i]];
            if (!item.drum) {
                hearNote(heard[item.part], item, sounding.lowest(), sounding.highest(), beat / 4,
                         legato);
            }
        }
    }
    return heard;
}

// How likely an instrument is to carry the tune, from its General MIDI
// program (-1 where the file gives none): voices most, then solo
// instruments and synth leads; basses, ensembles, pads and effects least.
double programWeight(int program) {
    if (program < 0) {
        return 1;
    }
    if (program == 52 || program == 53 || program == 54 || program == 85) {
        return 2;
    }
    if ((program >= 32 && program <= 39) || program == 43 || program == 58) {
        return 0.25;
    }
    if ((program >= 40 && program <= 42) || (program >= 56 && program <= 57) ||
        (program >= 64 && program <= 69) || (program >= 71 && program <= 75) ||
        (program >= 80 && program <= 87) || program == 22 || program == 29 || program == 30) {
        return 1.5;
    }
    if ((program >= 44 && program <= 51) || program >= 88) {
        return 0.5;
    }
    return 1;
}

// Whether a part can carry a tune: it mostly plays one note at a time (a
// chord part cannot), on three keys or more.
bool canLead(const Hearing& h) {
    return h.notes > 0 && h.alone * 2 >= h.notes && h.keys.size() >= 3;
}

// How much a part sounds like the tune; 0 where it cannot lead. A tune's
// notes come one at a time, many of them, in rhythms that vary; they lie
// above the bass and often on top.
double tuneScore(const Hearing& h, int program) {
    if (!canLead(h)) {
        return 0;
    }
    const auto notes = static_cast<double>(h.notes);
    const double alone = static_cast<double>(h.alone) / notes;
    std::uint64_t gaps = 0;
    std::uint32_t most = 0;
    for (const std::uint32_t count : h.gaps) {
        gaps += count;
        most = std::max(most, count);
    }
    const double regular = gaps == 0 ? 1 : static_cast<double>(most) / static_cast<double>(gaps);
    return notes * alone * alone * std::sqrt(1 - regular) *
           (1 - static_cast<double>(h.lowest) / notes) *
           (1 + static_cast<double>(h.highest) / notes) * programWeight(program);
}

// The lead's rests, each with the part that answers it there.
struct Rests {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;  // [from, to), by tick
    std::vector<std::uint32_t> answers;
};

// Counts the notes each part that can carry a tune starts in a span, and
// gives the one that starts most (the higher score on a tie), or kNoPart.
class AnswerCount {
public:
    explicit AnswerCount(const std::vector<double>& score)
        : score_(score), count_(score.size(), 0) {}
    void add(std::uint32_t part) {
        if (score_[part] > 0 && count_[part]++ == 0) {
            touched_.push_back(part);
        }
    }
    std::uint32_t take() {
        std::uint32_t best = kNoPart;
        for (const std::uint32_t p : touched_) {
            if (best == kNoPart || count_[p] > count_[best] ||
                (count_[p] == count_[best] &&
                 (score_[p] > score_[best] || (score_[p] == score_[best] && p < best)))) {
                best = p;
            }
        }
        for (const std::uint32_t p : touched_) {
            count_[p] = 0;
        }
        touched_.clear();
        return best;
    }

private:
    const std::vector<double>& score_;
    std::vector<std::uint64_t> count_;
    std::vector<std::uint32_t> touched_;
};

// The lead's rests of `rest` ticks or more (before its first note and after
// its last too) that another part answers, in one sweep of the notes as
// they start; and the share of the song (from the first pitched note to the
// last end) the lead's phrases span, in per cent.
template <typename Tick>
Rests restsOf(const Items<Tick>& items, const Order& byStart, const std::vector<bool>& lead,
              const std::vector<double>& score, std::uint64_t rest, std::uint32_t& through) {
    Rests rests;
    AnswerCount answers(score);
    std::uint64_t end = 0;  // where the lead's notes so far end
    std::uint64_t from = 0;
    std::uint64_t phrased = 0;
    std::uint64_t first = kLastTick;
    std::uint64_t last = 0;
    bool started = false;
    const auto rested = [&](std::uint64_t to) {
        const std::uint32_t answer = answers.take();
        if (answer != kNoPart) {
            rests.spans.emplace_back(end, to);
            rests.answers.push_back(answer);
        }
    };
    for (std::size_t i = 0; i < byStart.size(); ++i) {
        fetchAhead(items, byStart, i);
        const BasicItem<Tick>& item = items[byStart[i]];
        if (item.drum) {
            continue;
        }
        first = std::min<std::uint64_t>(first, item.start);
        last = std::max<std::uint64_t>(last, item.end);
        if (!lead[item.part]) {
            if (item.start >= end) {
                answers.add(item.part);
            }
            continue;
        }
        // (Ticks near 2^64 saturate: no rest runs past the last tick.)
        const std::uint64_t restEnds = end > kLastTick - rest ? kLastTick : end + rest;
        if (started ? item.start >= restEnds : item.start >= rest) {
            rested(item.start);
        } else if (item.start >= end) {
            answers.take();  // a breath, not a rest
        }
        if (!started || item.start >= restEnds) {
            phrased += started ? end - from : 0;
            from = item.start;
            started = true;
        }
        end = std::max<std::uint64_t>(end, item.end);
    }
    phrased += end - from;
    rested(kLastTick);
    const std::uint64_t span = last - first;
    through = span == 0                   ? 100
              : phrased > kLastTick / 100 ? static_cast<std::uint32_t>(phrased / (span / 100))
                                          : static_cast<std::uint32_t>(phrased * 100 / span);
    return rests;
}

// The parts the tune starts from, and how they were chosen; empty for the
// skyline. False where the part asked for plays no pitched note.
bool leadParts(const std::vector<Hearing>& heard, const std::vector<double>& score,
               const std::vector<bool>& named, const FitOptions& options, ChannelFit& fit) {
    const auto take = [&](TuneFrom from, auto chosen) {
        for (std::uint32_t p = 0; p < fit.parts.size(); ++p) {
            if (heard[p].notes > 0 && chosen(fit.parts[p])) {
                fit.tune.parts.push_back(p);
            }
        }
        fit.tune.from = fit.tune.parts.empty() ? TuneFrom::Skyline : from;
    };
    if (options.melody) {
        const PartChoice asked = *options.melody;
        take(TuneFrom::Asked, [&](const SourcePart& part) {
            return part.track == asked.track && (!asked.channel || part.channel == *asked.channel);
        });
        return !fit.tune.parts.empty();
    }
    take(TuneFrom::Named, [&](const SourcePart& part) { return named[part.track]; });
    const std::size_t pitched = static_cast<std::size_t>(
        std::count_if(heard.begin(), heard.end(), [](const Hearing& h) { return h.notes > 0; }));
    if (fit.tune.parts.empty() && pitched > 0) {
        // One part alone leads where it can, whatever its rhythm.
        const auto best = static_cast<std::uint32_t>(
            pitched == 1 ? std::find_if(heard.begin(), heard.end(),
                                        [](const Hearing& h) { return h.notes > 0; }) -
                               heard.begin()
                         : std::max_element(score.begin(), score.end()) - score.begin());
        if (pitched == 1 ? canLead(heard[best]) : score[best] > 0) {
            fit.tune.parts.push_back(best);
            fit.tune.from = TuneFrom::Heard;
        }
    }
    return true;
}

}  // namespace

template <typename Tick>
bool findTune(const Items<Tick>& items, const Order& byStart, const Order& byEnd,
              const std::vector<bool>& named, const FitOptions& options, ChannelFit& fit,
              Tune& tune) {
    fit.tune = {};
    tune = {};
    const std::uint64_t beat = Division{fit.rest.division}.beat();
    const std::vector<Hearing> heard =
        hear(items, byStart, byEnd, fit.parts.size(), beat, shortestCut(fit.rest.division));
    std::vector<double> score(fit.parts.size(), 0);
    for (std::size_t p = 0; p < score.size(); ++p) {
        score[p] = tuneScore(heard[p], fit.parts[p].program);
    }
    if (!leadParts(heard, score, named, options, fit)) {
        return false;
    }
    if (fit.tune.parts.empty()) {
        return true;
    }
    std::vector<bool> lead(fit.parts.size(), false);
    for (const std::uint32_t p : fit.tune.parts) {
        lead[p] = true;
        score[p] = 0;  // the lead answers no rest of its own
    }
    Rests rests = restsOf(items, byStart, lead, score, beat * kRestBeats, fit.tune.through);
    tune = Tune(std::move(lead), std::move(rests.answers), std::move(rests.spans));
    return true;
}

template bool findTune(const Items<std::uint32_t>&, const Order&, const Order&,
                       const std::vector<bool>&, const FitOptions&, ChannelFit&, Tune&);
template bool findTune(const Items<std::uint64_t>&, const Order&, const Order&,
                       const std::vector<bool>&, const FitOptions&, ChannelFit&, Tune&);

}  // namespace mid2nolt::fit
