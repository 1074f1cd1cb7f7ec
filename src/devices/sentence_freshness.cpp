#include "devices/sentence_freshness.h"

#include <algorithm>
#include <utility>

#include "gps/date_value.h"

namespace tidewell {

namespace {

bool judged(const NmeaSentence& s) {
    return s.utc && s.arrived != SentenceFreshness::Clock::time_point{};
}

// The stamp less the time named, on the steady clock's epoch; only differences count.
SentenceFreshness::Clock::duration lagOf(const NmeaSentence& s) {
    return s.arrived.time_since_epoch() -
           std::chrono::duration_cast<SentenceFreshness::Clock::duration>(
               instantOf(*s.utc).time_since_epoch());
}

}  // namespace

bool SentenceFreshness::onTime(Clock::duration lag, Clock::time_point seen) {
    while (!best_.empty() && seen - best_.front().seen > kMemory) best_.pop_front();
    if (!best_.empty() && lag - best_.front().lag > kLateness) return false;
    // A late sentence never becomes the measure of lateness.
    while (!best_.empty() && best_.back().lag >= lag) best_.pop_back();
    best_.push_back({seen, lag});
    return true;
}

std::uint64_t SentenceFreshness::judge(const std::vector<NmeaSentence*>& read) {
    std::vector<NmeaSentence*> timed;
    for (NmeaSentence* s : read)
        if (judged(*s)) timed.push_back(s);
    if (timed.empty()) return 0;
    const auto [first, last] = std::minmax_element(
        timed.begin(), timed.end(), [](auto* a, auto* b) { return *a->utc < *b->utc; });
    const bool backlog =
        instantOf(*(*last)->utc) - instantOf(*(*first)->utc) >= std::chrono::seconds(1);
    for (NmeaSentence* s : timed) s->fresh = false;
    if (backlog) {
        lateRun_ += timed.size();
        return 0;
    }
    // Older sentences of a live read are only superseded, not late.
    NmeaSentence& newest = *timed.back();
    if (!onTime(lagOf(newest), newest.arrived)) {
        ++lateRun_;
        return 0;
    }
    newest.fresh = true;
    return std::exchange(lateRun_, 0);
}

}  // namespace tidewell
