#include "settings/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <random>

#include "settings/ini_text.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

TEST(IniText, FindsTheFirstMatchingValue) {
    struct Row {
        const char* why;
        std::string text, section, key;
        std::optional<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"names ignore case", "[udp]\nUdpAddress=1.2.3.4\n", "UDP", "udpaddress", "1.2.3.4"},
        {"CRLF lines", "[GPS]\r\nA=1\r\nCOMPORT=COM3\r\n", "GPS", "comport", "COM3"},
        {"bare CR lines", "[GPS]\rA=1\rCOMPORT=COM3\r", "GPS", "COMPORT", "COM3"},
        {"mixed line ends", "[A]\r\nx=1\ry=2\nz=3", "A", "z", "3"},
        {"blanks around key and value", "[A]\n  \tKey \t=  \t v a l \t\n", "A", "key", "v a l"},
        {"leading blank of a value removed", "[GPS]\nAutoStart= 1\n", "GPS", "autostart", "1"},
        {"empty value exists", "[A]\nk=\n", "A", "k", ""},
        {"value keeps later '='", "[A]\nk=a=b\n", "A", "k", "a=b"},
        {"first of a repeated key", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        {"only the first of a repeated section", "[A]\nx=1\n[B]\n[a]\nk=2\n", "A", "k",
         std::nullopt},
        {"first section wins for a repeated key", "[A]\nk=1\n[A]\nk=2\n", "a", "K", "1"},
        {"key of another section", "[A]\nk=1\n[B]\n", "B", "k", std::nullopt},
        {"missing section", "[A]\nk=1\n", "C", "k", std::nullopt},
        {"comment is no key", "[A]\n;k=1\n k=2\n", "A", "k", "2"},
        {"comment cannot hide as key name", "[A]\n;k=1\n", "A", ";k", std::nullopt},
        {"keys before any section belong to none", "k=1\n[A]\n", "", "k", std::nullopt},
        {"blanks inside brackets", "[ GPS ]\nk=1\n", "gps", "k", "1"},
        {"text after the bracket", "[GPS] old\nk=1\n", "GPS", "k", "1"},
        {"unclosed bracket opens nothing", "[A]\nk=1\n[B\nk=2\n", "A", "k", "1"},
        {"value cut at NUL", std::string("[A]\nk=ab\0cd\n", 12), "A", "k", "ab"},
        {"section header indented", "  [A]\nk=1", "A", "k", "1"},
        {"line without '=' is no key", "[A]\nk\nk=2\n", "A", "k", "2"},
        {"non-ASCII bytes compared exactly", "[\xC4]\nk=1\n", "\xE4", "k", std::nullopt},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        EXPECT_EQ(ini::findValue(r.text, r.section, r.key), r.expected);
    }
}

