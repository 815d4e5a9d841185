// The comforts beside the game: a pause by key and by a lost focus that
// holds the world still and verifies in its replay; the volume keys with
// their settings file, with full screen kept there too.
#include "flow/comfort.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "flow/options.h"
#include "media/audio.h"
#include "media/config.h"
#include "media/graphics.h"
#include "media/random.h"
#include "replay/replay.h"
#include "replay/verify.h"
#include "scores/board.h"
#include "scores/online.h"
#include "scores/online_identity.h"
#include "tests/scenario/world_bot.h"
#include "tests/support/paths.h"
#include "tests/unit/online_test_util.h"
#include "tests/unit/scores_test_util.h"

namespace {

struct TStill {
  TOutcome outcome;
  int x, y, rnd, chaserX;
  bool operator==(const TStill&) const = default;
};
TStill Still() { return {Outcome(), player->x, player->y, RandomState(), chaser1->x}; }

int Parse(std::vector<const char*> argv) {  // the command line, after "zephrant"
  argv.insert(argv.begin(), "zephrant");
  return ParseOptions(static_cast<int>(argv.size()), argv.data());
}

void SaveFrame(const char* name) {
  SaveBackBufferPNG((std::filesystem::path(FramesDir()) / name).string());
}

}  // namespace

TEST(ComfortScenario, PAndALostFocusHoldTheWorldAndTheGameStillVerifies) {
  enum { TITLE, PLAY, KEY_PAUSE, FOCUS_PAUSE, AFTER, DONE } phase = TITLE;
  TGridBot bot;
  int startTitleTime = 0, frames = 0, pausedFrames = 0;
  TStill before{};
  // Counts the paused frames, the world unchanged through them; true at the 120th.
  auto heldStill = [&] {
    if (!gamePaused) return false;
    if (pausedFrames == 0) before = Still();
    EXPECT_EQ(Still(), before) << "after " << pausedFrames << " paused frames";
    return ++pausedFrames == 120;
  };
  int status = RunWholeProgram(
      MakeTempDir("comfort-pause"),
      [&] {
        switch (phase) {
          case TITLE:
            if (StartGameFromTitle(startTitleTime)) phase = PLAY;
            break;
          case PLAY:
            bot.PaintStep(chaserCount);
            if (++frames == 150) {
              bot.LetGo();
              TapKey(KEY_P);
              phase = KEY_PAUSE;
            }
            break;
          case KEY_PAUSE:
            if (pausedFrames == 60) SaveFrame("comfort_paused.png");
            if (heldStill()) {
              TapKey(KEY_P);
              pausedFrames = 0;
              phase = FOCUS_PAUSE;
            }
            break;
          case FOCUS_PAUSE:
            // Once P has let the game go on, the window loses the focus.
            if (!gamePaused && pausedFrames == 0) InjectInputEvent({InputEventKind::FocusLost, 0});
            if (heldStill()) {
              InjectInputEvent({InputEventKind::FocusGained, 0});
              phase = AFTER;
            }
            break;
          case AFTER:  // the paused time is not caught up; ESC from a pause leaves
            if (gamePaused) {
              TapKey(KEY_ESCAPE);
              phase = DONE;
            } else if (pausedFrames > 0) {
              EXPECT_LE(ticksDue, 1);
              TapKey(KEY_P);
              pausedFrames = 0;
            }
            break;
          case DONE:
            if (BackOnTitle(startTitleTime)) TapKey(KEY_ESCAPE);
            break;
        }
      },
      20000, true);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(phase, DONE);
  const auto& bytes = LastGameReplay();
  VerifyResult result = VerifyReplayBytes(bytes.data(), bytes.size());
  EXPECT_EQ(result.status, VERIFY_VALID) << result.line;
}

