#pragma once
// Recording fakes of every interface the core sees, for unit tests.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devices/nmea_receiver.h"
#include "devices/serial_port.h"
#include "devices/udp_socket.h"
#include "platform/autorun.h"
#include "platform/error.h"
#include "platform/profile_store.h"
#include "platform/shell.h"
#include "platform/system_clock.h"

namespace tidewell::fakes {

// A clock at a fixed local time and a fixed offset from UTC (minutes east), unless
// `offsetAt` gives the offset for a UTC instant. Sets are recorded and move `now`.
class FakeClock : public SystemClock {
public:
    SystemTime now{2026, 12, 0, 6, 9, 5, 1, 0};
    int offsetMinutes = 0;
    std::function<int(const SystemTime& utc)> offsetAt;
    bool refuse = false;
    std::vector<std::string> sets;  // "date 2026-12-06", "time 09:05:01"

    SystemTime localNow() const override { return now; }
    SystemTime utcNow() const override {
        return shifted(now, -(offsetAt ? offsetAt(now) : offsetMinutes));
    }
    SystemTime utcToLocal(const SystemTime& utc) const override {
        return shifted(utc, offsetAt ? offsetAt(utc) : offsetMinutes);
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
    std::int32_t exStyle = 0x40100;  // WS_EX_APPWINDOW | WS_EX_WINDOWEDGE
    std::vector<std::pair<std::uint32_t, NotifyIconData>> notifyCalls;
    struct Box {
        std::string text, title;
        MsgBoxStyle style;
    };
    std::vector<Box> boxes;
    std::function<void()> whileBoxOpen;  // runs inside MsgBox, as a nested event loop would
    std::string appPath = "/opt/tidewell";
    std::string exeName = "tidewell";
    int endCalls = 0;

    std::int32_t GetWindowLong(int) override { return exStyle; }
    std::int32_t SetWindowLong(int, std::int32_t value) override {
        auto old = exStyle;
        exStyle = value;
        return old;
    }
    bool Shell_NotifyIcon(std::uint32_t message, const NotifyIconData& record) override {
        notifyCalls.emplace_back(message, record);
        return true;
    }
    std::uint32_t windowHandle() const override { return 0x1234; }
    std::uint32_t iconHandle() const override { return 0x5678; }
    void MsgBox(std::string_view text, std::string_view title, MsgBoxStyle style) override {
        boxes.push_back({std::string(text), std::string(title), style});
        if (whileBoxOpen) whileBoxOpen();
    }
    std::string AppPath() const override { return appPath; }
    std::string EXEName() const override { return exeName; }
    void endProgram() override { ++endCalls; }
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
    }
    void ClosePort() override {
        calls.push_back("ClosePort");
        open = false;
    }
    bool isOpen() const override { return open; }
};

class FakeSerialPort : public SerialPort {
public:
    std::vector<std::string> calls;  // "open 3", "close"
    std::vector<std::string> outputs;
    bool failOpen = false;
    bool failWrite = false;
    bool open = false;
    std::uint64_t dropped = 0;

    bool PortOpen() const override { return open; }
    void PortOpen(bool value) override {
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
