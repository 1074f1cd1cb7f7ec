#pragma once
// Recording fakes of every interface the core sees, for unit tests.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/autorun.h"
#include "platform/error.h"
#include "platform/event_loop.h"
#include "platform/profile_store.h"
#include "platform/shell.h"
#include "platform/system_clock.h"

namespace tidewell::fakes {

// A clock at a fixed local time and a fixed offset from UTC (minutes east). Sets are recorded
// and move `now`.
class FakeClock : public SystemClock {
public:
    SystemTime now{2026, 12, 0, 6, 9, 5, 1, 0};
    int offsetMinutes = 0;
    bool refuse = false;
    std::vector<std::string> sets;  // "date 2026-12-06", "time 09:05:01"

    SystemTime localNow() const override { return now; }
    SystemTime utcNow() const override {
        return shifted(now, -offsetMinutes);
    }
    SystemTime utcToLocal(const SystemTime& utc) const override {
        return shifted(utc, offsetMinutes);
    }
    void setLocalDate(const ZonedTime& t) override {
        record("date", t.local.wYear, t.local.wMonth, t.local.wDay, '-');
        now.wYear = t.local.wYear, now.wMonth = t.local.wMonth, now.wDay = t.local.wDay;
    }
    void setLocalTimeOfDay(const ZonedTime& t) override {
        record("time", t.local.wHour, t.local.wMinute, t.local.wSecond, ':');
        now.wHour = t.local.wHour, now.wMinute = t.local.wMinute, now.wSecond = t.local.wSecond;
        now.wMilliseconds = 0;
    }

    static SystemTime shifted(SystemTime t, int minutes);

private:
    void record(const char* what, int a, int b, int c, char sep);
};

// An in-memory profile: section and key matched without regard to case; writes recorded.
class FakeProfileStore : public ProfileStore {
public:
    std::map<std::string, std::string> values;  // "section/key" lower-cased -> value
    std::vector<std::string> writes;            // "Section/KEY=value", in order
    bool failWrites = false;

    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t size,
                          const std::string&) override {
        auto it = values.find(id(section, key));
        if (it == values.end()) return std::string(defaultValue);
        return it->second.substr(0, size - 1);
    }
    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::string&) override {
        writes.push_back(std::string(section) + "/" + std::string(key) + "=" + std::string(value));
        if (failWrites) return false;
        values[id(section, key)] = std::string(value);
        return true;
    }
    void set(std::string_view section, std::string_view key, std::string_view value) {
        values[id(section, key)] = std::string(value);
    }
    std::optional<std::string> get(std::string_view section, std::string_view key) const {
        auto it = values.find(id(section, key));
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    static std::string id(std::string_view section, std::string_view key) {
        std::string s = std::string(section) + "/" + std::string(key);
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    }
};

// Both lists in one map, "Run\\name" and "RunOnce\\name"; calls are recorded.
class FakeAutoRun : public AutoRun {
public:
    std::map<std::string, AutoRunValue> values;
    std::vector<std::string> calls;  // "write Run\\Tidewell", "remove Run\\Tidewell"
    bool refuse = false;

    static std::string id(AutoRunList list, std::string_view name) {
        return (list == AutoRunList::EveryLogOn ? "Run\\" : "RunOnce\\") + std::string(name);
    }
    bool write(AutoRunList list, std::string_view name, const AutoRunValue& value) override {
        calls.push_back("write " + id(list, name));
        if (refuse) return false;
        values[id(list, name)] = value;
        return true;
    }
    bool remove(AutoRunList list, std::string_view name) override {
        calls.push_back("remove " + id(list, name));
        return !refuse && values.erase(id(list, name)) > 0;
    }
};

class FakeShell : public Shell {
public:
    bool windowShown = true, inTaskbar = true;
    std::vector<std::string> trayCalls;  // "add Set PC Time from GPS", "remove ..."
    TrayIconRecord lastIcon;
    struct Box {
        std::string text, title;
        MsgBoxIcon icon;
    };
    std::vector<Box> boxes;
    std::function<void()> whileBoxOpen;  // runs inside a box, as a modal loop would
    std::string exe = "/opt/tidewell/tidewell";
    int quitCalls = 0;

    void showWindow(bool shown) override { windowShown = shown; }
    void showInTaskbar(bool shown) override { inTaskbar = shown; }
    void addTrayIcon(const TrayIconRecord& icon) override { tray("add", icon); }
    void modifyTrayIcon(const TrayIconRecord& icon) override { tray("modify", icon); }
    void removeTrayIcon(const TrayIconRecord& icon) override { tray("remove", icon); }
    MsgBoxAnswer messageBox(std::string_view text, std::string_view title, MsgBoxIcon icon,
                            MsgBoxButtons) override {
        boxes.push_back({std::string(text), std::string(title), icon});
        if (whileBoxOpen) whileBoxOpen();
        return MsgBoxAnswer::Ok;
    }
    std::string executablePath() const override { return exe; }
    void quit() override { ++quitCalls; }

private:
    void tray(const char* what, const TrayIconRecord& icon) {
        trayCalls.push_back(std::string(what) + " " + icon.tip);
        lastIcon = icon;
    }
};

