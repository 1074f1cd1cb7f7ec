#include "settings/gps_module.h"

#include <gtest/gtest.h>

#include "fakes.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "settings/ini_profile.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using fakes::FakeAutoRunStore;
using fakes::FakeProfileStore;
using fakes::FakeShell;

const std::string kRun(registry::RunKey);
const std::string kHkcu = std::to_string(registry::HKEY_CURRENT_USER_);
const std::string kOpenRun =
    "open " + kHkcu + " " + kRun + " " + std::to_string(registry::KEY_WRITE_);

struct Module {
    FakeProfileStore profile;
    FakeAutoRunStore registry;
    FakeShell shell;
    GPSModule module{profile, registry, shell};
};

TEST(GetSaveIniSetting, KeysUpperCasedOnWritingAndValuesCutTo749) {
    testing::TempFolder dir;
    const std::string file = dir.file("Tidewell.ini");
    testing::writeBytes(
        file, "[udp]\r\nUdpAddress=192.168.0.255\r\n[SerialSync]\r\nSerialRate=once per hour\r\n");
    IniProfileStore profile;
    FakeAutoRunStore registry;
    FakeShell shell;
    GPSModule module(profile, registry, shell);

    EXPECT_EQ(module.GetIniSetting("UDP", "UDPaddress", file), "192.168.0.255");
    EXPECT_EQ(module.GetIniSetting("SerialSync", "serialrate", file), "once per hour");

    const std::string longValue(800, 'q');
    module.SaveIniSetting("UDP", "UDPrate", longValue, file);
    EXPECT_EQ(module.GetIniSetting("UDP", "udprate", file), longValue.substr(0, 749));

    module.SaveIniSetting("GPS", "AutoStart", " 1", file);
    EXPECT_EQ(testing::readBytes(file),
              "[udp]\r\nUdpAddress=192.168.0.255\r\nUDPRATE=" + longValue +
                  "\r\n[SerialSync]\r\nSerialRate=once per hour\r\n[GPS]\r\nAUTOSTART= 1\r\n");
}

TEST(RegistrySetValue, WritesEachTypeAsTheRegistryExpects) {
    struct Row {
        const char* why;
        RegistryValue value;
        std::uint32_t type;
        std::string bytes;
    };
    const std::vector<Row> rows = {
        {"16-bit widened with its sign", std::int16_t(-2), registry::REG_DWORD_,
         std::string("\xFE\xFF\xFF\xFF", 4)},
        {"32-bit little-endian", std::int32_t(0x12345678), registry::REG_DWORD_,
         std::string("\x78\x56\x34\x12", 4)},
        {"text with its NUL", std::string("C:\\Tidewell.Exe"), registry::REG_SZ_,
         std::string("C:\\Tidewell.Exe\0", 16)},
        {"empty text is just the NUL", std::string(), registry::REG_SZ_, std::string("\0", 1)},
        {"bytes as they are", std::vector<std::uint8_t>{0, 7, 255}, registry::REG_BINARY_,
         std::string("\0\x07\xFF", 3)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        Module m;
        EXPECT_TRUE(m.module.RegistrySetValue(registry::HKEY_CURRENT_USER_, kRun, "V", r.value));
        EXPECT_EQ(m.registry.calls,
                  (std::vector<std::string>{kOpenRun,
                                            "set V type " + std::to_string(r.type) + " size " +
                                                std::to_string(r.bytes.size()),
                                            "close"}));
        EXPECT_EQ(m.registry.values[kRun + "\\V"], r.bytes);
    }
}

TEST(RegistrySetValue, FailuresReturnFalseOrThrowAfterClosing) {
    Module m;
    m.registry.openResult = registry::ERROR_ACCESS_DENIED_;
    EXPECT_FALSE(
        m.module.RegistrySetValue(registry::HKEY_CURRENT_USER_, kRun, "V", std::string("x")));
    EXPECT_EQ(m.registry.calls, std::vector<std::string>{kOpenRun})
        << "nothing after a failed open";

    struct Row {
        const char* why;
        RegistryValue value;
        int number;
        const char* description;
    };
    const std::vector<Row> rows = {
        {"unsupported type", std::monostate{}, errors::UnsupportedValueType,
         "Unsupported value type"},
        {"empty byte array", std::vector<std::uint8_t>{}, 9, "Subscript out of range"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        Module k;
        try {
            k.module.RegistrySetValue(registry::HKEY_CURRENT_USER_, kRun, "V", r.value);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), r.number);
            EXPECT_EQ(e.description(), r.description);
        }
        EXPECT_EQ(k.registry.calls, (std::vector<std::string>{kOpenRun, "close"}));
    }
}

