// The settings file and auto-run against the real Windows functions (under Wine in CI).
#include "fakes.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "platform/text_win32.h"
#include "settings/autorun_registry_win32.h"
#include "settings/file_ops.h"
#include "settings/gps_module.h"
#include "settings/ini_profile.h"
#include "settings/settings_path.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

// Wine rewrites the whole file from its parse, without blanks around names and values or empty
// lines; Windows and the portable store keep other lines as they were. Line ends still count.
std::string normalisedFile(const std::string& path) {
    const std::string text =
        std::regex_replace(testing::readBytes(path), std::regex("[ \t]*(=|\r?\n)[ \t]*"), "$1");
    return std::regex_replace(text, std::regex("(\r?\n)+"), "$1");
}

// Where the portable store and the profile functions differ on purpose, the generator keeps out:
//  - names passed with blanks around them: Windows trims them; the program passes its own;
//  - a new key in a section that ends in a comment: Wine puts it after the comment, the
//    portable store before (the comment may head the next section);
//  - a new file: Windows starts it with CRLF, the portable store with LF; so both twins start
//    from the same CRLF text, whose line ends the portable store then follows.
TEST(IniProfileStoreWin32, AgreesWithTheProfileFunctionsOnRandomReadsAndWrites) {
    const char* sections[] = {"GPS", "gps", "UDP", "Analog", "Serial Sync", "New"};
    const char* keys[] = {"COMPORT", "ComPort", "AutoStart", "a b", "x", "X", "udpaddress"};
    const char* values[] = {"", "COM3", " 1", "once per minute", "a=b", "  pad  ", "it's", "\"q", "'q'", "\"a b\""};
    testing::TempFolder dir;
    const std::string ours = dir.file("ours.ini"), win = dir.file("win.ini");
    const std::string start = "; by hand\r\n[GPS]\r\n; note\r\n  ComPort =  COM1  "
                              "\r\n\r\n[UDP]\r\nX=1\r\n[gps]\r\nx=2\r\n";
    files::replaceAtomically(ours, start), files::replaceAtomically(win, start);
    IniProfileStore store;
    std::mt19937 random(20261207);
    auto pick = [&](const auto& list) { return list[random() % std::size(list)]; };
    for (int step = 0; step < 400; ++step) {
        const std::string section = pick(sections), key = pick(keys), value = pick(values);
        SCOPED_TRACE("step " + std::to_string(step) + ": [" + section + "] " + key + "=" + value);
        if (random() % 2) {
            store.writeString(section, key, value, ours);
            ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), win.c_str());
            ASSERT_EQ(normalisedFile(ours), normalisedFile(win));
        } else {
            char buffer[750] = {};
            const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "none", buffer,
                                                       sizeof buffer, win.c_str());
            ASSERT_EQ(store.getString(section, key, "none", 750, ours), std::string(buffer, n));
        }
    }
}

// Test keys of our own, never the real Run keys; opened by the adapter, never created by it.
TEST(RegistryAutoRunWin32, CommandsArriveAsAnsiTextsThatStartTheProgram) {
    const std::string root = "Software\\Tidewell-test", run = root + "\\Run";
    for (const std::string& key : {run, run + "Once"})  // an earlier start's values
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "Tidewell", REG_SZ, "", 1), 0);
    const auto query = [](const std::string& key, const char* name) {
        DWORD type = 0, size = 600;
        char data[600];
        const bool found = !::RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name,
                                           RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
        return std::to_string(type) + ":" + std::string(data, found ? size : 0);
    };
    testing::TempFolder dir;
    fakes::FakeProfileStore profile;
    RegistryAutoRun registry(run);
    // A name the ANSI code page cannot spell is written as its short name.
    const std::string exe = dir.root.string() + "\\tid\xC3\xA9\xE2\x9C\x93.exe";
    testing::writeBytes(win32::wide(exe), "");
    GPSModule module(profile, registry, exe);
    module.ConfigureAutoRun(1, "", "");
    const std::string once = query(run + "Once", "Tidewell");
    EXPECT_NE(::GetFileAttributesA(once.substr(2).c_str()), INVALID_FILE_ATTRIBUTES) << once;
    module.ConfigureAutoRun(0, "", "");
    EXPECT_EQ(query(run, "Tidewell"), "0:");
    EXPECT_FALSE(RegistryAutoRun(root + "\\Gone").launchAtLogOn(AutoRunList::EveryLogOn, "x", "y"));
    ::RegDeleteTreeA(HKEY_CURRENT_USER, root.c_str());
}

TEST(FileOpsWin32, ReplacesKeepingAttributesRefusesReadOnlyAndFindsItsFolder) {
    testing::TempFolder dir;
    const std::string path = dir.file("Tidewell.ini");
    const std::wstring wide = win32::wide(path);
    EXPECT_EQ(files::readPrefix(path, 9).status, files::Prefix::Status::Missing);
    EXPECT_EQ(files::readPrefix("NUL", 9).status, files::Prefix::Status::Unusable);
    ASSERT_TRUE(files::replaceAtomically(path, "[A]\r\nk=1\r\n"));
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(files::replaceAtomically(path, "[A]\r\nk=2\r\n"));
    EXPECT_TRUE(::GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(files::replaceAtomically(path, "x"));
    const files::Prefix kept = files::readPrefix(path, 8);
    EXPECT_EQ(kept.bytes + (kept.whole ? "" : "..."), "[A]\r\nk=2...");
    ::SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    // Beside the program when it can be written, else in %APPDATA%\Tidewell.
    testing::EnvOverride appData("APPDATA", dir.file("roaming"));
    EXPECT_EQ(settingsFilePath(dir.root.string()), path);
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("roaming\\Tidewell\\Tidewell.ini"));
}

}  // namespace
}  // namespace tidewell
