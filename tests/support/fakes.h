#pragma once
// Recording fakes of every interface the core sees, for unit tests.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

#include "devices/nmea_receiver.h"
#include "devices/refclock_socket.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "gps/date_value.h"
#include "platform/autorun.h"
#include "platform/error.h"
#include "platform/event_loop.h"
#include "platform/profile_store.h"
#include "platform/shell.h"
#include "platform/system_clock.h"

namespace tidewell::fakes {

// A clock at a fixed local time, `offsetMinutes` east of UTC. Sets are recorded and move `now`.
class FakeClock : public SystemClock {
public:
    SystemTime now{2026, 12, 0, 6, 9, 5, 1, 0};
    int offsetMinutes = 0;
    bool refuse = false;
    std::vector<std::string> sets;  // "date 2026-12-06", "time 09:05:01", "... refused"

    SystemTime localNow() const override { return now; }
    SystemTime utcNow() const override { return shifted(now, -offsetMinutes); }
    SystemTime utcToLocal(const SystemTime& utc) const override {
        return shifted(utc, offsetMinutes);
    }
    void setLocalDate(const ZonedTime& t) override {
        record("date %04d-%02d-%02d", t.local.wYear, t.local.wMonth, t.local.wDay);
        now.wYear = t.local.wYear, now.wMonth = t.local.wMonth, now.wDay = t.local.wDay;
    }
    // On the target's date, or on the date that puts it nearest `now`.
    void setLocalTimeOfDay(const ZonedTime& t, DateChoice date) override {
        const SystemTime& l = t.local;
        record(l.wMilliseconds ? "time %02d:%02d:%02d.%03d" : "time %02d:%02d:%02d", l.wHour,
               l.wMinute, l.wSecond, l.wMilliseconds);
        Instant at = instantOf(l);
        if (date == DateChoice::Nearest)
            at += std::chrono::round<std::chrono::days>(instantOf(now) - at);
        now = systemTimeAt(at);
    }
    void record(const char* format, int a, int b, int c, int d = 0) {
        char text[40];
        std::snprintf(text, sizeof text, format, a, b, c, d);
        sets.push_back(text + std::string(refuse ? " refused" : ""));
        if (refuse) throw Error(1, "Operation not permitted");
    }
    static SystemTime shifted(SystemTime t, int minutes) {
        return systemTimeAt(instantOf(t) + std::chrono::minutes(minutes));
    }
};

// In-memory settings, section and key matched without regard to case; writes recorded.
class FakeProfileStore : public ProfileStore {
public:
    std::map<std::string, std::string> values;  // "section/key" lower-cased -> value
    std::vector<std::string> writes;            // "Section/KEY=value", in order

    std::string getString(std::string_view section, std::string_view key, std::string_view def,
                          std::size_t size, const std::string&) override {
        return get(section, key).value_or(std::string(def)).substr(0, size - 1);
    }
    std::string failWrites;  // the reason every write fails with, when not empty
    WriteOutcome writeString(std::string_view section, std::string_view key, std::string_view value,
                             const std::string&) override {
        if (!failWrites.empty()) return WriteOutcome::failed(failWrites);
        set(section, key, value);
        writes.push_back(std::string(section) + "/" + std::string(key) + "=" + std::string(value));
        return {};
    }
    void set(std::string_view section, std::string_view key, std::string_view value) {
        values[id(section, key)] = std::string(value);
    }
    std::optional<std::string> get(std::string_view section, std::string_view key) const {
        const auto it = values.find(id(section, key));
        return it == values.end() ? std::nullopt : std::optional(it->second);
    }
    static std::string id(std::string_view section, std::string_view key) {
        std::string s = std::string(section) + "/" + std::string(key);
        for (char& c : s) c = char(std::tolower((unsigned char)c));
        return s;
    }
};

// Both lists in one map, "Run\\name" and "RunOnce\\name".
class FakeAutoRun : public AutoRun {
public:
    std::map<std::string, std::string> values;

    static std::string id(AutoRunList list, std::string_view name) {
        return (list == AutoRunList::EveryLogOn ? "Run\\" : "RunOnce\\") + std::string(name);
    }
    bool launchAtLogOn(AutoRunList list, std::string_view name, const std::string& value) override {
        return values[id(list, name)] = value, true;
    }
    bool remove(AutoRunList list, std::string_view name) override {
        return values.erase(id(list, name)) > 0;
    }
};

// Records message boxes and whether the tray icon shows; the window is the platform tests'.
class FakeShell : public Shell {
public:
    bool trayShown = false;
    std::vector<std::string> boxes;  // "title: text"
    std::vector<MsgBoxIcon> boxIcons;
    std::function<void()> whileBoxOpen;  // runs inside a box, as a modal loop would

