#pragma once
// Which received sentences are fresh enough to set the clock from. Sentences that waited in
// the port's buffer while the program was held up (stopped, suspended, blocked on a disk) are
// stamped when read, so their stamps lie; they may still be shown, never used to set.
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "devices/nmea_sentence.h"

namespace tidewell {

class SentenceFreshness {
public:
    using Clock = std::chrono::steady_clock;
    // How late a sentence may come off the line, against the earliest this receiver has
    // recently managed, and still be fresh.
    static constexpr Clock::duration kLateness = std::chrono::seconds(1);
    // How long a sentence's lateness stays a reference; long enough to bridge a stall, short
    // enough that the drift between the steady clock and GPS time stays far below kLateness.
    static constexpr Clock::duration kMemory = std::chrono::minutes(2);

    // Marks the sentences of one read, in the order they came. Only RMC with a time and a
    // stamp are judged; the rest keep `fresh`. A read is a backlog, all of it late, when its
    // times span a second or more: a live receiver's sentences are read as they come. Else
    // only the newest RMC may be fresh, and it is late when its stamp is more than kLateness
    // behind the best of the last kMemory.
    // Returns how many came late before this read's fresh one (0 when none did, or when this
    // read has no fresh one): a run of late sentences is told once, when it ends.
    std::uint64_t judge(const std::vector<NmeaSentence*>& read);

    // A new line (open, speed change): what was learnt no longer holds.
    void reset() { best_.clear(), lateRun_ = 0; }

private:
    struct Lag {
        Clock::time_point seen;
        Clock::duration lag;  // first byte's stamp less the time the sentence names
    };
    bool onTime(Clock::duration lag, Clock::time_point seen);

    // Ascending lags, each the best since it was seen: the front is the window's best.
    std::deque<Lag> best_;
    std::uint64_t lateRun_ = 0;
};

}  // namespace tidewell
