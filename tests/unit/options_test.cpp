#include "flow/options.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/unit/scores_test_util.h"

namespace {

int Parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"zephrant"};
  argv.insert(argv.end(), args);
  return ParseOptions(static_cast<int>(argv.size()), argv.data());
}

// Restores the environment and the write folder after each test.
struct Options : ::testing::Test {
  std::string home = getenv("HOME") ? getenv("HOME") : "";
  void TearDown() override {
    SetWriteFolder(Text());
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
  }
};

}  // namespace

TEST_F(Options, HelpVersionAndUnknownOptionsEndAtOnce) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"--help"}), 0);
  std::string help = testing::internal::GetCapturedStdout();
  EXPECT_EQ(help.rfind("Usage: zephrant [OPTION]...\n", 0), 0u);
  EXPECT_NE(help.find("--user-data"), std::string::npos);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"-V"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "zephrant (QUARV: Zephrant) 1.02\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(Parse({"--user-data", "--fast"}), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("'--fast'"), std::string::npos);
  EXPECT_EQ(WriteFolder(), Text());  // nothing was set up for a run that does not start
  EXPECT_EQ(Parse({}), -1);
  EXPECT_EQ(WritePath(u"vek.hsf"), u"vek.hsf");
}

TEST_F(Options, UserDataKeepsTheScoresInTheDataFolderMadeWhenMissing) {
  ScoreDir dir("options");
  std::string data = std::filesystem::current_path() / "deep/data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  EXPECT_EQ(Parse({"--user-data"}), -1);
  EXPECT_EQ(WriteFolder(), AsciiText(data + "/zephrant/"));
  EXPECT_TRUE(std::filesystem::is_directory(data + "/zephrant"));
  LoadScoreFile();
  EXPECT_EQ(std::filesystem::file_size(data + "/zephrant/vek.hsf"), 30758u);
  EXPECT_FALSE(std::filesystem::exists("vek.hsf"));

  // A relative XDG_DATA_HOME does not count: the home folder's default does.
  setenv("XDG_DATA_HOME", "relative", 1);
  setenv("HOME", std::filesystem::current_path().c_str(), 1);
  EXPECT_EQ(Parse({"--user-data"}), -1);
  EXPECT_TRUE(std::filesystem::is_directory(".local/share/zephrant"));

  // A file in the way: said on standard error, and the game still starts.
  std::ofstream(".local/share/zephrant/blocked").put('x');
  setenv("XDG_DATA_HOME",
         (std::filesystem::current_path() / ".local/share/zephrant/blocked").c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Parse({"--user-data"}), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot make the data folder"),
            std::string::npos);
}
