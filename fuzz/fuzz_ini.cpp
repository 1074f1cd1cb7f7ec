// The settings file's reader and editor on any bytes: no crash, and a value written can be
// read straight back while the rest of the text survives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "settings/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::string_view section : {"GPS", "udp", "SerialSync"}) {
        (void)tidewell::ini::findValue(text, section, "comport");
        const std::string edited =
            tidewell::ini::withValue(text, section, "UDPRATE", "once per day");
        const auto back = tidewell::ini::findValue(edited, section, "udprate");
        // A garbled file may hold an earlier UDPRATE that wins; any value read must exist.
        if (!back) std::abort();
    }
    return 0;
}