    void showWindow(bool) override {}
    void showInTaskbar(bool) override {}
    void addTrayIcon(const TrayIconRecord&) override { trayShown = true; }
    void modifyTrayIcon(const TrayIconRecord&) override {}
    void removeTrayIcon(const TrayIconRecord&) override { trayShown = false; }
    MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                            MsgBoxButtons) override {
        boxes.push_back(std::string(title) + ": " + std::string(text)), boxIcons.push_back(icon);
        if (whileBoxOpen) whileBoxOpen();
        return MsgBoxAnswer::Ok;
    }
    void quit() override {}
};

// A loop driven by hand: a test fires the watches and ticks it wants.
class FakeEventLoop : public EventLoop {
public:
    struct Entry {
        std::string kind;  // "read", "write", "every", "after"
        int ms = 0;
        Callback callback;
        bool live = true;
    };
    std::vector<std::shared_ptr<Entry>> entries;
    std::optional<int> quitStatus;

    Token watchReadable(NativeHandle, Callback c) override { return add("read", 0, c); }
    Token watchWritable(NativeHandle, Callback c) override { return add("write", 0, c); }
    Token everyPeriod(int ms, Callback c) override { return add("every", ms, c); }
    Token after(int ms, Callback c) override { return add("after", ms, c); }
    void quit(int status) override { quitStatus = status; }

    // Live entries of a kind (and period), in the order made.
    std::vector<std::shared_ptr<Entry>> live(const std::string& kind, int ms = -1) const {
        std::vector<std::shared_ptr<Entry>> out;
        for (const auto& e : entries)
            if (e->live && e->kind == kind && (ms < 0 || e->ms == ms)) out.push_back(e);
        return out;
    }
    void tick(int ms, int times = 1) {
        for (int i = 0; i < times; ++i)
            for (const auto& e : live("every", ms)) e->callback();
    }

    struct Held : Registration {
        explicit Held(std::shared_ptr<Entry> e) : entry(std::move(e)) {}
        ~Held() override { entry->live = false; }
        std::shared_ptr<Entry> entry;
    };
    Token add(const char* kind, int ms, Callback c) {
        entries.push_back(std::make_shared<Entry>(Entry{kind, ms, std::move(c)}));
        return std::make_unique<Held>(entries.back());
    }
};

class FakeNmeaReceiver : public NmeaReceiver {
public:
    std::vector<std::string> calls;  // "OpenPort 3", "ClosePort"
    bool failOpen = false, open = false, lost = false;
    Error openError{2, "No such file or directory"};
    ReceptionTally tally;

    void OpenPort() override {
        calls.push_back("OpenPort " + std::to_string(PortNumber));
        if (failOpen) throw openError;
        open = true, lost = false;
        if (PortStateChanged) PortStateChanged();
    }
    void ClosePort() override {
        calls.push_back("ClosePort"), lost = false;
        if (std::exchange(open, false) && PortStateChanged) PortStateChanged();
    }
    bool isOpen() const override { return open; }
    bool deviceLost() const override { return lost; }
    NativeHandle readHandle() const override { return open ? 7 : -1; }
    void handleReadable() override {}
    ReceptionTally takeTally() override { return std::exchange(tally, {}); }
    // The device unplugged: the port closes by itself.
    void unplug() {
        open = false, lost = true;
        if (PortStateChanged) PortStateChanged();
    }
};

class FakeSerialPort : public SerialPort {
public:
    std::vector<std::string> calls;  // "open 3", "close"
    std::vector<std::string> outputs;
    bool failOpen = false, failWrite = false, open = false, lost = false;
    std::uint64_t dropped = 0;

    bool PortOpen() const override { return open; }
    bool deviceLost() const override { return lost; }
    void reopenLost() override {
        if (lost) open = true, lost = false;
    }
    void PortOpen(bool value) override {
        lost = false;
        if (value != open) calls.push_back(value ? "open " + std::to_string(CommPort) : "close");
        if (value && !open && failOpen) throw Error(8002, "Invalid port number");
        open = value;
    }
    void Output(std::string_view data) override {
        if (failWrite) ++dropped, throw Error(5, "Input/output error");
        outputs.emplace_back(data);
    }
    std::uint64_t droppedWrites() const override { return dropped; }
};

class FakeUdpSocket : public UdpSocket {
public:
    std::vector<std::string> sent;  // "host: frame"
    std::optional<Error> failWith;

    void SendData(std::string_view data) override {
        if (failWith) throw *failWith;
        sent.push_back(RemoteHost + ": " + std::string(data));
    }
};

class FakeRefclockSocket : public RefclockSocket {
public:
    std::vector<RefclockSample> sent;
    std::optional<Error> failWith;
    int checks = 0;

    void check() override {
        ++checks;
        if (failWith) throw *failWith;
    }
    void send(const RefclockSample& sample) override {
        if (failWith) throw *failWith;
        sent.push_back(sample);
    }
};

}  // namespace tidewell::fakes
