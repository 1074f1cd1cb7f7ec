// Framer and decoder on arbitrary bytes: no crash, and every delivered RMC carries a time
// that formats back to a date within the two-digit-year window.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "devices/nmea_decode.h"
#include "gps/date_value.h"
#include "devices/nmea_framer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr tidewell::DateWindow dates{};
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tidewell::NmeaFramer framer;
    const auto onLine = [&](std::string_view line) {
        if (line.size() > tidewell::NmeaFramer::kMaxSentence || line.empty() || line[0] != '$')
            std::abort();
        const auto r = tidewell::decodeNmeaSentence(line, dates);
        if (!r.sentence) {
            if (r.rejection.empty()) std::abort();
            return;
        }
        if (r.sentence->TypeID.empty()) std::abort();
        if (r.sentence->TypeID == "RMC") {
            if (!r.sentence->utc) std::abort();
            const auto text = tidewell::formatUtcMillis(*r.sentence->utc);
            if (text < "1980-01-01T00:00:00.000" || text > "2079-12-31T23:59:59.999") std::abort();
        } else if (r.sentence->utc) {
            std::abort();
        }
    };
    // Split in two so state carried across feeds is exercised too.
    const std::size_t half = size / 2;
    framer.feed(bytes.substr(0, half), onLine);
    framer.feed(bytes.substr(half), onLine);
    framer.finish(onLine);
    return 0;
}