TEST(ComfortScenario, VolumeKeysAndTheServerChoiceAreKeptInTheSettings) {
  // The board keeps replays of lines 2 and 5 and serves none of them.
  ScriptedServer server([](int, const std::string& request) {
    return HttpReply(request.find("?lines") != std::string::npos ? "bof\nlines\n2\n5\n"
                                                                 : "bof\nnone\n");
  });
  std::string file = std::string(getenv("XDG_CONFIG_HOME")) + "/zephrant/config";
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  WriteFileBytes(file,
                 "future=1\nvolume=4\nfullscreen=1\nserver=" + ByteString(server.Host()) + "\n");
  ForgetConfig();

  // --server wins over the settings, for this run only; each server has its key.
  ASSERT_EQ(Parse({"--server", "Board.Example:81"}), -1);
  EXPECT_EQ(ScoreServerHost(), u"board.example:81");
  EXPECT_EQ(OnlineKeyFile(ScoreServerHost()), u"/online-key-board.example_81");
  EXPECT_EQ(OnlineKeyFile(BuiltInScoreServerHost()), u"/online-key");
  ASSERT_EQ(Parse({"--server", "[FD00::2]:8480"}), -1);  // IPv6 in brackets
  EXPECT_EQ(ScoreServerHost(), u"[fd00::2]:8480");
  EXPECT_EQ(Parse({"--server", "[::1]x"}), 2);
  EXPECT_EQ(Parse({"--server", "x:0"}), 2);
  ASSERT_EQ(Parse({}), -1);
  EXPECT_EQ(ScoreServerHost(), server.Host());

  // One step every fourth title frame, from the 20th on; the game opens in
  // full screen as the last run left it, and F12 goes back to a window.
  auto depth = [] { return Current2D()->_graphics->depth; };
  std::vector<std::function<void()>> script = {
      [&] {
        EXPECT_EQ(depth(), 32);
        EXPECT_EQ(VolumeStep(), 4);
        EXPECT_FLOAT_EQ(MasterVolume(), 0.16f);
        TypeText("-");
        TapKey(KEY_M);
        TypeText("+=");  // unmutes, then two steps up
      },
      [] { TapKey(KEY_F12); },
      [&] {
        EXPECT_EQ(depth(), 0);
        EXPECT_EQ(VolumeStep(), 5);
        EXPECT_FLOAT_EQ(MasterVolume(), 0.25f);
        SaveFrame("comfort_volume.png");
        SetTypingText(true);  // as in the name entry: typed, not acted on
        TypeText("-");
        TapKey(KEY_M);
      },
      [] {
        EXPECT_EQ(VolumeStep(), 5);
        EXPECT_FALSE(Muted());
        SetTypingText(false);
        TapKey(KEY_H);
      }};
  // Then the board (after its fade): its online page, where W visits only
  // the lines with a replay and ENTER on one the server has not says so.
  // Each key comes with the marked line expected before it (-2: any).
  const int keys[][2] = {{0, -2},    {0, -2},         {0, -2},        {0, -2},
                         {0, -2},    {KEY_RIGHT, -2}, {KEY_W, -1},    {KEY_W, 1},
                         {KEY_W, 4}, {KEY_ENTER, 1},  {KEY_SPACE, 1}, {KEY_ESCAPE, 1}};
  for (const auto& k : keys)
    script.push_back([key = k[0], marked = k[1]] {
      if (marked != -2) { EXPECT_EQ(watchLine, marked); }
      if (key == KEY_SPACE) SaveFrame("comfort_board_notice.png");
      if (key == KEY_ESCAPE) { EXPECT_EQ(boardOpen, 0); }
      if (key) TapKey(key);
    });
  size_t step = 0;
  int last = 0;  // frames outside the title (the fetch's) do not count
  int status = RunWholeProgram(
      MakeTempDir("comfort-volume"),
      [&] {
        if (titleTime == last || titleTime < 20 || titleTime % 8 || step == script.size()) return;
        last = titleTime;
        script[step++]();
      },
      3000, true);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(step, script.size());
  // W asked for the lines with a replay once, ENTER for line 2's replay.
  std::vector<std::string> asked = server.Requests();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_NE(asked[0].find("replay.php?lines HTTP/1.0\r\n\n\r\n"), std::string::npos) << asked[0];
  EXPECT_NE(asked[1].find("replay.php?line=2 HTTP"), std::string::npos) << asked[1];
  EXPECT_EQ(FileBytes(file),
            "future=1\nvolume=5\nfullscreen=0\nserver=" + ByteString(server.Host()) + "\nmute=0\n");
  SetScoreServerHost(Text());

  // Every key the game read in this run is explained by --help, the README
  // and the manual page.
  testing::internal::CaptureStdout();
  Parse({"--help"});
  const std::string docs[] = {testing::internal::GetCapturedStdout(),
                              FileBytes(SourceDir() + "/README.md"),
                              FileBytes(SourceDir() + "/packaging/zephrant.6")};
  EXPECT_GE(ConfigKeysRead().size(), 7u);
  for (const Text& key : ConfigKeysRead())
    for (const std::string& doc : docs)
      EXPECT_TRUE(doc.find(ByteString(key) + "=") != std::string::npos ||
                  doc.find(ByteString(key) + " =") != std::string::npos)  // the manual's .BR
          << ByteString(key) << " is not explained in " << doc.substr(0, 40);
}
