#include "media/config.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/unit/scores_test_util.h"

namespace {

// A scratch XDG_CONFIG_HOME; the settings are read afresh in each test.
struct Config : ::testing::Test {
  ScoreDir dir{"config"};
  std::string file = dir.path() + "/cfg/zephrant/config";
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (dir.path() + "/cfg").c_str(), 1);
    ForgetConfig();
  }
  void TearDown() override {
    unsetenv("XDG_CONFIG_HOME");
    ForgetConfig();
  }
};

}  // namespace

TEST_F(Config, KeepsWhatItDoesNotKnowAndRewritesOnlyItsOwnLines) {
  EXPECT_EQ(ConfigInt(u"volume", 7), 7);  // a missing file is made, with a header
  EXPECT_EQ(FileBytes(file).rfind("# zephrant settings", 0), 0u);
  WriteFileBytes(file,
                 "# mine\nvolume = 3\r\nfuture=x y\ngarbage line\n=nokey\nvolume=5\nwide=99999999999\n");
  ForgetConfig();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ConfigInt(u"volume", 0), 5);  // the last line of a key wins
  EXPECT_NE(testing::internal::GetCapturedStdout().find("2 line(s)"), std::string::npos);
  EXPECT_EQ(ConfigText(u"future"), u"x y");
  EXPECT_EQ(ConfigInt(u"future", -1), -1);
  EXPECT_EQ(ConfigInt(u"wide", -1), -1);  // out of range is not a number
  EXPECT_FALSE(SetConfigText(u"two words", u"1"));
  EXPECT_FALSE(SetConfigText(u"server", u"a\nvolume=0"));
  EXPECT_TRUE(SetConfigInt(u"volume", -2));
  EXPECT_TRUE(SetConfigText(u"server", u"board.example:7000"));
  EXPECT_TRUE(SaveConfig());
  EXPECT_EQ(FileBytes(file),
            "# mine\nvolume = 3\r\nfuture=x y\ngarbage line\n=nokey\nvolume=-2\n"
            "wide=99999999999\nserver=board.example:7000\n");
  ForgetConfig();
  EXPECT_EQ(ConfigText(u"server"), u"board.example:7000");
  EXPECT_EQ(ConfigInt(u"volume", 0), -2);
}

TEST_F(Config, AFileItCannotReadCostsOnlyTheSettingsAndIsLeftAlone) {
  std::filesystem::create_directories(dir.path() + "/cfg/zephrant");
  WriteFileBytes(dir.path() + "/elsewhere", "volume=1\n");
  std::filesystem::create_symlink(dir.path() + "/elsewhere", file);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ConfigInt(u"volume", 9), 9);  // never read through a link
  EXPECT_TRUE(SetConfigInt(u"volume", 4));
  EXPECT_EQ(ConfigInt(u"volume", 9), 4);  // still serves this run
  EXPECT_FALSE(SaveConfig());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("cannot be read"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_EQ(FileBytes(dir.path() + "/elsewhere"), "volume=1\n");

  // A folder that cannot be made: the settings last the run.
  std::filesystem::remove(file);
  std::filesystem::remove(dir.path() + "/cfg/zephrant");
  WriteFileBytes(dir.path() + "/cfg/zephrant", "a file where the folder goes");
  ForgetConfig();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(SetConfigInt(u"volume", 4));
  EXPECT_FALSE(SaveConfig());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("cannot be written"), std::string::npos);
  EXPECT_EQ(ConfigInt(u"volume", 9), 4);
}
