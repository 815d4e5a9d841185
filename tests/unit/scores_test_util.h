// Shared set-up for the high-score tests: a scratch working directory for
// vek.hsf, a headless display for the screens, and record helpers.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "flow/flow_state.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/input.h"
#include "scores/score_table.h"
#include "tests/support/harness.h"

// Runs the test inside a fresh directory and goes back afterwards.
class ScoreDir {
 public:
  explicit ScoreDir(const std::string& tag) : old_(std::filesystem::current_path()) {
    dir_ = MakeTempDir(tag);
    EXPECT_FALSE(dir_.empty());
    std::filesystem::current_path(dir_);
  }
  ~ScoreDir() {
    std::filesystem::current_path(old_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return dir_; }

 private:
  std::filesystem::path old_;
  std::string dir_;
};

inline std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline Text PlainLocal(int row) { return CipherText(localScores[row]); }
inline Text PlainOnline(int row) { return CipherText(onlineBoard[row]); }

// The record at byte offset `at` of a file image, deciphered.
inline Text PlainAt(const std::string& bytes, size_t at) {
  return CipherText(AsciiText(std::string_view(bytes).substr(at, RECORD_LENGTH)));
}

inline int64_t ChecksumField(const std::string& bytes) {
  int64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[30750 + i]);
  return v;
}

// A headless display whose frames run a callback, counted from 1.
class FrameScript {
 public:
  explicit FrameScript(std::function<void(int)> onFrame) : onFrame_(std::move(onFrame)) {
    OpenGraphics(800, 600, 0, 0, 0);
    SetFrameHook([this] { onFrame_(++frames); });
  }
  ~FrameScript() {
    SetFrameHook(nullptr);
    CloseGraphics();
  }
  int frames = 0;

 private:
  std::function<void(int)> onFrame_;
};

// The logic clock as a game over finds it after level 1.
inline void ResetPlayClock() {
  tickRate = 60;
  tickMs = 16;
  lastTick = ElapsedMillis();
  chaserCount = 1;
  levelLabel = u"A1";
}

// Types the name once the entry's first frame is on screen (the entry
// flushes the keys when it starts).
inline void EnterWithName(const std::string& typed) {
  WaitingFor wait("the name entry to end on Enter", 100);
  FrameScript script([&](int frame) {
    if (frame == 1) TypeText(typed);
  });
  ResetPlayClock();
  InsertLocalScore();
}
