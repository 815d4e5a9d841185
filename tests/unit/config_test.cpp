#include "media/config.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "tests/unit/scores_test_util.h"

TEST(Config, KeepsWhatItDoesNotKnowAndFollowsOnlyThePlayersOwnLinks) {
  ScoreDir dir("config");
  std::string kept = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  std::string file = dir.path() + "/cfg/zephrant/config";
  setenv("XDG_CONFIG_HOME", (dir.path() + "/cfg").c_str(), 1);
  ForgetConfig();
  EXPECT_EQ(ConfigInt(u"volume", 7), 7);  // a missing file is made, with a header
  EXPECT_EQ(FileBytes(file).rfind("# zephrant settings", 0), 0u);
  WriteFileBytes(
      file, "# mine\nvolume = 3\r\nfuture=x y\nbad line\n=nokey\nvolume=5\nwide=99999999999\n");
  ForgetConfig();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ConfigInt(u"volume", 0), 5);  // the last line of a key wins
  EXPECT_NE(testing::internal::GetCapturedStdout().find("2 line(s)"), std::string::npos);
  EXPECT_EQ(ConfigText(u"future"), u"x y");
  EXPECT_EQ(ConfigInt(u"wide", -1), -1);  // out of range is not a number
  EXPECT_FALSE(SetConfigText(u"two words", u"1"));
  EXPECT_FALSE(SetConfigText(u"server", u"a\nvolume=0"));
  EXPECT_TRUE(SetConfigInt(u"volume", -2) && SetConfigText(u"server", u"b:7") && SaveConfig());
  EXPECT_EQ(FileBytes(file),
            "# mine\nvolume = 3\r\nfuture=x y\nbad line\n=nokey\nvolume=-2\n"
            "wide=99999999999\nserver=b:7\n");

  // A link of the player's own to a file of theirs is read through, and the
  // file it leads to is replaced, the link staying.
  std::string target = dir.path() + "/elsewhere";
  std::filesystem::rename(file, target);
  std::filesystem::create_symlink(target, file);
  ForgetConfig();
  EXPECT_EQ(ConfigInt(u"volume", 9), -2);
  EXPECT_TRUE(SetConfigInt(u"volume", 4) && SaveConfig());
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_NE(FileBytes(target).find("\nvolume=4\n"), std::string::npos);

  // Someone else's link, or a link into someone else's file, is neither
  // read nor replaced: the settings then last the run.
  if (geteuid() == 0) {
    for (std::string owned : {file, target}) {
      ASSERT_EQ(lchown(owned.c_str(), 65534, 65534), 0);
      ForgetConfig();
      testing::internal::CaptureStdout();
      EXPECT_EQ(ConfigInt(u"volume", 9), 9);
      EXPECT_TRUE(SetConfigInt(u"volume", 5));
      EXPECT_FALSE(SaveConfig());
      EXPECT_NE(testing::internal::GetCapturedStdout().find("owned by someone else"),
                std::string::npos);
      EXPECT_NE(FileBytes(target).find("\nvolume=4\n"), std::string::npos);
      ASSERT_EQ(lchown(owned.c_str(), 0, 0), 0);
    }
  }
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
  ForgetConfig();
}
