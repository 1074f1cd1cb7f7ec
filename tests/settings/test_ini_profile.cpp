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

#include "settings/file_ops.h"
#include "settings/ini_text.h"
#include "settings/settings_path.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

namespace fs = std::filesystem;
using testing::readBytes;
using testing::writeBytes;

TEST(IniText, FindsTheFirstMatchingValue) {
    const struct {
        const char* why;
        std::string text, section, key;
        std::optional<std::string> expected;
    } rows[] = {
        // clang-format off
        {"byte-order mark; blanks around header, key and value", "\xEF\xBB\xBF  [ A ]\n  \tKey \t=  \t v a l \t\n", "a", "key", "v a l"},
        {"empty value still exists", "[A]\nk=\n", "A", "k", ""},
        {"value keeps later '='", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"only the first of a repeated section", "[A]\nx=1\n[B]\n[a]\nk=2\n", "A", "k", std::nullopt},
        {"key of another section", "[A]\nk=1\n[B]\n", "B", "k", std::nullopt},
        {"comment is no key", "[A]\n;k=1\n k=2\n", "A", "k", "2"},
        {"value cut at NUL", std::string("[A]\nk=ab\0cd\n", 12), "A", "k", "ab"},
        {"one pair of matching quotes goes", "[A]\nk= \"'a b'\" \nj='x\"\n", "A", "k", "'a b'"},
        // clang-format on
    };
    for (const auto& r : rows)
        EXPECT_EQ(ini::findValue(r.text, r.section, r.key), r.expected) << r.why;
}

TEST(IniText, SettingAValueChangesOnlyWhatItMust) {
    const struct {
        const char* why;
        std::string text, section, key, value, expected;
    } rows[] = {
        // clang-format off
        {"replace keeps everything up to '='", "[A]\n  K = old  \n", "A", "k", " 1", "[A]\n  K = 1\n"},
        {"new key after the section's last key", "[A]\nk=1\n\nm=2\n\n[B]\n", "A", "N", "v", "[A]\nk=1\n\nm=2\nN=v\n\n[B]\n"},
        {"new key after a last line without line end", "[A]\r\nk=1", "A", "N", "v", "[A]\r\nk=1\r\nN=v\r\n"},
        {"new section at the end, CRLF file", "[A]\r\nk=1\r\n", "UDP", "R", "x", "[A]\r\nk=1\r\n[UDP]\r\nR=x\r\n"},
        {"file of only a byte-order mark", "\xEF\xBB\xBF", "A", "N", "v", "\xEF\xBB\xBF[A]\nN=v\n"},
        // clang-format on
    };
    for (const auto& r : rows)
        EXPECT_EQ(ini::withValue(r.text, r.section, r.key, r.value), r.expected) << r.why;
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
// read-only file is never replaced, even by root. Either way the original stays, alone.
TEST_F(IniProfileFile, AFailedWriteLeavesTheOriginalAndNoTemporary) {
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
}

TEST_F(IniProfileFile, AnotherUsersFileKeepsItsOwnerAndModeOrIsLeftAlone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another user";
    constexpr uid_t kNobody = 65534;
    const auto owner = [&] {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777);
    };
    ASSERT_EQ(::chmod(dir.root.c_str(), 0777), 0);
    writeBytes(path, "[A]\nk=1\n");

    // Root writes as the owner could, and the file stays the owner's.
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    EXPECT_TRUE(store.writeString("A", "k", "2", path));
    EXPECT_EQ(owner(), std::tuple(kNobody, kNobody, 0640u));

    // As that user: root's file they may write, but could not hand back to root, is left
    // alone, and why is told; their own file in root's group (what `sudo chown user file`
    // leaves) is written and takes their group.
    const auto asNobody = [&](const char* value) {
        const pid_t child = ::fork();
        if (child == 0) {
            const bool dropped = ::setgroups(0, nullptr) == 0 &&
                                 ::setresgid(kNobody, kNobody, kNobody) == 0 &&
                                 ::setresuid(kNobody, kNobody, kNobody) == 0;
            const WriteOutcome out = store.writeString("A", "k", value, path);
            ::_exit(!dropped ? 2 : !out ? 0 : out.note.empty() ? 1 : 3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(::chown(path.c_str(), 0, 0), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    EXPECT_EQ(asNobody("3"), 0) << "0: refused, 1: written, 2: could not become another user";
    EXPECT_EQ(owner(), std::tuple(0u, 0u, 0666u));
    EXPECT_EQ(readBytes(path), "[A]\nk=2\n");
    ASSERT_EQ(::chown(path.c_str(), kNobody, 0), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    EXPECT_EQ(asNobody("4"), 3) << "3: written, with a note of the group";
    EXPECT_EQ(owner(), std::tuple(kNobody, kNobody, 0664u));
    EXPECT_EQ(readBytes(path), "[A]\nk=4\n");
    EXPECT_EQ(dir.names(), std::set<std::string>{"Tidewell.ini"});
}

TEST_F(IniProfileFile, OnlyStaleTemporaryFilesOfThisFileAreRemoved) {
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

TEST(SettingsPath, BesideTheProgramElseInTheUserFolder) {
    testing::TempFolder dir;
    testing::EnvOverride config("XDG_CONFIG_HOME", dir.file("config"));
    EXPECT_EQ(settingsFilePath(dir.root.string(), "odd name.ini"), "odd name.ini")
        << "explicit path";
    EXPECT_EQ(settingsFilePath(dir.root.string()), dir.file("Tidewell.ini"))
        << "writable program folder";
    EXPECT_FALSE(fs::exists(dir.file("config"))) << "user folder made needlessly";
    // A folder that does not exist cannot be written, even by root.
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("config/tidewell/Tidewell.ini"));
    fs::remove_all(dir.file("config"));
    writeBytes(dir.file("config"), "a file where the folder should be");
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("gone/Tidewell.ini"))
        << "no user folder";
}

}  // namespace
}  // namespace tidewell
