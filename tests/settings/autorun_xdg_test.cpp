#include "settings/autorun_xdg.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "env_override.h"
#include "fakes.h"
#include "settings/gps_module.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using testing::readBytes;
using testing::TempFolder;

std::span<const std::uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class XdgAutoRun : public ::testing::Test {
protected:
    TempFolder dir;
    std::string folder = dir.file("autostart");  // missing until the first write
    XdgAutoRunStore store{folder};

    AutoRunStore::Key openRun() {
        AutoRunStore::Key key = 0;
        EXPECT_EQ(store.RegOpenKeyEx(registry::HKEY_CURRENT_USER_, registry::RunKey,
                                     registry::KEY_WRITE_, key),
                  0);
        return key;
    }
};

TEST_F(XdgAutoRun, OnlyTheCurrentUsersRunKeyOpens) {
    struct Row {
        const char* why;
        std::uint32_t root;
        std::string key;
        long expected;
    };
    const std::string run(registry::RunKey);
    const std::vector<Row> rows = {
        {"Run key, folder still missing", registry::HKEY_CURRENT_USER_, run, 0},
        {"key names ignore case", registry::HKEY_CURRENT_USER_,
         "software\\microsoft\\windows\\currentversion\\run", 0},
        {"run-once key", registry::HKEY_CURRENT_USER_, run + "Once",
         registry::ERROR_FILE_NOT_FOUND_},
        {"parent key", registry::HKEY_CURRENT_USER_, "Software\\Microsoft",
         registry::ERROR_FILE_NOT_FOUND_},
        {"machine-wide root", 0x80000002u, run, registry::ERROR_FILE_NOT_FOUND_},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        AutoRunStore::Key key = 0;
        EXPECT_EQ(store.RegOpenKeyEx(r.root, r.key, registry::KEY_WRITE_, key), r.expected);
    }
    EXPECT_FALSE(std::filesystem::exists(folder)) << "opening created the folder";
}

TEST_F(XdgAutoRun, SetWritesADesktopEntryAndDeleteRemovesIt) {
    auto key = openRun();
    ASSERT_EQ(store.RegSetValueEx(key, "Tidewell", registry::REG_SZ_,
                                  bytes(std::string_view("/opt/tw/old\0", 12))),
              0);
    ASSERT_EQ(store.RegSetValueEx(key, "Tidewell", registry::REG_SZ_,
                                  bytes(std::string_view("/opt/tw/tidewell\0", 17))),
              0);
    const std::string entry = folder + "/Tidewell.desktop";
    EXPECT_EQ(readBytes(entry),
              "[Desktop Entry]\nType=Application\nName=Tidewell\nExec=/opt/tw/tidewell\n"
              "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ((dir.names()), std::set<std::string>{"autostart"});
    EXPECT_EQ(std::filesystem::directory_iterator(folder)->path().filename(), "Tidewell.desktop");

    EXPECT_EQ(store.RegDeleteValue(key, "Tidewell"), 0);
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(store.RegDeleteValue(key, "Tidewell"), registry::ERROR_FILE_NOT_FOUND_);
    EXPECT_EQ(store.RegCloseKey(key), 0);
}

TEST_F(XdgAutoRun, RefusesWhatItCannotStore) {
    auto key = openRun();
    const auto text = bytes(std::string_view("/x\0", 3));
    EXPECT_EQ(store.RegSetValueEx(key, "T", registry::REG_DWORD_, bytes("\1\0\0\0")), 87);
    EXPECT_EQ(store.RegSetValueEx(key, "T", registry::REG_BINARY_, text), 87);
    EXPECT_EQ(store.RegSetValueEx(key, "", registry::REG_SZ_, text), 87) << "no file name";
    EXPECT_EQ(store.RegSetValueEx(key, "../T", registry::REG_SZ_, text), 87)
        << "outside the folder";
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(store.RegCloseKey(key), 0);
    EXPECT_EQ(store.RegSetValueEx(key, "T", registry::REG_SZ_, text), 6) << "closed key";
    EXPECT_EQ(store.RegDeleteValue(key, "T"), 6);
    EXPECT_EQ(store.RegCloseKey(key), 6);
}

TEST_F(XdgAutoRun, UnwritableFolderIsAccessDenied) {
    testing::writeBytes(folder, "a file where the folder should be");
    auto key = openRun();
    EXPECT_EQ(store.RegSetValueEx(key, "T", registry::REG_SZ_, bytes(std::string_view("/x\0", 3))),
              registry::ERROR_ACCESS_DENIED_);
}

TEST(XdgDesktopEntry, ExecIsQuotedAndEscaped) {
    struct Row {
        const char* why;
        std::string command, exec;
    };
    const std::vector<Row> rows = {
        {"plain path as it is", "/opt/tw/tidewell", "/opt/tw/tidewell"},
        {"space needs quotes", "/my apps/tw", "\"/my apps/tw\""},
        {"dollar escaped in quotes, backslash then escaped for the file", "/a$b", "\"/a\\\\$b\""},
        {"double quote escaped", "/a\"b", "\"/a\\\\\"b\""},
        {"backslash becomes four", "/a\\b", "\"/a\\\\\\\\b\""},
        {"percent doubled, no quotes needed", "/50%/tw", "/50%%/tw"},
        {"line feed written as escape", "/a\nb", "\"/a\\nb\""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        std::string entry = XdgAutoRunStore::desktopEntry("N", r.command);
        auto at = entry.find("\nExec=") + 6;
        EXPECT_EQ(entry.substr(at, entry.find('\n', at) - at), r.exec);
    }
    EXPECT_NE(XdgAutoRunStore::desktopEntry(" a\\b", "/x").find("\nName=\\sa\\\\b\n"),
              std::string::npos);
}

TEST(XdgDefaultFolder, FollowsTheXdgVariables) {
    testing::EnvOverride env;
    env.set("HOME", "/home/u");
    env.set("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(XdgAutoRunStore::defaultFolder(), "/cfg/autostart");
    env.set("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(XdgAutoRunStore::defaultFolder(), "/home/u/.config/autostart");
    env.set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(XdgAutoRunStore::defaultFolder(), "/home/u/.config/autostart");
    env.set("HOME", std::nullopt);
    EXPECT_EQ(XdgAutoRunStore::defaultFolder(), "");
    XdgAutoRunStore nowhere{""};
    AutoRunStore::Key key = 0;
    EXPECT_EQ(nowhere.RegOpenKeyEx(registry::HKEY_CURRENT_USER_, registry::RunKey,
                                   registry::KEY_WRITE_, key),
              registry::ERROR_FILE_NOT_FOUND_);
}

TEST_F(XdgAutoRun, CheckingAndUncheckingAutoRun) {
    fakes::FakeProfileStore profile;
    fakes::FakeShell shell;
    shell.appPath = "/opt/tide well";
    GPSModule module(profile, store, shell);
    module.ConfigureAutoRun(2, "", "");
    EXPECT_NE(readBytes(folder + "/Tidewell.desktop").find("\nExec=\"/opt/tide well/tidewell\"\n"),
              std::string::npos);
    module.ConfigureAutoRun(1, "", "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1)
        << "run-once has no place here";
    module.ConfigureAutoRun(0, "", "");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace tidewell
