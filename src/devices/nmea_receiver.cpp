#include "devices/nmea_receiver.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "devices/port_names.h"
#include "platform/error.h"

namespace tidewell {

int NmeaReceiver::openingSpeed(const std::string& port) {
    hunt_.reset();
    const std::string text = BaudRate != 0      ? std::to_string(BaudRate)
                             : lineSpeedSetting ? lineSpeedSetting()
                                                : std::string();
    const auto setting = parseLineSpeed(text);
    if (!setting)
        throw Error(errors::InvalidPropertyValue, port + ": unsupported baud rate " + text);
    if (setting->automatic) hunt_.emplace();
    return lineBaud_ = setting->baud;
}

void NmeaReceiver::frame(std::string_view bytes, std::chrono::steady_clock::time_point readAt,
                         std::vector<TimedLine>& lines) {
    const auto sink = [&](std::string_view line) {
        lines.push_back({std::string(line), lineStart_});
    };
    const auto charTime = this->charTime();
    // A line holds no '$' but its first, so every line ended within a piece fed here began
    // at the '$' the piece starts with, or before it.
    std::size_t from = 0;
    for (std::size_t at = bytes.find('$'); at != std::string_view::npos;
         at = bytes.find('$', at + 1)) {
        framer_.feed(bytes.substr(from, at - from), sink);
        lineStart_ = readAt - charTime * static_cast<long long>(bytes.size() - 1 - at);
        from = at;
    }
    framer_.feed(bytes.substr(from), sink);
}

std::chrono::nanoseconds NmeaReceiver::restOfLine() const {
    // NMEA's longest sentence is 82 bytes with its CR LF; past that, the longest kept. One
    // byte more, so the line end is surely in.
    constexpr std::size_t kLongest = 82, kLongestKept = NmeaFramer::kMaxSentence + 2;
    const std::size_t come = framer_.unfinished();
    if (come == 0) return {};
    const std::size_t longest = come + 2 <= kLongest ? kLongest : kLongestKept;
    return charTime() * static_cast<long long>(longest - std::min(come, longest) + 1);
}

std::chrono::nanoseconds NmeaReceiver::charTime() const {
    return std::chrono::nanoseconds(10'000'000'000LL / lineBaud_);
}

bool NmeaReceiver::huntStep(const std::vector<TimedLine>& lines) {
    if (!hunt_ || hunt_->found()) return false;
    const auto good = std::count_if(lines.begin(), lines.end(), [](const TimedLine& line) {
        return checksumMatches(line.text);
    });
    switch (hunt_->input(SpeedHunt::Clock::now(), static_cast<int>(good))) {
    case SpeedHunt::Step::Found:
        if (SpeedFound) SpeedFound(hunt_->speed());
        return false;
    case SpeedHunt::Step::Next:
        lineBaud_ = hunt_->speed();
        return true;
    case SpeedHunt::Step::Stay:
        return false;
    }
    return false;
}

PortNmeaReceiver::PortNmeaReceiver(std::function<std::string(int)> devicePath, DateWindow dates)
    : devicePath_(std::move(devicePath)), dates_(dates) {}

void PortNmeaReceiver::OpenPort() {
    const bool wasLost = deviceLost_;
    try {
        ClosePort();
        const std::string port = "COM" + std::to_string(PortNumber);
        const std::string path =
            PortNumber > 0 && devicePath_ ? devicePath_(PortNumber) : std::string();
        if (path.empty()) throw Error(errors::InvalidPropertyValue, port + ": no such port");
        const int baud = openingSpeed(port);
        line_.open(path, portLabel(PortNumber, path), baud, SerialLine::Use::Receive);
    } catch (...) {
        deviceLost_ = wasLost;
        throw;
    }
    framer_.reset();
    freshness_.reset();
    tally_ = {};
    paced_ = true, lastRead_ = {};
    ++generation_;
    if (PortStateChanged) PortStateChanged();
}

void PortNmeaReceiver::ClosePort() {
    close(false);
}

// Lost before the event, so its handler can tell an unplug from a close.
void PortNmeaReceiver::close(bool lost) {
    deviceLost_ = lost && isOpen();
    if (!isOpen()) return;
    line_.close();
    framer_.reset();
    ++generation_;
    if (PortStateChanged) PortStateChanged();
}

void PortNmeaReceiver::handleReadable() {
    std::vector<TimedLine> lines;
    std::size_t bytesRead = 0;
    auto readAt = std::chrono::steady_clock::now();
    const auto outcome = line_.readWaiting([&](std::string_view bytes) {
        tally_.bytes += bytes.size();
        bytesRead += bytes.size();
        readAt = std::chrono::steady_clock::now();
        frame(bytes, readAt, lines);
    });
    lastReadBrought_ = bytesRead > 0;
    if (outcome == SerialLine::ReadOutcome::Nothing) return;
    judgePace(bytesRead, readAt);
    const bool gone = outcome == SerialLine::ReadOutcome::Gone;
    // Bytes already waiting came at the old speed; they fail their checksums like any noise.
    if (!gone && huntStep(lines)) {
        line_.setSpeed(hunt_->speed());
        paced_ = true, lastRead_ = {};
    }
    deliver(lines, gone);
}

void PortNmeaReceiver::judgePace(std::size_t bytes, std::chrono::steady_clock::time_point now) {
    // What a UART's FIFO and the driver may hold back and hand over together.
    constexpr long long kHeldBack = 32;
    if (bytes == 0) return;
    const auto previous = std::exchange(lastRead_, now);
    if (previous != std::chrono::steady_clock::time_point{} &&
        static_cast<long long>(bytes) > (now - previous) / charTime() + kHeldBack)
        paced_ = false;
}

void PortNmeaReceiver::deliver(const std::vector<TimedLine>& lines, bool gone) {
    std::vector<NmeaDecodeResult> results;
    std::vector<NmeaSentence*> sentences;
    results.reserve(lines.size());
    for (const auto& line : lines) {
        results.push_back(decodeNmeaSentence(line.text, dates_));
        tally_.add(results.back());
        if (auto& sentence = results.back().sentence) sentence->arrived = line.firstByte;
    }
    for (auto& result : results)
        if (result.sentence) sentences.push_back(&*result.sentence);
    const std::uint64_t late = freshness_.judge(sentences);

    const auto generation = generation_;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& result = results[i];
        if (result.sentence) {
            if (late > 0 && result.sentence->fresh && SentencesLate) SentencesLate(late);
            if (SentenceReceived) SentenceReceived(*result.sentence);
        } else if (SentenceRejected) {
            SentenceRejected(lines[i].text, result);
        }
        if (generation_ != generation) return;
    }
    if (gone) close(true);
}

}  // namespace tidewell
