// Every frame a player sees looks the same whichever way it reaches the
// screen: the title with its wipe and then every regression replay are
// played twice through real Mesa GL, once drawn straightforwardly and once
// with the drawing shortcuts, and the frames looked at are compared.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "flow/title.h"
#include "media/audio.h"
#include "media/graphics.h"
#include "media/random.h"
#include "replay/replay.h"
#include "tests/support/harness.h"
#include "world/scoring.h"
#include "tests/support/paths.h"

namespace {

constexpr int STRIDE = 5;        // every 5th frame is looked at...
constexpr int MOST_LOOKS = 240;  // ...unless a long game would give more than this

struct Segment {
  std::string name;  // "title" or the replay's name
  ReplayData data;
  int stride = STRIDE;
};

std::vector<Segment> Segments() {
  std::vector<Segment> out{{"title", {}, 1}};
  std::vector<std::filesystem::path> files;
  for (auto& e : std::filesystem::directory_iterator(SourceDir() + "/tests/replays"))
    if (e.path().extension() == ".zrp") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    Segment s{path.stem().string(), {}, STRIDE};
    std::string why;
    EXPECT_EQ(DecodeReplay(bytes.data(), bytes.size(), s.data, why), ReplayParse::Ok)
        << path << ": " << why;
    int looks = int(s.data.frames) / STRIDE + 1;
    s.stride = STRIDE * ((looks + MOST_LOOKS - 1) / MOST_LOOKS);
    out.push_back(std::move(s));
  }
  return out;
}

using Look = std::function<void(const Segment&, int frame, const TRgbaPixels&)>;

// One pass over the title and every game. Only the frames looked at are
// drawn to pixels; the others are worked through without reaching any, so a
// long game stays affordable while the steady light is kept as in play.
void PlayAll(bool shortcuts, const std::vector<Segment>& segments, const Look& look) {
  SetDrawShortcuts(shortcuts);
  ASSERT_NE(OpenGraphics(800, 600, 0, 50, 0), nullptr);
  LoadMediaSet();
  const Segment* now = nullptr;
  int frame = 0;
  SetFrameHook([&] {
    if (!now) return;
    if (frame % now->stride == 0) look(*now, frame, GrabBackBuffer());
    ++frame;
    // With the shortcuts the frame before each one looked at is drawn too,
    // so that what the renderer keeps from frame to frame is used.
    const bool looked = frame % now->stride == 0 || (shortcuts && (frame + 1) % now->stride == 0);
    SetDrawingDiscarded(!looked);
    if (now->name == "title" && titleTime == 60) TapKey(KEY_SPACE);
  });
  for (const Segment& s : segments) {
    WaitingFor wait("the frames of " + s.name, 40 * int(s.data.frames) + 20000);
    now = &s;
    frame = 0;
    SetDrawingDiscarded(false);
    SeedRandom(1);
    if (s.name == "title") {
      RunTitleScreen();
      continue;
    }
    StartPlayback(s.data, false);
    std::string why;
    try {
      RunGame();
    } catch (const ReplayEnded&) {
      // the recording ends where the game over has settled the score
    } catch (const ReplayBroken& broken) {
      AbandonPlayback();
      ADD_FAILURE() << s.name << ": " << broken.why;
      continue;
    }
    EXPECT_TRUE(FinishPlayback(why)) << s.name << ": " << why;
    EXPECT_EQ(ReadScore(), s.data.score) << s.name;
  }
  SetFrameHook(nullptr);
  CloseGraphics();
  SetDrawShortcuts(true);
}

constexpr size_t FRAME_BYTES = 800 * 600 * 4;
constexpr size_t LABEL_BYTES = 64;  // the segment's name and frame, before each frame
constexpr const char* PASS_ENV = "ZEPHRANT_FRAMES_PASS";
constexpr char FRAMES_START[] = "\nFRAMES\n";  // after what gtest printed at its start

// One pass, run by a fresh process of this test: whatever earlier tests of
// this binary left in the world (a score, a level label) must not show in
// one pass and not the other.
FILE* StartPass(const char* pass) {
  setenv(PASS_ENV, pass, 1);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  FILE* f = popen(("exec '" + self + "' --gtest_filter=ReplayFrames.*").c_str(), "r");
  unsetenv(PASS_ENV);
  if (!f) return nullptr;
  std::string head;
  for (int c; head.size() < 8 || head.compare(head.size() - 8, 8, FRAMES_START) != 0;) {
    if ((c = std::fgetc(f)) == EOF) {
      ADD_FAILURE() << "the " << pass << " pass drew nothing: " << head;
      pclose(f);
      return nullptr;
    }
    head += char(c);
  }
  return f;
}

