// The scan's devices on Windows: the COM ports the serial drivers list in the registry.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "devices/nmea_receiver.h"
#include "platform/text_win32.h"
#include "port_scan.h"

namespace tidewell::scan {

namespace {

// "COM3" from "COM3", "com3" or "\\.\COM3"; empty for anything else.
std::string comName(std::string text) {
    if (text.starts_with("\\\\.\\")) text.erase(0, 4);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (text.size() < 4 || !text.starts_with("COM") ||
        text.find_first_not_of("0123456789", 3) != std::string::npos || text[3] == '0')
        return {};
    return text;
}

int comNumber(const std::string& name) {
    return std::atoi(name.c_str() + 3);
}

Device deviceFor(const std::string& name, const std::string& aside) {
    return {"\\\\.\\" + name, name, aside};
}

}  // namespace

std::unique_ptr<PortNmeaReceiver> makeReceiver(const std::string& path, const DateWindow& dates) {
    return std::make_unique<PortNmeaReceiver>([path](int) { return path; }, dates);
}

bool waitForInput(const NmeaReceiver& receiver, std::chrono::milliseconds wait) {
    const auto event = reinterpret_cast<HANDLE>(receiver.readHandle());
    return ::WaitForSingleObject(event, static_cast<DWORD>(wait.count())) == WAIT_OBJECT_0;
}

// Each value of SERIALCOMM is one port: the driver's device ("\Device\Serial0") naming "COM1".
std::vector<Device> serialDevices() {
    std::vector<Device> devices;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return devices;
    std::set<std::string> seen;
    for (DWORD i = 0;; ++i) {
        wchar_t driver[256], port[64];
        DWORD driverSize = 256, portSize = sizeof port, type = 0;
        const LONG rc = ::RegEnumValueW(key, i, driver, &driverSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(port), &portSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
        port[std::min<std::size_t>(portSize / sizeof(wchar_t), 63)] = L'\0';
        const std::string name = comName(win32::utf8(port));
        if (!name.empty() && seen.insert(name).second)
            devices.push_back(deviceFor(name, win32::utf8(driver)));
    }
    ::RegCloseKey(key);
    std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
        return comNumber(a.name) < comNumber(b.name);
    });
    return devices;
}

std::vector<Device> namedDevices(const std::vector<std::string>& names) {
    std::vector<Device> devices;
    std::set<std::string> seen;
    for (const auto& given : names) {
        const std::string name = comName(given);
        if (name.empty())
            devices.push_back({given, given, ""});
        else if (seen.insert(name).second)
            devices.push_back(deviceFor(name, ""));
    }
    return devices;
}

std::string leaveAlone(const Device&) {
    return {};
}

std::string openFailure(const Device&, int systemNumber, const std::string& words) {
    switch (systemNumber) {
    case ERROR_BUSY:
        return "busy: another program has it open (a COM port opens for one program at a time)";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
        return "no such device";
    case ERROR_NOT_SUPPORTED:
        return "not a serial device";
    default:
        break;
    }
    const auto colon = words.rfind(": ");
    return "cannot open it: " + (colon == std::string::npos ? words : words.substr(colon + 2));
}

// The program's port list holds COM1 ... COM8; a higher port is reached through [Ports].
std::string advice(const std::vector<std::pair<Device, Verdict>>& receivers) {
    if (receivers.empty()) return "\nNo GPS receiver found.\n";
    const auto& [device, verdict] = receivers.front();
    const bool listed = comNumber(device.name) <= 8;
    std::string text = "\nChoose " + (listed ? device.name : std::string("COM1")) +
                       " as the GPS port";
    std::string ports = listed ? "" : "COM1=" + device.path + "\n";
    if (verdict.baud != 4800) ports += "BAUD=" + std::to_string(verdict.baud) + "\n";
    if (ports.empty()) return text + ".\n";
    return text + ", with these lines in Tidewell.ini:\n[Ports]\n" + ports;
}

}  // namespace tidewell::scan