TEST(IniText, SettingAValueChangesOnlyWhatItMust) {
    struct Row {
        const char* why;
        std::string text, section, key, value, expected;
    };
    const std::vector<Row> rows = {
        {"replace keeps the file's key spelling and line end",
         "[UDP]\r\nUdpAddress=1.2.3.4\r\nX=1\r\n", "UDP", "UDPADDRESS", "10.0.0.1",
         "[UDP]\r\nUdpAddress=10.0.0.1\r\nX=1\r\n"},
        {"replace keeps everything up to '='", "[A]\n  K = old  \n", "A", "K", " 1",
         "[A]\n  K = 1\n"},
        {"replace the first of a repeated key", "[A]\nk=1\nk=2\n", "A", "K", "9",
         "[A]\nk=9\nk=2\n"},
        {"replace in a last line without line end", "[A]\nk=1", "A", "k", "2", "[A]\nk=2"},
        {"replace keeps a bare CR", "[A]\rk=1\rm=2\r", "A", "K", "3", "[A]\rk=3\rm=2\r"},
        {"new key after the last key, before the blank line", "[A]\nk=1\n\n[B]\nm=2\n", "A", "N",
         "v", "[A]\nk=1\nN=v\n\n[B]\nm=2\n"},
        {"new key skips blank lines inside the section", "[A]\nk=1\n\nm=2\n\n\n", "A", "N", "v",
         "[A]\nk=1\n\nm=2\nN=v\n\n\n"},
        {"new key before a trailing comment", "[A]\nk=1\n; next\n[B]\n", "A", "N", "v",
         "[A]\nk=1\nN=v\n; next\n[B]\n"},
        {"new key under a lone header", "[A]\r\n\r\n[B]\r\n", "a", "N", "v",
         "[A]\r\nN=v\r\n\r\n[B]\r\n"},
        {"new key when the last line has no line end", "[A]\r\nk=1", "A", "N", "v",
         "[A]\r\nk=1\r\nN=v\r\n"},
        {"commented key does not count", "[A]\n;N=1\n", "A", "N", "2", "[A]\nN=2\n;N=1\n"},
        {"key only in a repeated section goes to the first", "[A]\nk=1\n[B]\n[A]\nN=1\n", "A", "N",
         "2", "[A]\nk=1\nN=2\n[B]\n[A]\nN=1\n"},
        {"new file", "", "GPS", "COMPORT", "COM3", "[GPS]\nCOMPORT=COM3\n"},
        {"new section at the end, CRLF file", "[A]\r\nk=1\r\n", "UDP", "UDPRATE", "x",
         "[A]\r\nk=1\r\n[UDP]\r\nUDPRATE=x\r\n"},
        {"new section after a last line without line end", "[A]\nk=1", "B", "K", "v",
         "[A]\nk=1\n[B]\nK=v\n"},
        {"new section in a bare-CR file", "[A]\rk=1\r", "B", "K", "v", "[A]\rk=1\r[B]\rK=v\r"},
        {"most common line end wins", "[A]\r\nk=1\r\nm=2\nn=3\r\n", "B", "K", "v",
         "[A]\r\nk=1\r\nm=2\nn=3\r\n[B]\r\nK=v\r\n"},
        {"keys before any section are not the section's", "K=1\n", "A", "K", "2",
         "K=1\n[A]\nK=2\n"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        EXPECT_EQ(ini::withValue(r.text, r.section, r.key, r.value), r.expected);
    }
}

class IniProfileFile : public ::testing::Test {
protected:
    TempFolder dir;
    std::string path = dir.file("Tidewell.ini");
    IniProfileStore store;

    std::string get(std::string_view section, std::string_view key, std::size_t size = 750) {
        return store.getString(section, key, "", size, path);
    }
};

TEST_F(IniProfileFile, MissingFileGivesTheDefaultCutToSize) {
    EXPECT_EQ(store.getString("GPS", "COMPORT", "dflt", 750, path), "dflt");
    EXPECT_EQ(store.getString("GPS", "COMPORT", "dflt", 3, path), "df");
    EXPECT_EQ(store.getString("GPS", "COMPORT", "dflt", 0, path), "");
}

TEST_F(IniProfileFile, WriteCreatesTheFileAndIsReadBackAtOnce) {
    ASSERT_TRUE(store.writeString("GPS", "COMPORT", "COM3", path));
    ASSERT_TRUE(store.writeString("GPS", "AUTOSTART", " 1", path));
    ASSERT_TRUE(store.writeString("UDP", "UDPADDRESS", "192.0.2.255", path));
    EXPECT_EQ(readBytes(path),
              "[GPS]\nCOMPORT=COM3\nAUTOSTART= 1\n[UDP]\nUDPADDRESS=192.0.2.255\n");
    EXPECT_EQ(get("gps", "comport"), "COM3");
    ASSERT_TRUE(store.writeString("GPS", "COMPORT", "None", path));
    EXPECT_EQ(get("GPS", "ComPort"), "None");
}

TEST_F(IniProfileFile, HandWrittenCrlfFileKeepsEveryOtherByte) {
    const std::string before =
        "; Tidewell settings\r\n[GPS]\r\nComPort = COM3\r\nAutoStart= 1\r\n\r\n"
        "[SerialSync]\r\nSendSync=0\r\n\r\n[UDP]\r\nUdpAddress=192.168.1.255\r\n";
    writeBytes(path, before);
    ASSERT_TRUE(store.writeString("UDP", "UDPADDRESS", "10.0.0.255", path));
    std::string expected = before;
    expected.replace(expected.find("192.168.1.255"), 13, "10.0.0.255");
    EXPECT_EQ(readBytes(path), expected);

    ASSERT_TRUE(store.writeString("SerialSync", "SERIALRATE", "once per hour", path));
    expected.insert(expected.find("SendSync=0\r\n") + 12, "SERIALRATE=once per hour\r\n");
    EXPECT_EQ(readBytes(path), expected);
    EXPECT_EQ(get("serialsync", "serialrate"), "once per hour");
    EXPECT_EQ(get("GPS", "comport"), "COM3");
}

TEST_F(IniProfileFile, ReadsAtMostSizeMinusOneCharacters) {
    const std::string value(800, 'x');
    ASSERT_TRUE(store.writeString("UDP", "K", value, path));
    EXPECT_EQ(get("UDP", "k"), value.substr(0, 749));
    EXPECT_EQ(get("UDP", "k", 801), value);
}

TEST_F(IniProfileFile, KeepsPermissionsAndSymbolicLinks) {
    const std::string target = dir.file("real.ini");
    writeBytes(target, "[A]\nk=1\n");
    ::chmod(target.c_str(), 0640);
    ASSERT_EQ(::symlink("real.ini", path.c_str()), 0);
    ASSERT_TRUE(store.writeString("A", "K", "2", path));
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readBytes(target), "[A]\nk=2\n");
}