// Reads the next frame of a pass; false at its end.
bool ReadFrame(FILE* f, std::string& label, TRgbaPixels& p) {
  char l[LABEL_BYTES];
  if (std::fread(l, 1, LABEL_BYTES, f) != LABEL_BYTES) return false;
  label.assign(l, strnlen(l, LABEL_BYTES));
  return std::fread(p.rgba.data(), 1, FRAME_BYTES, f) == FRAME_BYTES;
}

}  // namespace

// Both passes are drawn by two more processes of this test at the same
// time and read from their output as they come, so no frame needs keeping.
TEST(ReplayFrames, EveryGameLooksTheSameWithTheShortcuts) {
#if defined(ZEPHRANT_SANITIZE)
  // The longest test by far when checked; the same drawing code runs checked
  // in GoldenFrames and the frames scenarios, and is compared here in the
  // normal build.
  GTEST_SKIP() << "compared in the normal build";
#endif
  SelectAudioDriver(u"Null");
  RegisterMediaFiles();
  const std::vector<Segment> segments = Segments();
  if (const char* pass = std::getenv(PASS_ENV)) {
    int out = dup(1);  // the frames; what gtest prints goes nowhere
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    ASSERT_EQ(write(out, FRAMES_START, 8), 8);
    PlayAll(std::string(pass) == "shortcuts", segments,
            [&](const Segment& s, int frame, const TRgbaPixels& p) {
              char label[LABEL_BYTES] = {};
              std::snprintf(label, LABEL_BYTES, "%s frame %d", s.name.c_str(), frame);
              ASSERT_EQ(p.rgba.size(), FRAME_BYTES);
              ASSERT_EQ(write(out, label, LABEL_BYTES), ssize_t(LABEL_BYTES));
              ASSERT_EQ(write(out, p.rgba.data(), FRAME_BYTES), ssize_t(FRAME_BYTES));
            });
    close(out);
    return;
  }
  FILE* straight = StartPass("straight");
  FILE* shortcuts = StartPass("shortcuts");
  ASSERT_TRUE(straight && shortcuts);

  int looked = 0, worst = 0, bad = 0;
  double worstMean = 0;
  std::string first;
  TRgbaPixels want{800, 600, std::vector<uint8_t>(FRAME_BYTES)};
  TRgbaPixels p{800, 600, std::vector<uint8_t>(FRAME_BYTES)};
  std::string wantLabel, label;
  while (ReadFrame(shortcuts, label, p)) {
    ++looked;
    if (!ReadFrame(straight, wantLabel, want) || wantLabel != label) {
      if (bad++ == 0) first = label + ": missing from the straightforward pass";
      break;
    }
    if (std::memcmp(p.rgba.data(), want.rgba.data(), FRAME_BYTES) == 0) continue;
    int most = 0;
    long long sum = 0;
    for (size_t i = 0; i < FRAME_BYTES; ++i) {
      if (i % 4 == 3) continue;  // the screen's alpha is never shown
      int e = std::abs(int(p.rgba[i]) - int(want.rgba[i]));
      sum += e;
      most = std::max(most, e);
    }
    double mean = double(sum) / (800 * 600 * 3);
    worst = std::max(worst, most);
    worstMean = std::max(worstMean, mean);
    if (most <= 2 && mean <= 1.0) continue;
    if (bad++ == 0) {
      first = label + ": up to " + std::to_string(most) + " levels, mean " + std::to_string(mean);
      std::string base = FramesDir() + "/replay-" + label;
      std::replace(base.begin(), base.end(), ' ', '-');
      SaveRgbaPNG(want, base + "-straight.png");
      SaveRgbaPNG(p, base + ".png");
    }
  }
  EXPECT_FALSE(ReadFrame(straight, wantLabel, want)) << "more straightforward frames";
  EXPECT_EQ(pclose(straight), 0);
  EXPECT_EQ(pclose(shortcuts), 0);
  EXPECT_GT(looked, 100) << "the passes drew too little";
  std::printf("%d frames compared: worst %d levels, worst mean %.4f\n", looked, worst, worstMean);
  EXPECT_EQ(bad, 0) << bad << " frames differ; the first: " << first
                    << " (both saved in build/frames)";
}
