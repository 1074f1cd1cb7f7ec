#include "devices/reception_tally.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace tidewell {

void ReceptionTally::add(const NmeaDecodeResult& line) {
    ++sentences;
    if (line.typeId == "RMC") ++rmc;
    if (line.sentence) {
        if (line.sentence->utc) ++times;
    } else {
        ++rejected[line.rejection];
    }
}

ReceptionTally& ReceptionTally::operator+=(const ReceptionTally& other) {
    bytes += other.bytes, sentences += other.sentences, rmc += other.rmc, times += other.times;
    for (const auto& [reason, count] : other.rejected) rejected[reason] += count;
    return *this;
}

std::string noTimeReport(const ReceptionTally& tally, int seconds) {
    const std::string span = " in the last " + std::to_string(seconds) + " s";
    if (tally.times > 0) return {};
    if (tally.bytes == 0) return "nothing received" + span;
    std::vector<std::pair<std::string, std::uint64_t>> reasons(tally.rejected.begin(),
                                                               tally.rejected.end());
    std::stable_sort(reasons.begin(), reasons.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string text = "no valid time" + span + ":";
    const char* separator = " ";
    for (const auto& [reason, count] : reasons) {
        text += separator + std::to_string(count) + " " + reason;
        separator = ", ";
    }
    // Neither a fix nor a lack of one: the receiver sends no RMC, or the speed is wrong.
    if (tally.sentences == 0)
        text += separator + std::string("no sentence in ") + std::to_string(tally.bytes) + " bytes";
    else if (tally.rmc == 0)
        text += separator + std::string("no RMC among ") + std::to_string(tally.sentences) +
                " sentences";
    return text;
}

}  // namespace tidewell
