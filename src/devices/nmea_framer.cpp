#include "devices/nmea_framer.h"

namespace tidewell {

namespace {
bool printable(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}
}  // namespace

void NmeaFramer::feed(std::string_view bytes, const LineSink& sink) {
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '$') {
            line_.assign(1, '$');
            inLine_ = true;
            continue;
        }
        if (!inLine_) continue;
        if (c == '!') {
            reset();
        } else if (!printable(c)) {
            emit(sink);
        } else if (line_.size() >= kMaxSentence) {
            reset();
        } else {
            line_.push_back(ch);
        }
    }
}

void NmeaFramer::finish(const LineSink& sink) {
    if (inLine_) emit(sink);
}

void NmeaFramer::reset() {
    line_.clear();
    inLine_ = false;
}

void NmeaFramer::emit(const LineSink& sink) {
    // Moved out first: the sink may reset or feed this framer.
    std::string line = std::move(line_);
    reset();
    if (line.size() > 1) sink(line);
}

}  // namespace tidewell
