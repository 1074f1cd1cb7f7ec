// The Linux settings file: its text, the store over it and where it lives; the settings module
// over the store, and auto-run as XDG autostart entries.
#include "settings/ini_profile.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <tuple>

#include "fakes.h"
#include "settings/autorun_xdg_linux.h"
#include "settings/file_ops.h"
#include "settings/gps_module.h"
#include "settings/ini_text.h"
#include "settings/settings_path.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::readBytes;
using testing::writeBytes;
using S = std::string;

// Rows the Windows build's random comparison with the profile functions cannot reach: it
// writes through the store, and compares files without blanks around '=' or empty lines.
// A value is found in its first match, and setting one changes only what it must.
TEST(IniText, FindsTheFirstMatchingValueAndSettingOneChangesOnlyWhatItMust) {
    const std::tuple<const char*, S, S, S, std::optional<S>> rows[] = {
        // clang-format off
        {"byte-order mark; blanks around header, key and value", "\xEF\xBB\xBF  [ A ]\n  \tKey \t=  \t v a l \t\n", "a", "key", "v a l"},
        {"comment is no key", "[A]\n;k=1\n k=2\n", "A", "k", "2"},
        {"value cut at NUL", std::string("[A]\nk=ab\0cd\n", 12), "A", "k", "ab"},
        // clang-format on
    };
    for (const auto& [why, text, section, key, expected] : rows)
        EXPECT_EQ(ini::findValue(text, section, key), expected) << why;
    const std::tuple<const char*, S, S, S, S, S> edits[] = {
        // clang-format off
        {"replace keeps everything up to '='", "[A]\n  K = old  \n", "A", "k", " 1", "[A]\n  K = 1\n"},
        {"new key after the section's last key", "[A]\nk=1\n\nm=2\n\n[B]\n", "A", "N", "v", "[A]\nk=1\n\nm=2\nN=v\n\n[B]\n"},
        {"new key after a last line without line end", "[A]\r\nk=1", "A", "N", "v", "[A]\r\nk=1\r\nN=v\r\n"},
        {"file of only a byte-order mark", "\xEF\xBB\xBF", "A", "N", "v", "\xEF\xBB\xBF[A]\nN=v\n"},
        // clang-format on
    };
    for (const auto& [why, text, section, key, value, expected] : edits)
        EXPECT_EQ(ini::withValue(text, section, key, value), expected) << why;
}

class IniProfileFile : public ::testing::Test {
protected:
    testing::TempFolder dir;
    std::string path = dir.file("Tidewell.ini");
    IniProfileStore store;

    std::string get(std::string_view section, std::string_view key, std::size_t size = 750) {
        return store.getString(section, key, "dflt", size, path);
    }
};

TEST_F(IniProfileFile, HugeFileIsReadQuicklyAndNeverRewrittenAndAMissingOneGivesTheDefault) {
    EXPECT_EQ(get("GPS", "COMPORT", 3), "df") << "cut to size";
    // 300 MB, sparse: settings at the start, then one endless line of NUL bytes.
    writeBytes(path, "[GPS]\nCOMPORT=COM3\n");
    ASSERT_EQ(::truncate(path.c_str(), 300LL << 20), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get("GPS", "COMPORT"), "COM3");
    EXPECT_EQ(get("GPS", "Missing"), "dflt");
    EXPECT_FALSE(store.writeString("GPS", "COMPORT", "COM4", path));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(fs::file_size(path), 300ULL << 20);
}

