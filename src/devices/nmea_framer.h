#pragma once
// Turns the raw byte stream of a GPS port into whole NMEA-0183 sentence lines.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tidewell {

class NmeaFramer {
public:
    // Longest sentence kept, from '$' up to but without the line end. NMEA allows 82 with
    // CR LF; real receivers send up to about 90.
    static constexpr std::size_t kMaxSentence = 120;

    using LineSink = std::function<void(std::string_view line)>;

    // Feeds bytes; each completed line ("$" up to the byte before its end, no CR/LF) goes
    // to `sink` before feed returns. A line is ended by CR or LF, and also by any other
    // byte outside printable ASCII (the bytes before it are still passed on, so the
    // decoder can say why they fail). A '$' inside a line starts a new line and drops the
    // old one; a '!' (encapsulated AIS) drops it and everything up to the next '$'; a line
    // longer than kMaxSentence is dropped up to the next '$'.
    void feed(std::string_view bytes, const LineSink& sink);

    // End of input: passes on the unfinished line, if any (for files).
    void finish(const LineSink& sink);

    // Forgets any unfinished line (after the port was closed and reopened).
    void reset();

    // How much of the unfinished line has come, its '$' included; 0 between lines.
    std::size_t unfinished() const { return inLine_ ? line_.size() : 0; }

private:
    void emit(const LineSink& sink);

    std::string line_;
    bool inLine_ = false;
};

}  // namespace tidewell
