#include <gtest/gtest.h>

#include <SDL_scancode.h>

#include "media/graphics.h"
#include "media/input.h"
#include "tests/support/harness.h"

namespace {
struct InputTest : ::testing::Test {
  void SetUp() override {
    OpenGraphics(800, 600, 0, 0, 0);
    FlushKeyState();
  }
  void TearDown() override { CloseGraphics(); }
};
}  // namespace

TEST_F(InputTest, AutoRepeatCountsOneHitAndHoldingShowsDown) {
  PressKey(KEY_SPACE);
  for (int i = 0; i < 30; ++i) InjectInputEvent({InputEventKind::KeyRepeat, KEY_SPACE});
  EXPECT_EQ(KeyIsDown(KEY_SPACE), 1);
  EXPECT_EQ(KeyHits(KEY_SPACE), 1);
  EXPECT_EQ(KeyHits(KEY_SPACE), 0);
  ReleaseKey(KEY_SPACE);
  EXPECT_EQ(KeyIsDown(KEY_SPACE), 0);
}

TEST_F(InputTest, TwoPressesBetweenQueriesCountTwo) {
  TapKey(KEY_ESCAPE);
  TapKey(KEY_ESCAPE);
  EXPECT_EQ(KeyHits(KEY_ESCAPE), 2);
  EXPECT_EQ(KeyHits(KEY_ESCAPE), 0);
  PressKey(KEY_ESCAPE);
  PressKey(KEY_ESCAPE);  // a press while held counts nothing
  EXPECT_EQ(KeyHits(KEY_ESCAPE), 1);
}

TEST_F(InputTest, FocusChangesAndFlushForgetKeysHitsAndCharacters) {
  PressKey(KEY_LEFT);
  TypeText("ab");
  InjectInputEvent({InputEventKind::FocusLost, 0});
  EXPECT_EQ(KeyIsDown(KEY_LEFT), 0);
  EXPECT_EQ(KeyHits(KEY_LEFT), 0);
  EXPECT_EQ(NextTypedChar(), 0);
  EXPECT_EQ(AppSuspended(), 1);
  InjectInputEvent({InputEventKind::FocusGained, 0});
  PollSystem();
  EXPECT_EQ(AppSuspended(), 0);
  PressKey(KEY_DOWN);
  FlushKeyState();  // delivers the press first, then forgets it
  EXPECT_EQ(KeyIsDown(KEY_DOWN), 0);
  EXPECT_EQ(KeyHits(KEY_DOWN), 0);
}

TEST_F(InputTest, TypedCharactersQueueInOrderAndDropWhenFull) {
  InjectInputEvent({InputEventKind::Char, 0x263A});  // 16-bit code units pass unchanged
  TypeText("Hi");
  TapKey(KEY_BACKSPACE);
  TapKey(KEY_ENTER);
  EXPECT_EQ(NextTypedChar(), 0x263A);
  EXPECT_EQ(NextTypedChar(), 'H');
  EXPECT_EQ(NextTypedChar(), 'i');
  EXPECT_EQ(NextTypedChar(), 8);
  EXPECT_EQ(NextTypedChar(), 13);
  EXPECT_EQ(NextTypedChar(), 0);
  for (int i = 0; i < 300; ++i) InjectInputEvent({InputEventKind::Char, 'a' + i % 26});
  int n = 0;
  while (NextTypedChar()) ++n;
  EXPECT_EQ(n, 256);
}

TEST_F(InputTest, CloseRequestIsReportedOnce) {
  EXPECT_EQ(CloseRequested(), 0);
  InjectInputEvent({InputEventKind::Close, 0});
  EXPECT_EQ(CloseRequested(), 1);
  EXPECT_EQ(CloseRequested(), 0);
}

TEST_F(InputTest, WithoutAutoPollEventsWaitForPollSystem) {
  autoPoll = 0;
  PressKey(KEY_H);
  EXPECT_EQ(KeyIsDown(KEY_H), 0);
  PollSystem();
  EXPECT_EQ(KeyIsDown(KEY_H), 1);
  autoPoll = 1;
}

TEST_F(InputTest, ClosingTheDisplayStopsTracking) {
  PressKey(KEY_S);
  EXPECT_EQ(KeyIsDown(KEY_S), 1);
  CloseGraphics();
  PressKey(KEY_N);
  EXPECT_EQ(KeyIsDown(KEY_S), 0);
  EXPECT_EQ(KeyHits(KEY_N), 0);
  OpenGraphics(800, 600, 0, 0, 0);
}

TEST(KeyMap, ScancodesMapToTheGameCodes) {
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_A), 65);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_Z), 90);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_0), 48);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_9), 57);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_F1), 112);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_F12), KEY_F12);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_LEFT), KEY_LEFT);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_UP), KEY_UP);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_RIGHT), KEY_RIGHT);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_DOWN), KEY_DOWN);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_RETURN), KEY_ENTER);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_BACKSPACE), KEY_BACKSPACE);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_ESCAPE), KEY_ESCAPE);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_SPACE), KEY_SPACE);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_LSHIFT), KEY_LSHIFT);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_RSHIFT), KEY_RSHIFT);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_LCTRL), KEY_LCONTROL);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_RCTRL), KEY_RCONTROL);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_LALT), KEY_LALT);
  EXPECT_EQ(KeyCodeFromScancode(SDL_SCANCODE_RALT), KEY_RALT);
  EXPECT_EQ(KeyCodeFromScancode(-3), 0);
  // Letters follow the layout: the key at QWERTY's Y types 'z' on QWERTZ.
  EXPECT_EQ(KeyCodeFromKeysym(SDL_SCANCODE_Y, 'z'), 'Z');
  EXPECT_EQ(KeyCodeFromKeysym(SDL_SCANCODE_Z, 'y'), KEY_Y);
  EXPECT_EQ(KeyCodeFromKeysym(SDL_SCANCODE_Q, 'a'), 'A');
  EXPECT_EQ(KeyCodeFromKeysym(SDL_SCANCODE_F12, 0x4000045), KEY_F12);
  EXPECT_EQ(KeyCodeFromScancode(SDL_NUM_SCANCODES), 0);
}