// A file-size limit makes the temporary file's write fail part way, as a full disk would; a
// read-only file is never replaced, even by root. Either way the original stays, alone. Only
// stale temporary files of this file are removed.
TEST_F(IniProfileFile, AFailedWriteLeavesTheOriginalAndNoTemporaryAndStaleOnesAreRemoved) {
    for (const bool full : {true, false}) {
        writeBytes(path, "[A]\nk=1\n");
        rlimit old{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{64, old.rlim_max};
        ASSERT_EQ(full ? ::setrlimit(RLIMIT_FSIZE, &small) : ::chmod(path.c_str(), 0444), 0);
        const fs::perms mode = fs::status(path).permissions();
        const WriteOutcome written = store.writeString("A", "k", std::string(200, 'v'), path);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(written.failure, full ? "writing: File too large" : "it is read-only");
        EXPECT_EQ(readBytes(path), "[A]\nk=1\n");
        EXPECT_EQ(fs::status(path).permissions(), mode);
        EXPECT_EQ(dir.names(), std::set<std::string>{"Tidewell.ini"});
        fs::remove(path);
    }

    const std::set<std::string> kept = {"Tidewell.ini",      ".Tidewell.ini.tmp7-1",
                                        ".Tidewell.ini.tmp", ".Tidewell.ini.tmp8-1.bak",
                                        ".Other.ini.tmp8-1", "Tidewell.ini.tmp8-1"};
    for (const auto& name : kept) writeBytes(dir.file(name), "x");
    writeBytes(dir.file(".Tidewell.ini.tmp8-1"), "left by a killed writer");
    // A live writer holds its temporary file locked.
    const int held = ::open(dir.file(".Tidewell.ini.tmp7-1").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    files::removeStaleTemporaryFiles(path);
    ::close(held);
    EXPECT_EQ(dir.names(), kept);
}

// Root writes another user's file as they could, and it stays theirs. As that user: root's
// file they may write, but could not hand back to root, is left alone, and why is told; their
// own file in root's group (what `sudo chown user file` leaves) is written and takes their group.
TEST_F(IniProfileFile, AnotherUsersFileKeepsItsOwnerAndModeOrIsLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another user";
    constexpr uid_t kNobody = 65534;
    using Owner = std::tuple<uid_t, gid_t, unsigned>;  // user, group, mode
    // The file's owner, who writes, what came of it (0: refused, 1: written, 3: written with a
    // note of the group), and the owner after.
    const std::tuple<Owner, uid_t, int, Owner> rows[] = {
        {{kNobody, kNobody, 0640}, 0, 1, {kNobody, kNobody, 0640}},
        {{0, 0, 0666}, kNobody, 0, {0, 0, 0666}},
        {{kNobody, 0, 0664}, kNobody, 3, {kNobody, kNobody, 0664}},
    };
    ASSERT_EQ(::chmod(dir.root.c_str(), 0777), 0);
    for (const auto& [before, writer, outcome, after] : rows) {
        writeBytes(path, "[A]\nk=1\n");
        const auto [uid, gid, mode] = before;
        ASSERT_TRUE(::chown(path.c_str(), uid, gid) == 0 && ::chmod(path.c_str(), mode) == 0);
        if (const pid_t child = ::fork(); child == 0) {
            const bool became = writer == 0 || (::setgroups(0, nullptr) == 0 &&
                                                ::setresgid(writer, writer, writer) == 0 &&
                                                ::setresuid(writer, writer, writer) == 0);
            const WriteOutcome out = store.writeString("A", "k", "2", path);
            ::_exit(!became ? 2 : !out ? 0 : out.note.empty() ? 1 : 3);
        } else {
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, outcome) << "2: no other user";
        }
        struct stat st {};
        ::stat(path.c_str(), &st);
        EXPECT_EQ(Owner(st.st_uid, st.st_gid, st.st_mode & 07777), after);
        EXPECT_EQ(readBytes(path), outcome ? "[A]\nk=2\n" : "[A]\nk=1\n");
        EXPECT_EQ(dir.names(), std::set<std::string>{"Tidewell.ini"});
    }
}

TEST(SettingsPath, BesideTheProgramElseInTheUserFolder) {
    testing::TempFolder dir;
    testing::EnvOverride config("XDG_CONFIG_HOME", dir.file("config"));
    const std::string program = dir.root.string();
    EXPECT_EQ(settingsFilePath(program, "odd name.ini"), "odd name.ini") << "explicit path";
    EXPECT_EQ(settingsFilePath(program), dir.file("Tidewell.ini")) << "writable program folder";
    EXPECT_FALSE(fs::exists(dir.file("config"))) << "user folder made needlessly";
    // A folder that does not exist cannot be written, even by root.
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("config/tidewell/Tidewell.ini"));
    fs::remove_all(dir.file("config"));
    writeBytes(dir.file("config"), "a file where the folder should be");
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("gone/Tidewell.ini"))
        << "no user folder";
}

TEST_F(IniProfileFile, TheModuleUpperCasesKeysOnWritingAndCutsValuesTo749) {
    fakes::FakeAutoRun registry;
    GPSModule module(store, registry, "/opt/tidewell/tidewell");
    const std::string value(800, 'q');
    module.SaveIniSetting("udp", "UDPrate", value, path);
    EXPECT_EQ(readBytes(path), "[udp]\nUDPRATE=" + value + "\n");
    EXPECT_EQ(module.GetIniSetting("UDP", "udprate", path), value.substr(0, 749));
}

// The command is this executable as named, its settings file made absolute. Exec quoting and
// escaping as a launcher reads them: reserved characters quoted, '"', '`', '$' and '\' escaped
// inside quotes, '%' doubled, then every '\' escaped again for the key file.
TEST(XdgAutoRun, CheckingWritesAnEntryThatRunsTheCommandAndUncheckingRemovesIt) {
    EXPECT_EQ(XdgAutoRunStore::launchCommand("rel dir/t.ini", "/opt/my $apps/Tidewell.AppImage"),
              (std::vector<std::string>{"/opt/my $apps/Tidewell.AppImage", "--settings",
                                        (fs::current_path() / "rel dir/t.ini")}));
    EXPECT_EQ(XdgAutoRunStore::launchCommand("", "/opt/tw"), std::vector<std::string>{"/opt/tw"});
    const std::tuple<const char*, std::vector<S>, S> rows[] = {
        // clang-format off
        {"space and dollar quoted", {"/opt/my $apps/tw", "--settings", "/etc/t.ini"}, R"("/opt/my \\$apps/tw" --settings /etc/t.ini)"},
        {"quote, backtick, backslash and percent in quotes", {"/o\"p`t\\50%/tw"}, R"("/o\\"p\\`t\\\\50%%/tw")"},
        // clang-format on
    };
    for (const auto& [why, command, exec] : rows) {
        SCOPED_TRACE(why);
        testing::TempFolder dir;
        const std::string folder = dir.file("autostart");  // made by the first write
        XdgAutoRunStore store(command, folder);
        fakes::FakeProfileStore profile;
        GPSModule module(profile, store, "/opt/tidewell/tidewell");
        module.ConfigureAutoRun(2, "", "");
        module.ConfigureAutoRun(1, "", "");  // run-once has no place here
        EXPECT_EQ(readBytes(folder + "/Tidewell.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Tidewell\nExec=" + exec +
                      "\nX-GNOME-Autostart-enabled=true\n");
        module.ConfigureAutoRun(0, "", "");
        EXPECT_TRUE(fs::is_empty(folder));
    }
}

}  // namespace
}  // namespace tidewell
