// The status endpoint's request reader on any bytes in any pieces, as a client may send
// them: no crash, never more than the limit held, a verdict once a line ends or the limit
// passes, and an error line for anything but a request. The JSON quoting of the same bytes
// must stay one valid string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/json_text.h"
#include "app/status_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the piece size, the rest is what the client sends.
    const std::size_t piece = data[0] % 32 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    tidewell::StatusRequestReader reader;
    std::optional<tidewell::StatusRequest> verdict;
    std::size_t fed = 0;
    for (; fed < bytes.size() && !verdict; fed += piece) {
        verdict = reader.feed(bytes.substr(fed, piece));
        if (reader.size() > tidewell::StatusRequestReader::kMaxLine + 1) std::abort();
    }
    const std::size_t newline = bytes.find('\n');
    const bool lineEnded = newline != std::string_view::npos && newline < fed;
    if (!verdict && (lineEnded || fed > tidewell::StatusRequestReader::kMaxLine + piece))
        std::abort();
    const tidewell::StatusRequest request = verdict ? *verdict : reader.end();
    if (request.kind.has_value() == request.error.starts_with("error: ")) std::abort();
    const std::string json = tidewell::jsonString(bytes);
    for (std::size_t i = 1; i + 1 < json.size(); ++i)
        if (static_cast<unsigned char>(json[i]) < 0x20 || (json[i] == '"' && json[i - 1] != '\\'))
            std::abort();
    return 0;
}
