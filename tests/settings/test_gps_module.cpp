#include "settings/gps_module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes.h"
#include "platform/paths.h"
#include "settings/autorun_xdg_linux.h"
#include "settings/ini_profile.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

struct Module {
    explicit Module(std::string exe = "/opt/tidewell/tidewell", AutoRun* autoRun = nullptr)
        : module{profile, autoRun ? *autoRun : registry, exe} {}
    fakes::FakeProfileStore profile;
    fakes::FakeAutoRun registry;
    GPSModule module;
};

TEST(GetSaveIniSetting, KeysUpperCasedOnWritingAndValuesCutTo749) {
    testing::TempFolder dir;
    const std::string file = dir.file("Tidewell.ini"), value(800, 'q');
    IniProfileStore profile;
    fakes::FakeAutoRun registry;
    GPSModule module(profile, registry, "/opt/tidewell/tidewell");
    module.SaveIniSetting("udp", "UDPrate", value, file);
    EXPECT_EQ(testing::readBytes(file), "[udp]\nUDPRATE=" + value + "\n");
    EXPECT_EQ(module.GetIniSetting("UDP", "udprate", file), value.substr(0, 749));
}

TEST(ConfigureAutoRun, ChoosesListNameAndPathByMode) {
    const std::string tw = "tidewell" + std::string(paths::executableSuffix);
    const std::string run = "Run\\Tidewell", once = "RunOnce\\Tidewell";
    using Values = std::map<std::string, std::string>;
    const struct {
        const char* why;
        std::int16_t mode;
        std::string name, path, exe;
        Values expected;
    } rows[] = {
        // clang-format off
        {"blank name and path take the defaults, every log-on", 2, "   ", " ", "/opt/tidewell", {{run, "/opt/" + tw}, {once, "once"}}},
        {"any other mode: every log-on", -7, "", "", "/opt/tidewell", {{run, "/opt/" + tw}, {once, "once"}}},
        {"mode 1: the next log-on only; a root folder", 1, "", "", "/tidewell", {{run, "old"}, {once, "/" + tw}}},
        {"mode 0 removes from every log-on only", 0, "", "", "/opt/tidewell", {{once, "once"}}},
        {"only leading blanks removed", 2, "  My App ", "  /x y ", "/opt/tidewell", {{run, "old"}, {once, "once"}, {"Run\\My App ", "/x y "}}},
        // clang-format on
    };
    for (const auto& r : rows) {
        Module m(r.exe);
        m.registry.values = {{run, "old"}, {once, "once"}};
        m.module.ConfigureAutoRun(r.mode, r.name, r.path);
        EXPECT_EQ(m.registry.values, r.expected) << r.why;
    }
}

// The command is this executable as named, its settings file made absolute. Exec quoting and
// escaping as a launcher reads them: reserved characters quoted, '"', '`', '$' and '\' escaped
// inside quotes, '%' doubled, then every '\' escaped again for the key file.
TEST(XdgAutoRun, CheckingWritesAnEntryThatRunsTheCommandAndUncheckingRemovesIt) {
    EXPECT_EQ(XdgAutoRunStore::launchCommand("rel dir/t.ini", "/opt/my $apps/Tidewell.AppImage"),
              (std::vector<std::string>{"/opt/my $apps/Tidewell.AppImage", "--settings",
                                        (std::filesystem::current_path() / "rel dir/t.ini")}));
    EXPECT_EQ(XdgAutoRunStore::launchCommand("", "/opt/tw"), std::vector<std::string>{"/opt/tw"});
    const struct {
        const char* why;
        std::vector<std::string> command;
        std::string exec;
    } rows[] = {
        // clang-format off
        {"space and dollar quoted", {"/opt/my $apps/tw", "--settings", "/etc/t.ini"}, R"("/opt/my \\$apps/tw" --settings /etc/t.ini)"},
        {"quote, backtick, backslash and percent in quotes", {"/o\"p`t\\50%/tw"}, R"("/o\\"p\\`t\\\\50%%/tw")"},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        testing::TempFolder dir;
        const std::string folder = dir.file("autostart");  // made by the first write
        XdgAutoRunStore store(r.command, folder);
        Module m("/opt/tidewell/tidewell", &store);
        m.module.ConfigureAutoRun(2, "", "");
        m.module.ConfigureAutoRun(1, "", "");  // run-once has no place here
        EXPECT_EQ(testing::readBytes(folder + "/Tidewell.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Tidewell\nExec=" + r.exec +
                      "\nX-GNOME-Autostart-enabled=true\n");
        m.module.ConfigureAutoRun(0, "", "");
        EXPECT_TRUE(std::filesystem::is_empty(folder));
    }
}

TEST(XdgAutoRun, DefaultFolderTakesXdgConfigHomeOnlyWhenAbsolute) {
    testing::EnvOverride home("HOME", "/home/u"), config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(XdgAutoRunStore::defaultFolder(), "/cfg/autostart");
    testing::EnvOverride relative("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(XdgAutoRunStore::defaultFolder(), "/home/u/.config/autostart");
}

}  // namespace
}  // namespace tidewell
