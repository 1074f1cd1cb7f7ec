#include "app/status.h"

#include <algorithm>
#include <cstdio>

#include "app/json_text.h"
#include "app/orvane_set_time.h"
#include "devices/port_names.h"
#include "gps/receiver_phase.h"

namespace tidewell {

namespace {

// A sentence this recent makes the receiver's state "valid".
constexpr double kValidNowSeconds = 5;

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

std::string twoDigits(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

std::string duration(double seconds) {
    const auto s = static_cast<long long>(seconds);
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    if (s < 86400) return std::to_string(s / 3600) + " h " + twoDigits(int(s / 60 % 60)) + " min";
    return std::to_string(s / 86400) + " d " + std::to_string(s / 3600 % 24) + " h";
}

std::string ago(double seconds) {
    return (seconds < 10 ? fixedNumber(seconds, 1) + " s" : duration(seconds)) + " ago";
}

std::string dateTime(int y, int mo, int d, int h, int mi, int s) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}

const char* clockModeName(ClockMode mode) {
    switch (mode) {
    case ClockMode::WholeSecond:
        return "whole_second";
    case ClockMode::Precise:
        return "precise";
    case ClockMode::Never:
        return "never";
    case ClockMode::Chrony:
        return "chrony";
    }
    return "";
}

const char* receptionName(StatusReport::Reception r) {
    switch (r) {
    case StatusReport::Reception::Closed:
        return "closed";
    case StatusReport::Reception::NoData:
        return "no_data";
    case StatusReport::Reception::NoValidTime:
        return "no_valid_time";
    case StatusReport::Reception::Valid:
        return "valid";
    }
    return "";
}

}  // namespace

SentenceCounts& SentenceCounts::operator+=(const SentenceCounts& o) {
    valid += o.valid, statusV += o.statusV, checksum += o.checksum, other += o.other;
    return *this;
}

SentenceCounts countsOf(const ReceptionTally& tally) {
    SentenceCounts c;
    c.valid = tally.times;
    for (const auto& [reason, count] : tally.rejected) {
        if (reason == "status V")
            c.statusV += count;
        else if (reason.find("checksum") != std::string::npos)
            c.checksum += count;
        else
            c.other += count;
    }
    return c;
}

StatusRecorder::StatusRecorder(const PortMap& ports, bool dryRun,
                               std::function<Steady::time_point()> steadyNow,
                               std::function<Wall::time_point()> wallNow)
    : ports_(ports), dryRun_(dryRun),
      steadyNow_(steadyNow ? std::move(steadyNow) : [] { return Steady::now(); }),
      wallNow_(wallNow ? std::move(wallNow) : [] { return Wall::now(); }), started_(steadyNow_()) {}

void StatusRecorder::loaded(const OrvaneSetTime& window, const std::string&, const std::string&) {
    window_ = &window;
}

void StatusRecorder::portChanged(PortRole role, PortChange change, const std::string&,
                                 const std::string& reason) {
    (role == PortRole::Gps ? gpsProblem_ : serialProblem_) =
        change == PortChange::Refused ? reason : std::string();
}

void StatusRecorder::lineSpeed(int baud, bool automatic, bool found) {
    baud_ = baud, baudAuto_ = automatic, baudFound_ = found;
}

void StatusRecorder::sentenceReceived(const NmeaSentence& sentence) {
    if (!sentence.utc) return;
    const auto now = steadyNow_();
    lastValid_ = now;
    // A sentence out of a backlog says nothing of the receiver's timing.
    if (!sentence.fresh || sentence.arrived == Steady::time_point{}) return;
    phases_.emplace_back(now,
                         firstByteDelaySeconds(*sentence.utc, sentence.arrived, wallNow_(), now));
    forget(now);
}

void StatusRecorder::receptionTallied(const ReceptionTally& tally) {
    total_ += countsOf(tally);
    const auto now = steadyNow_();
    seconds_.emplace_back(now, tally);
    forget(now);
}

void StatusRecorder::forget(Steady::time_point now) const {
    const auto old = [&](const auto& entry) { return now - entry.first > kValidTimeWithin; };
    while (!seconds_.empty() && old(seconds_.front())) seconds_.pop_front();
    while (!phases_.empty() && old(phases_.front())) phases_.pop_front();
}

void StatusRecorder::clockMode(ClockMode mode, std::chrono::milliseconds delay) {
    clockMode_ = mode, delayMs_ = int(delay.count());
}

void StatusRecorder::clockSet(const ClockUpdate::Outcome& outcome, DateValue local) {
    std::string when;
    if (const auto& t = outcome.setTo) {
        char ms[8];
        std::snprintf(ms, sizeof ms, ".%03d", t->wMilliseconds);
        when = dateTime(t->wYear, t->wMonth, t->wDay, t->wHour, t->wMinute, t->wSecond) + ms;
    } else {
        const DateParts p = datePartsOf(local);
        when = dateTime(p.year, p.month, p.day, p.hour, p.minute, p.second);
    }
    ++clockSets_, lastRefused_ = false;
    lastSet_ = Note{steadyNow_(), (outcome.dateSet ? "date and time " : "time ") + when};
    lastOffset_.reset();
    if (outcome.wasAhead) lastOffset_ = double(outcome.wasAhead->count()) / 1000;
}

void StatusRecorder::clockRefused(const Error& e, DateValue) {
    ++clockRefusals_, lastRefused_ = true;
    lastRefusal_ = Note{steadyNow_(), e.description()};
}

void StatusRecorder::refclockFailed(const Error& e) {
    refclockError_ = Note{steadyNow_(), e.description()};
}

void StatusRecorder::frameSent(Output output, const std::string&) {
    Sent& s = output == Output::Serial ? serial_ : udp_;
    ++s.sent, s.lastOneFailed = false;
}

void StatusRecorder::frameFailed(Output output, const Error& e) {
    Sent& s = output == Output::Serial ? serial_ : udp_;
    ++s.failed, s.lastFailed = steadyNow_(), s.lastOneFailed = true;
    s.error = std::to_string(e.number()) + " " + e.description();
}

void StatusRecorder::settingSaved(const std::string&) {
    anyWrite_ = true;
    writeFailure_.reset();
}

void StatusRecorder::settingsNotSaved(const std::string&, const std::string& reason) {
    anyWrite_ = true;
    writeFailure_ = Note{steadyNow_(), reason};
}

void StatusRecorder::loopPriority(const std::string& text, bool realTime) {
    const std::string prefix = "priority: ";
    priority_ = text.starts_with(prefix) ? text.substr(prefix.size()) : text;
    realTime_ = realTime;
}

double StatusRecorder::ageOf(Steady::time_point at) const {
    return std::chrono::duration<double>(steadyNow_() - at).count();
}

std::optional<StatusNote> StatusRecorder::note(const std::optional<Note>& n) const {
    if (!n) return std::nullopt;
    return StatusNote{ageOf(n->at), n->text};
}

OutputStatus StatusRecorder::output(const Sent& sent, bool on, bool ready, std::string where,
                                    std::string rate) const {
    OutputStatus o;
    o.on = on, o.ready = ready, o.where = std::move(where), o.rate = std::move(rate);
    o.sent = sent.sent, o.failed = sent.failed;
    if (sent.lastFailed) o.lastError = StatusNote{ageOf(*sent.lastFailed), sent.error};
    o.failing = on && (!ready || sent.lastOneFailed);
    return o;
}

void StatusRecorder::describeReception(StatusReport& r) const {
    using R = StatusReport::Reception;
    if (!r.gpsOpen) {
        r.reception = R::Closed;
        r.receptionText = r.gpsPort == "None"    ? "no GPS port chosen"
                          : r.gpsProblem.empty() ? "port closed"
                                                 : "port closed: " + r.gpsProblem;
        return;
    }
    if (r.lastValidAge && *r.lastValidAge <= kValidNowSeconds) {
        r.reception = R::Valid, r.receptionText = "valid";
        return;
    }
    ReceptionTally minute;
    for (const auto& [at, tally] : seconds_) minute += tally;
    const auto top =
        std::max_element(minute.rejected.begin(), minute.rejected.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    r.reception = R::NoValidTime;
    if (top != minute.rejected.end())
        r.receptionText = top->first == "status V" ? "no valid fix (status V)"
                                                   : "no valid time (" + top->first + ")";
    else if (minute.bytes > 0)
        r.receptionText = minute.sentences == 0
                              ? "no valid time (bytes but no sentence: line speed?)"
                              : "no valid time (no RMC sentence)";
    else
        r.reception = R::NoData, r.receptionText = "no data";
}

StatusReport StatusRecorder::report() const {
    const auto now = steadyNow_();
    forget(now);
    StatusReport r;
    r.version = std::to_string(TIDEWELL_VERSION_MAJOR) + "." +
                std::to_string(TIDEWELL_VERSION_MINOR) + "." +
                std::to_string(TIDEWELL_VERSION_REVISION);
    r.uptimeSeconds = ageOf(started_);
    r.priority = priority_, r.realTime = realTime_;
    r.dryRun = dryRun_;

    if (window_) {
        const OrvaneSetTime& w = *window_;
        const int gps = w.NMEA1.PortNumber;
        r.gpsPort = w.gpsPortWanted() ? portLabel(gps, ports_(gps)) : "None";
        r.gpsOpen = w.NMEA1.isOpen();
        const int com = w.MSComm1.CommPort;
        const bool serialWanted = w.serialSyncPortWanted();
        r.serial = output(serial_, w.serialSyncOn(), !serialWanted || w.MSComm1.PortOpen(),
                          serialWanted ? portLabel(com, ports_(com)) : "None", w.serialRate());
        if (!serialWanted && r.serial.on) r.serial.ready = false, r.serial.failing = false;
        if (r.serial.on && serialWanted && !w.MSComm1.PortOpen() && !serialProblem_.empty())
            r.serial.lastError = StatusNote{0, "port closed: " + serialProblem_};
        r.udp = output(udp_, w.udpSyncOn(), true,
                       w.UDPBroadcast.RemoteHost + ":" + std::to_string(w.UDPBroadcast.RemotePort),
                       w.udpRate());
        r.settingsFile = w.settingsFile();
    }
    r.gpsProblem = r.gpsOpen ? "" : gpsProblem_;
    r.baud = baud_, r.baudAuto = baudAuto_, r.baudFound = baudFound_;
    if (lastValid_) r.lastValidAge = ageOf(*lastValid_);
    for (const auto& [at, tally] : seconds_) r.lastMinute += countsOf(tally);
    r.total = total_;
    describeReception(r);
    if (!phases_.empty()) {
        std::vector<double> delays;
        for (const auto& [at, delay] : phases_) delays.push_back(delay);
        r.phaseCount = delays.size();
        r.phase = upperMedian(delays);
    }

    r.clockMode = clockMode_, r.delayMs = delayMs_;
    r.clockSets = clockSets_, r.clockRefusals = clockRefusals_;
    r.lastSet = note(lastSet_), r.lastOffset = lastOffset_;
    r.lastRefusal = note(lastRefusal_);
    if (clockMode_ == ClockMode::Chrony && window_) r.refclockPath = window_->refclock().path();
    r.refclockSamples = refclockSamples_;
    r.refclockError = note(refclockError_);

    r.lastWriteFailure = note(writeFailure_);
    r.anyWrite = anyWrite_;

    const double withoutTime = r.lastValidAge.value_or(r.uptimeSeconds);
    if (withoutTime > double(kValidTimeWithin.count()))
        r.problems.push_back("no valid time for " + duration(withoutTime) + " (" + r.receptionText +
                             ")");
    if (clockMode_ != ClockMode::Never && lastRefused_)
        r.problems.push_back("clock refused: " + lastRefusal_->text);
    if (clockMode_ == ClockMode::Chrony && refclockError_)
        r.problems.push_back("chrony not reached: " + refclockError_->text);
    for (const auto& [name, o] : {std::pair("serial sync", &r.serial), {"udp sync", &r.udp}})
        if (o->failing)
            r.problems.push_back(std::string(name) + " failing: " +
                                 (o->lastError ? o->lastError->text : "port closed"));
    return r;
}

// ---- Text -----------------------------------------------------------------------------

namespace {

void row(std::string& out, const char* label, const std::string& text) {
    std::string padded = label;
    padded.resize(std::max<std::size_t>(padded.size() + 1, 14), ' ');
    out += padded + text + "\n";
}

std::string outputLine(const OutputStatus& o, const char* toWhere) {
    if (!o.on) return "off";
    std::string text = std::string("on, ") + toWhere + o.where;
    if (!o.ready) text += " (not open)";
    text += ", " + o.rate + "; " + number(o.sent) + " frames sent, " + number(o.failed) + " failed";
    if (o.lastError)
        text += o.lastError->ageSeconds > 0
                    ? "; last error " + ago(o.lastError->ageSeconds) + ": " + o.lastError->text
                    : "; " + o.lastError->text;
    return text;
}

std::string clockModeText(const StatusReport& r) {
    std::string text;
    switch (r.clockMode) {
    case ClockMode::WholeSecond:
        text = "set once a minute, whole second + 1 s advance";
        break;
    case ClockMode::Precise:
        text = "set once a minute to the millisecond (PRECISE=1, DELAYMS=" +
               std::to_string(r.delayMs) + ")";
        break;
    case ClockMode::Never:
        return "never set (SETCLOCK=0)";
    case ClockMode::Chrony:
        text = "handed to chrony";
        break;
    }
    return r.dryRun ? text + " (--no-set-clock: never changed)" : text;
}

}  // namespace

std::string statusText(const StatusReport& r) {
    std::string out = "tidewell: ";
    if (r.working()) {
        out += "ok\n";
    } else {
        out += "degraded: ";
        for (std::size_t i = 0; i < r.problems.size(); ++i) out += (i ? "; " : "") + r.problems[i];
        out += "\n";
    }
    std::string receiver = r.gpsPort;
    if (r.gpsPort != "None") {
        receiver += r.gpsOpen ? ", open" : ", closed";
        if (r.baud > 0)
            receiver += ", " + std::to_string(r.baud) + " baud" +
                        (!r.baudAuto   ? ""
                         : r.baudFound ? " (found by BAUD=auto)"
                                       : " (BAUD=auto, still searching)");
    }
    row(out, "receiver:", receiver);
    row(out, "  state:",
        r.receptionText + "; last valid sentence " +
            (r.lastValidAge ? ago(*r.lastValidAge) : std::string("never")));
    const auto& m = r.lastMinute;
    row(out, "  last min:",
        number(m.valid) + " valid, " + number(m.statusV) + " status V, " + number(m.checksum) +
            " checksum, " + number(m.other) + " other rejects");
    row(out, "  phase:",
        r.phase ? "RMC first byte " + fixedNumber(*r.phase, 3) + " s after its second (median of " +
                      std::to_string(r.phaseCount) + ")"
                : std::string("no RMC in the last minute"));
    row(out, "clock:", clockModeText(r));
    if (r.clockMode == ClockMode::Chrony) {
        row(out, "  samples:",
            number(r.refclockSamples) + " sent to " + r.refclockPath +
                (r.refclockError ? "; not reached " + ago(r.refclockError->ageSeconds) + ": " +
                                       r.refclockError->text
                                 : std::string()));
    } else if (r.clockMode != ClockMode::Never) {
        std::string last = "never";
        if (r.lastSet) {
            last = (r.dryRun ? "would set " : "set ") + r.lastSet->text + ", " +
                   ago(r.lastSet->ageSeconds);
            if (r.lastOffset) {
                const std::string was = fixedNumber(*r.lastOffset, 3);
                last += "; the PC was " + (*r.lastOffset >= 0 ? "+" + was : was) + " s off";
            }
        }
        row(out, "  last set:", last);
        row(out, "  refused:",
            r.clockRefusals == 0
                ? std::string("never")
                : number(r.clockRefusals) + (r.clockRefusals == 1 ? " time" : " times") +
                      ", last " + ago(r.lastRefusal->ageSeconds) + ": " + r.lastRefusal->text);
    }
    row(out, "serial sync:", outputLine(r.serial, ""));
    row(out, "udp sync:", outputLine(r.udp, "to "));
    row(out, "settings:",
        r.settingsFile + "; " +
            (r.lastWriteFailure ? "the last write failed " + ago(r.lastWriteFailure->ageSeconds) +
                                      ": " + r.lastWriteFailure->text
             : r.anyWrite ? "the last write succeeded"
                          : "not written since start"));
    row(out, "program:",
        "Tidewell " + r.version + ", up " + duration(r.uptimeSeconds) + ", priority " + r.priority);
    return out;
}

// ---- JSON -----------------------------------------------------------------------------

namespace {

JsonObject counts(const SentenceCounts& c) {
    return JsonObject()
        .add("valid", c.valid)
        .add("status_v", c.statusV)
        .add("checksum", c.checksum)
        .add("other", c.other);
}

JsonObject noteJson(const StatusNote& n, const char* what) {
    return JsonObject().add("age_seconds", n.ageSeconds, 1).add(what, n.text);
}

JsonObject outputJson(const OutputStatus& o, const char* whereName) {
    JsonObject j;
    j.add("on", o.on).add(whereName, o.where).add("ready", o.ready).add("rate", o.rate);
    j.add("frames_sent", o.sent).add("frames_failed", o.failed).add("failing", o.failing);
    if (o.lastError)
        j.add("last_error", noteJson(*o.lastError, "error"));
    else
        j.null("last_error");
    return j;
}

}  // namespace

std::string statusJson(const StatusReport& r) {
    JsonObject receiver;
    receiver.add("port", r.gpsPort).add("open", r.gpsOpen);
    receiver.add("port_problem", r.gpsProblem);
    receiver.add("baud", r.baud).add("baud_auto", r.baudAuto).add("baud_found", r.baudFound);
    receiver.add("state", receptionName(r.reception)).add("state_text", r.receptionText);
    receiver.add("last_valid_age_seconds", r.lastValidAge, 1);
    receiver.add("last_minute", counts(r.lastMinute)).add("sentences_total", counts(r.total));
    receiver.add("phase_seconds", r.phase, 3).add("phase_samples", std::uint64_t(r.phaseCount));

    JsonObject clock;
    clock.add("mode", clockModeName(r.clockMode)).add("delay_ms", r.delayMs);
    clock.add("dry_run", r.dryRun).add("updates_set", r.clockSets);
    clock.add("updates_refused", r.clockRefusals);
    if (r.lastSet)
        clock.add("last_set", noteJson(*r.lastSet, "set"));
    else
        clock.null("last_set");
    clock.add("last_offset_seconds", r.lastOffset, 3);
    if (r.lastRefusal)
        clock.add("last_refusal", noteJson(*r.lastRefusal, "reason"));
    else
        clock.null("last_refusal");

    if (r.clockMode == ClockMode::Chrony) {
        clock.add("refclock_socket", r.refclockPath).add("refclock_samples", r.refclockSamples);
        if (r.refclockError)
            clock.add("refclock_error", noteJson(*r.refclockError, "reason"));
        else
            clock.null("refclock_error");
    }

    JsonObject settings;
    settings.add("file", r.settingsFile)
        .add("last_write", r.lastWriteFailure ? "failed"
                           : r.anyWrite       ? "ok"
                                              : "none");
    if (r.lastWriteFailure)
        settings.add("last_write_failure", noteJson(*r.lastWriteFailure, "reason"));

    JsonObject out;
    out.add("health", r.working() ? "ok" : "degraded").add("problems", r.problems);
    out.add("receiver", receiver).add("clock", clock);
    out.add("outputs", JsonObject()
                           .add("serial", outputJson(r.serial, "port"))
                           .add("udp", outputJson(r.udp, "destination")));
    out.add("settings", settings);
    out.add("version", r.version).add("uptime_seconds", r.uptimeSeconds, 0);
    out.add("priority", r.priority).add("real_time", r.realTime);
    return out.text() + "\n";
}

std::string answerStatusRequest(const StatusRequest& request, const StatusRecorder& status,
                                const std::function<std::string()>& history,
                                const std::function<bool()>& show) {
    if (!request.kind) return request.error + "\n";
    switch (*request.kind) {
    case StatusRequest::Kind::Status:
        return statusText(status.report());
    case StatusRequest::Kind::StatusJson:
        return statusJson(status.report());
    case StatusRequest::Kind::History:
        return history ? history() : "error: no history kept\n";
    case StatusRequest::Kind::Show:
        return show && show() ? "ok: the window is shown\n" : "error: no window to show\n";
    }
    return {};
}

}  // namespace tidewell