// A loop driven by hand: a test fires the watches and ticks it wants.
class FakeEventLoop : public EventLoop {
public:
    struct Entry {
        std::string kind;  // "read", "write", "every", "after"
        NativeHandle handle = -1;
        int ms = 0;
        Callback callback;
        bool live = true;
    };
    std::vector<std::shared_ptr<Entry>> entries;
    std::optional<int> quitStatus;

    Token watchReadable(NativeHandle h, Callback c) override { return add("read", h, 0, c); }
    Token watchWritable(NativeHandle h, Callback c) override { return add("write", h, 0, c); }
    Token everyPeriod(int ms, Callback c) override { return add("every", -1, ms, c); }
    Token after(int ms, Callback c) override { return add("after", -1, ms, c); }
    void quit(int status) override { quitStatus = status; }

    // Live entries of a kind (and period), in the order made.
    std::vector<std::shared_ptr<Entry>> live(const std::string& kind, int ms = -1) const {
        std::vector<std::shared_ptr<Entry>> out;
        for (const auto& e : entries)
            if (e->live && e->kind == kind && (ms < 0 || e->ms == ms)) out.push_back(e);
        return out;
    }
    // Runs every live periodic tick of `ms` once, `times` times.
    void tick(int ms, int times = 1) {
        for (int i = 0; i < times; ++i)
            for (const auto& e : live("every", ms)) e->callback();
    }

private:
    struct Held : Registration {
        std::shared_ptr<Entry> entry;
        ~Held() override { entry->live = false; }
    };
    Token add(const char* kind, NativeHandle h, int ms, Callback c) {
        auto entry = std::make_shared<Entry>(Entry{kind, h, ms, std::move(c)});
        entries.push_back(entry);
        auto held = std::make_unique<Held>();
        held->entry = entry;
        return held;
    }
};

class FakeNmeaReceiver : public NmeaReceiver {
public:
    std::vector<std::string> calls;  // "OpenPort 3", "ClosePort", "BaudRate 0"
    bool failOpen = false;
    bool open = false;

    void OpenPort() override {
        calls.push_back("OpenPort " + std::to_string(PortNumber));
        if (failOpen)
            throw Error(2, "COM" + std::to_string(PortNumber) + ": No such file or directory");
        open = true;
        lost = false;
        if (PortStateChanged) PortStateChanged();
    }
    void ClosePort() override {
        calls.push_back("ClosePort");
        lost = false;
        if (!std::exchange(open, false)) return;
        if (PortStateChanged) PortStateChanged();
    }
    bool isOpen() const override { return open; }
    bool deviceLost() const override { return lost; }
    NativeHandle readHandle() const override { return open ? 7 : -1; }
    void handleReadable() override { calls.push_back("read"); }
    ReceptionTally takeTally() override { return std::exchange(tally, {}); }

    // The device unplugged: the port closes by itself.
    void unplug() {
        open = false;
        lost = true;
        if (PortStateChanged) PortStateChanged();
    }
    bool lost = false;
    ReceptionTally tally;
};

class FakeSerialPort : public SerialPort {
public:
    std::vector<std::string> calls;  // "open 3", "close"
    std::vector<std::string> outputs;
    bool failOpen = false;
    bool failWrite = false;
    bool open = false;
    std::uint64_t dropped = 0;

    bool lost = false;

    bool PortOpen() const override { return open; }
    bool deviceLost() const override { return lost; }
    void reopenLost() override {
        if (!lost) return;
        calls.push_back("reopen " + std::to_string(CommPort));
        if (failOpen) throw Error(2, "No such file or directory");
        open = true;
        lost = false;
    }
    void PortOpen(bool value) override {
        lost = false;
        if (value == open) return;
        if (value) {
            calls.push_back("open " + std::to_string(CommPort));
            if (failOpen) throw Error(8002, "Invalid port number");
        } else {
            calls.push_back("close");
        }
        open = value;
    }
    void Output(std::string_view data) override {
        if (failWrite) {
            ++dropped;
            throw Error(5, "Input/output error");
        }
        outputs.emplace_back(data);
    }
    std::uint64_t droppedWrites() const override { return dropped; }
};

class FakeUdpSocket : public UdpSocket {
public:
    struct Sent {
        std::string host;
        int port;
        std::string data;
    };
    std::vector<Sent> sent;
    std::optional<Error> failWith;

    void SendData(std::string_view data) override {
        if (failWith) throw *failWith;
        sent.push_back({RemoteHost, RemotePort, std::string(data)});
    }
};

}  // namespace tidewell::fakes