TEST(RegistrySetValue, RefusedWriteReturnsFalseAndStillCloses) {
    struct RefusingStore : FakeAutoRunStore {
        long RegSetValueEx(Key key, std::string_view name, std::uint32_t type,
                           std::span<const std::uint8_t> data) override {
            FakeAutoRunStore::RegSetValueEx(key, name, type, data);
            return registry::ERROR_ACCESS_DENIED_;
        }
    } registry;
    FakeProfileStore profile;
    FakeShell shell;
    GPSModule module(profile, registry, shell);
    EXPECT_FALSE(module.RegistrySetValue(registry::HKEY_CURRENT_USER_, kRun, "V", std::int32_t(1)));
    EXPECT_EQ(registry.calls.back(), "close");
}

TEST(RegistryDeleteValue, TrueOnlyWhenAValueWasDeleted) {
    Module m;
    m.registry.values[kRun + "\\Tidewell"] = "x";
    EXPECT_TRUE(m.module.RegistryDeleteValue(registry::HKEY_CURRENT_USER_, kRun, "Tidewell"));
    EXPECT_FALSE(m.module.RegistryDeleteValue(registry::HKEY_CURRENT_USER_, kRun, "Tidewell"));
    EXPECT_EQ(m.registry.calls, (std::vector<std::string>{kOpenRun, "delete Tidewell", "close",
                                                          kOpenRun, "delete Tidewell", "close"}));
    m.registry.openResult = registry::ERROR_FILE_NOT_FOUND_;
    EXPECT_FALSE(m.module.RegistryDeleteValue(registry::HKEY_CURRENT_USER_, kRun, "Tidewell"));
    EXPECT_EQ(m.registry.calls.back(), kOpenRun);
}

TEST(ConfigureAutoRun, ChoosesKeyNameAndPathByMode) {
    const std::string exe = "/opt/tidewell/tidewell" + std::string(paths::executableSuffix);
    const std::string run = kRun + "\\Tidewell", once = kRun + "Once\\Tidewell";
    const std::string old("old\0", 4), oldOnce("once\0", 5);
    using Values = std::map<std::string, std::string>;
    struct Row {
        const char* why;
        std::int16_t mode;
        std::string name, path;
        Values expected;
    };
    const std::vector<Row> rows = {
        {"mode 2: this executable under the title",
         2,
         "",
         "",
         {{run, exe + '\0'}, {once, oldOnce}}},
        {"any other mode: the Run key", -7, "", "", {{run, exe + '\0'}, {once, oldOnce}}},
        {"mode 1: the run-once key", 1, "", "", {{run, old}, {once, exe + '\0'}}},
        {"mode 0 deletes from the Run key only", 0, "", "", {{once, oldOnce}}},
        {"blank name and path take the defaults",
         2,
         "   ",
         " ",
         {{run, exe + '\0'}, {once, oldOnce}}},
        {"only leading blanks removed",
         2,
         "  My App ",
         "  /x y ",
         {{run, old}, {once, oldOnce}, {kRun + "\\My App ", std::string("/x y \0", 6)}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        Module m;
        m.registry.values = {{run, old}, {once, oldOnce}};
        m.module.ConfigureAutoRun(r.mode, r.name, r.path);
        EXPECT_EQ(m.registry.values, r.expected);
    }
    Module empty;
    EXPECT_NO_THROW(empty.module.ConfigureAutoRun(0, "", "")) << "deleting a missing value";
}

TEST(AutoRunPath, OneSeparatorAndThePlatformSuffix) {
    const std::string sep(paths::separator), suffix(paths::executableSuffix);
    struct Row {
        const char* why;
        std::string folder, exe, expected;
    };
    const std::vector<Row> rows = {
        {"folder without a trailing separator", sep + "opt" + sep + "tw", "tidewell",
         sep + "opt" + sep + "tw" + sep + "tidewell" + suffix},
        {"root folder ends in a separator already", sep, "tidewell", sep + "tidewell" + suffix},
        {"folder given with a trailing separator", "apps" + sep, "TW",
         "apps" + sep + "TW" + suffix},
        {"file name case kept", "d", "TideWell", "d" + sep + "TideWell" + suffix},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        Module m;
        m.shell.appPath = r.folder;
        m.shell.exeName = r.exe;
        EXPECT_EQ(m.module.autoRunPath(), r.expected);
    }
}

}  // namespace
}  // namespace tidewell
