#include "app/status_request.h"

#include <vector>

#include "platform/ascii.h"

namespace tidewell {

namespace {

const char* const kUsage = "error: unknown request; ask \"status\", \"status json\" or \"history\"";

}  // namespace

StatusRequest parseStatusRequest(std::string_view line) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    std::vector<std::string> words;
    std::string word;
    for (const char c : line) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(std::move(word)), word.clear();
        } else if (c < 0x21 || c > 0x7E) {
            return {std::nullopt, "error: the request is not a line of text"};
        } else {
            word += ascii::toLower(c);
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    using Kind = StatusRequest::Kind;
    if (words == std::vector<std::string>{"status"}) return {Kind::Status, {}};
    if (words == std::vector<std::string>{"status", "json"}) return {Kind::StatusJson, {}};
    if (words == std::vector<std::string>{"history"}) return {Kind::History, {}};
    if (words == std::vector<std::string>{"show"}) return {Kind::Show, {}};
    return {std::nullopt, kUsage};
}

std::optional<StatusRequest> StatusRequestReader::feed(std::string_view bytes) {
    if (verdict_) return verdict_;
    const std::size_t newline = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, newline);
    line_.append(piece.substr(0, kMaxLine + 1 - line_.size()));
    if (line_.size() > kMaxLine)
        verdict_ = StatusRequest{std::nullopt, "error: the request is longer than " +
                                                   std::to_string(kMaxLine) + " bytes"};
    else if (newline != std::string_view::npos)
        verdict_ = parseStatusRequest(line_);
    return verdict_;
}

StatusRequest StatusRequestReader::end() {
    if (!verdict_) verdict_ = parseStatusRequest(line_);
    return *verdict_;
}

}  // namespace tidewell
