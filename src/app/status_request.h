#pragma once
// The status endpoint's one request: a short line ("status", "status json", "history"; "show",
// from a later start of the program, brings the window up), read
// as it comes, in pieces of any size. Anything else, or a line longer than kMaxLine, is
// refused with an error line. Portable, and fuzzed: it reads bytes from anyone who may connect.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tidewell {

struct StatusRequest {
    enum class Kind { Status, StatusJson, History, Show };
    std::optional<Kind> kind;
    std::string error;  // why it is refused: "error: ...", when there is no kind
};

// The request a line names; words are separated by blanks, letter case is ignored.
StatusRequest parseStatusRequest(std::string_view line);

class StatusRequestReader {
public:
    static constexpr std::size_t kMaxLine = 200;

    // Takes the next bytes; the verdict once the line is whole or too long, else nothing.
    // After a verdict, every later byte is ignored and the same verdict comes back.
    std::optional<StatusRequest> feed(std::string_view bytes);
    // The client has sent all it will: what came is the line.
    StatusRequest end();
    // Bytes taken so far, never more than kMaxLine + 1.
    std::size_t size() const { return line_.size(); }

private:
    std::string line_;
    std::optional<StatusRequest> verdict_;
};

}  // namespace tidewell