TEST_F(IniProfileFile, HugeFileIsReadQuicklyAndNeverRewritten) {
    // 300 MB, sparse: settings at the start, then one endless line of NUL bytes.
    writeBytes(path, "[GPS]\nCOMPORT=COM3\n");
    ASSERT_EQ(::truncate(path.c_str(), 300LL << 20), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(get("GPS", "COMPORT"), "COM3");
    EXPECT_EQ(get("GPS", "Missing"), "");
    EXPECT_FALSE(store.writeString("GPS", "COMPORT", "COM4", path));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 300LL << 20);
    EXPECT_EQ(get("GPS", "COMPORT"), "COM3");
    EXPECT_EQ(dir.names(), std::set<std::string>{"Tidewell.ini"});
}

TEST_F(IniProfileFile, FileOfExactlyTheLimitIsStillRewritten) {
    std::string text = "[A]\nk=1\n";
    text.resize(IniProfileStore::kMaxFileBytes, 'z');
    writeBytes(path, text);
    EXPECT_TRUE(store.writeString("A", "K", "2", path));
    EXPECT_EQ(readBytes(path), "[A]\nk=2" + text.substr(7));
}

TEST_F(IniProfileFile, BinaryJunkNeitherCrashesNorIsLost) {
    std::mt19937 random(42);
    std::string junk;
    const std::string alphabet("[]=;\r\n\t \0abcGPS", 15);
    for (int i = 0; i < 200000; ++i)
        junk += (i % 3) ? char(random()) : alphabet[random() % alphabet.size()];
    writeBytes(path, junk);
    (void)get("GPS", "COMPORT");
    ASSERT_TRUE(store.writeString("Tidewell", "KEY", "v", path));
    EXPECT_EQ(get("tidewell", "key"), "v");
    EXPECT_EQ(readBytes(path).substr(0, junk.size()), junk);

    const std::string longLine(IniProfileStore::kMaxFileBytes - 10, 'a');
    writeBytes(path, "[A]\nk=" + longLine);
    EXPECT_EQ(get("A", "k", 5), "aaaa");
}

TEST_F(IniProfileFile, NonFilesReadAsMissingAndAreNotReplaced) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // a read would wait for a writer forever
    EXPECT_EQ(store.getString("A", "k", "d", 750, path), "d");
    EXPECT_FALSE(store.writeString("A", "k", "1", path));
    ::unlink(path.c_str());
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(store.getString("A", "k", "d", 750, path), "d");
    EXPECT_FALSE(store.writeString("A", "k", "1", path));
}

TEST_F(IniProfileFile, RefusesTextThatWouldBreakTheFile) {
    writeBytes(path, "[A]\nk=1\n");
    struct Row {
        const char* why;
        std::string section, key, value;
    };
    const std::vector<Row> rows = {
        {"line feed in value", "A", "k", "1\nk=2"},
        {"NUL in value", "A", "k", std::string("1\0", 2)},
        {"'=' in key", "A", "k=x", "1"},
        {"key taken for a comment", "A", ";k", "1"},
        {"']' in section", "A]", "k", "1"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.why);
        EXPECT_FALSE(store.writeString(r.section, r.key, r.value, path));
    }
    EXPECT_EQ(readBytes(path), "[A]\nk=1\n");
}

TEST_F(IniProfileFile, FailedWritesLeaveNothingBehind) {
    writeBytes(dir.file("notafolder"), "x");
    EXPECT_FALSE(store.writeString("A", "k", "1", dir.file("notafolder/Tidewell.ini")));
    EXPECT_FALSE(store.writeString("A", "k", "1", dir.file("missing/Tidewell.ini")));
    EXPECT_EQ(dir.names(), std::set<std::string>{"notafolder"});
}

TEST_F(IniProfileFile, WriteCutShortByTheDiskLeavesTheOriginal) {
    // A file-size limit makes the temporary file's write fail part way, as a full disk would.
    writeBytes(path, "[A]\nk=1\n");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = store.writeString("A", "k", std::string(200, 'v'), path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(path), "[A]\nk=1\n");
    EXPECT_EQ(dir.names(), std::set<std::string>{"Tidewell.ini"});
}

TEST_F(IniProfileFile, PermissionsDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which ignores permissions";
    writeBytes(path, "[A]\nk=1\n");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    EXPECT_FALSE(store.writeString("A", "k", "2", path)) << "read-only folder";
    EXPECT_EQ(get("A", "k"), "1");
    ::chmod(dir.path().c_str(), 0700);
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    EXPECT_EQ(store.getString("A", "k", "d", 750, path), "d") << "unreadable file reads as missing";
    EXPECT_FALSE(store.writeString("A", "m", "2", path)) << "and is not overwritten";
    ::chmod(path.c_str(), 0600);
    EXPECT_EQ(readBytes(path), "[A]\nk=1\n");
    EXPECT_EQ(dir.names(), std::set<std::string>{"Tidewell.ini"});
}

}  // namespace
}  // namespace tidewell
