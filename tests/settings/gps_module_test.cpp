#include "settings/gps_module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "fakes.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "settings/autorun_xdg.h"
#include "settings/ini_profile.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

struct Module {
    fakes::FakeProfileStore profile;
    fakes::FakeAutoRun registry;
    fakes::FakeShell shell;
    GPSModule module{profile, registry, shell};
};

TEST(GetSaveIniSetting, KeysUpperCasedOnWritingAndValuesCutTo749) {
    testing::TempFolder dir;
    const std::string file = dir.file("Tidewell.ini");
    testing::writeBytes(file, "[udp]\r\nUdpAddress=192.168.0.255\r\n");
    IniProfileStore profile;
    Module m;
    GPSModule module(profile, m.registry, m.shell);
    const std::string longValue(800, 'q');
    module.SaveIniSetting("UDP", "UDPrate", longValue, file);
    EXPECT_EQ(module.GetIniSetting("UDP", "udprate", file), longValue.substr(0, 749));
    EXPECT_EQ(testing::readBytes(file),
              "[udp]\r\nUdpAddress=192.168.0.255\r\nUDPRATE=" + longValue + "\r\n");
}

TEST(RegistrySetValue, EachTypeAsStored) {
    const struct {
        const char* why;
        RegistryValue value;
        std::optional<AutoRunValue> stored;
        int number = 0;  // the error thrown instead
    } rows[] = {
        // clang-format off
        {"16-bit widened with its sign", std::int16_t(-2), std::int32_t(-2)},
        {"text as it is", std::string("C:\\Tw.Exe"), std::string("C:\\Tw.Exe")},
        {"bytes as they are", std::vector<std::uint8_t>{0, 7, 255}, std::vector<std::uint8_t>{0, 7, 255}},
        {"no bytes", std::vector<std::uint8_t>{}, std::nullopt, errors::SubscriptOutOfRange},
        {"unsupported type", std::monostate{}, std::nullopt, errors::UnsupportedValueType},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        Module m;
        try {
            EXPECT_TRUE(m.module.RegistrySetValue(AutoRunList::EveryLogOn, "V", r.value));
            EXPECT_EQ(m.registry.values.at("Run\\V"), r.stored);
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), r.number);
            EXPECT_TRUE(m.registry.calls.empty());
        }
    }
}

TEST(ConfigureAutoRun, ChoosesListNameAndPathByMode) {
    const std::string tw = "tidewell" + std::string(paths::executableSuffix);
    const std::string run = "Run\\Tidewell", once = "RunOnce\\Tidewell";
    using Values = std::map<std::string, AutoRunValue>;
    const Values before{{run, "old"}, {once, "once"}};
    const struct {
        const char* why;
        std::int16_t mode;
        std::string name, path, folder;
        Values expected;
    } rows[] = {
        // clang-format off
        {"mode 2: this executable under the title", 2, "", "", "/opt", {{run, "/opt/" + tw}, {once, "once"}}},
        {"folder ending in a separator", 2, "", "", "/opt/", {{run, "/opt/" + tw}, {once, "once"}}},
        {"any other mode: every log-on", -7, "", "", "/opt", {{run, "/opt/" + tw}, {once, "once"}}},
        {"mode 1: the next log-on only", 1, "", "", "/", {{run, "old"}, {once, "/" + tw}}},
        {"mode 0 removes from every log-on only", 0, "", "", "/opt", {{once, "once"}}},
        {"blank name and path take the defaults", 2, "   ", " ", "/opt", {{run, "/opt/" + tw}, {once, "once"}}},
        {"only leading blanks removed", 2, "  My App ", "  /x y ", "/opt", {{run, "old"}, {once, "once"}, {"Run\\My App ", "/x y "}}},
        // clang-format on
    };
    for (const auto& r : rows) {
        Module m;
        m.registry.values = before;
        m.shell.appPath = r.folder;
        m.module.ConfigureAutoRun(r.mode, r.name, r.path);
        EXPECT_EQ(m.registry.values, r.expected) << r.why;
    }
}

TEST(XdgAutoRun, CheckingWritesTheEntryAndUncheckingRemovesIt) {
    testing::TempFolder dir;
    const std::string folder = dir.file("autostart");  // missing until the first write
    XdgAutoRunStore store({"/opt/tidewell"}, folder);
    Module m;
    GPSModule module(m.profile, store, m.shell);
    module.ConfigureAutoRun(2, "", "");
    EXPECT_EQ(testing::readBytes(folder + "/Tidewell.desktop"),
              "[Desktop Entry]\nType=Application\nName=Tidewell\n"
              "Exec=/opt/tidewell\nX-GNOME-Autostart-enabled=true\n");
    module.ConfigureAutoRun(1, "", "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1)
        << "run-once has no place here";
    module.ConfigureAutoRun(0, "", "");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// Exec as a launcher reads it: the key-file escapes undone, then the quoting and "%%"; nothing
// where the text breaks a rule.
std::optional<std::vector<std::string>> execArguments(const std::string& entry) {
    const auto key = entry.find("\nExec=") + 6;
    const std::string raw = entry.substr(key, entry.find('\n', key) - key);
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const std::string_view from = "s\\ntr", to = " \\\n\t\r";
        if (raw[i] != '\\')
            value += raw[i];
        else if (++i < raw.size() && from.find(raw[i]) != from.npos)
            value += to[from.find(raw[i])];
        else
            return std::nullopt;
    }
    constexpr std::string_view reserved(" \t\n\"'\\><~|&;$*?#()`"), escapable("\"`$\\");
    std::vector<std::string> args(1);
    bool quoted = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i], next = i + 1 < value.size() ? value[i + 1] : ' ';
        if (c == '%' && next != '%') return std::nullopt;  // a field code
        if (c == '%' || (quoted && c == '\\' && escapable.find(next) != escapable.npos))
            args.back() += value[++i];
        else if (quoted && c == '"' && next == ' ')
            quoted = false;
        else if (!quoted && c == ' ')
            args.emplace_back();
        else if (!quoted && c == '"' && args.back().empty())
            quoted = true;
        else if ((quoted ? escapable : reserved).find(c) != std::string_view::npos)
            return std::nullopt;
        else
            args.back() += c;
    }
    if (quoted) return std::nullopt;
    return args;
}

TEST(XdgAutoRun, EntryStartsThisExecutableAsItIsNamedWithItsSettingsFile) {
    const std::string here = std::filesystem::current_path().string();
    const struct {
        const char* why;
        std::string executable, settings;
        std::vector<std::string> args;
    } rows[] = {
        // clang-format off
        {"extension kept; space and dollar quoted", "/opt/my $apps/Tidewell.AppImage", "/etc/my $tw.ini", {"/opt/my $apps/Tidewell.AppImage", "--settings", "/etc/my $tw.ini"}},
        {"relative settings file made absolute", "/opt/tidewell.bin", "rel dir/t.ini", {"/opt/tidewell.bin", "--settings", here + "/rel dir/t.ini"}},
        {"quote, backtick, backslash and percent in quotes", "/o\"p`t\\50%/tw", "", {"/o\"p`t\\50%/tw"}},
        {"percent without quotes", "/opt/50%/tw", "", {"/opt/50%/tw"}},
        // clang-format on
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        testing::TempFolder dir;
        XdgAutoRunStore store(XdgAutoRunStore::launchCommand(r.settings, r.executable),
                              dir.root.string());
        Module m;
        GPSModule(m.profile, store, m.shell).ConfigureAutoRun(2, "", "");
        EXPECT_EQ(execArguments(testing::readBytes(dir.file("Tidewell.desktop"))), r.args);
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
