// Stands in for schtasks.exe in the window test's Wine prefix, whose own schtasks keeps no
// trigger, user or command of a task: appends its arguments and, after /XML, that file's text
// to the file TIDEWELL_SCHTASKS_LOG names, and succeeds.
#include <windows.h>

#include <fstream>
#include <iterator>
#include <shellapi.h>

#include "platform/text_win32.h"

int main() {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    wchar_t log[MAX_PATH];
    if (!::GetEnvironmentVariableW(L"TIDEWELL_SCHTASKS_LOG", log, MAX_PATH)) return 1;
    std::ofstream out(log, std::ios::app | std::ios::binary);
    for (int i = 1; i < count; ++i) out << (i > 1 ? " " : "") << tidewell::win32::utf8(args[i]);
    out << "\n";
    for (int i = 1; i + 1 < count; ++i) {
        if (::lstrcmpiW(args[i], L"/XML") != 0) continue;
        std::ifstream xml(args[i + 1], std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(xml), {}};
        // Task Scheduler takes the definition as UTF-16 with its byte-order mark.
        if (!bytes.starts_with("\xff\xfe")) return out << "not UTF-16\n", 1;
        out << tidewell::win32::utf8(std::wstring_view(
            reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2));
    }
    return 0;
}
