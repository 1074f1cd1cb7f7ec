#include "settings/settings_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "env_override.h"
#include "temp_folder.h"

namespace tidewell {
namespace {

using testing::EnvOverride;
using testing::TempFolder;

class SettingsPath : public ::testing::Test {
protected:
    TempFolder dir;
    EnvOverride env;
    void SetUp() override { env.set("XDG_CONFIG_HOME", dir.file("config")); }
    std::string userFile() const { return dir.file("config/tidewell/Tidewell.ini"); }
};

TEST_F(SettingsPath, ExplicitPathIsUsedAsItIs) {
    EXPECT_EQ(settingsFilePath(dir.path(), "relative/odd name.ini"), "relative/odd name.ini");
}

TEST_F(SettingsPath, BesideTheProgramWhenItsFolderIsWritable) {
    EXPECT_EQ(settingsFilePath(dir.path()), dir.path() + "/Tidewell.ini");
    EXPECT_FALSE(std::filesystem::exists(dir.file("config"))) << "user folder made needlessly";
}

TEST_F(SettingsPath, UserFolderCreatedWhenTheProgramFolderCannotBeWritten) {
    // A folder that does not exist cannot be written, even by root.
    EXPECT_EQ(settingsFilePath(dir.file("gone")), userFile());
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("config/tidewell")));
    EXPECT_EQ(settingsFilePath(dir.file("gone")), userFile()) << "an existing user folder";
}

TEST_F(SettingsPath, ReadOnlyProgramFolderUsesTheUserFolder) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root, which ignores folder permissions";
    std::filesystem::create_directory(dir.file("app"));
    testing::writeBytes(dir.file("app/Tidewell.ini"), "[GPS]\n");
    ::chmod(dir.file("app").c_str(), 0500);
    EXPECT_EQ(settingsFilePath(dir.file("app")), userFile());
}

TEST_F(SettingsPath, BesideTheProgramWhenThereIsNoUserFolder) {
    testing::writeBytes(dir.file("config"), "a file where the folder should be");
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("gone/Tidewell.ini"));
    env.set("XDG_CONFIG_HOME", std::nullopt);
    env.set("HOME", std::nullopt);
    EXPECT_EQ(settingsFilePath(dir.file("gone")), dir.file("gone/Tidewell.ini"));
}

}  // namespace
}  // namespace tidewell
