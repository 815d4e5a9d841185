#include "scores/board.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "flow/flow_state.h"
#include "flow/media_set.h"
#include "flow/title.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/stream.h"
#include "scores/entry_replays.h"
#include "replay/verify.h"
#include "scores/online.h"
#include "scores/online_identity.h"
#include "scores/score_table.h"
#include "world/scoring.h"

int boardOpen = 0;
int boardAnim = 0;
int boardPage = 1;
int localTop = 0;
int onlineTop = 0;
int watchRow = -1;
int watchLine = -1;

namespace {

constexpr int VISIBLE_ROWS = 12;
constexpr int LOCAL_TOP_MAX = 13;
// With 12 rows in view the 1000th entry stays just out of reach, as on the
// board the players know.
constexpr int ONLINE_TOP_MAX = 987;
constexpr int FADE_FRAMES = 20;
constexpr int HELP_PHASE_FRAMES = 120;
constexpr int NOTICE_FRAMES = 150;  // three seconds at 50 frames a second

// A line about the last ENTER that had nothing to show, in place of the help.
Text notice;
int noticeFrames = 0;

void Notice(const Text& text) {
  notice = text;
  noticeFrames = NOTICE_FRAMES;
}

constexpr const char16_t* HELP_LINES[] = {
    u"Cursor left/right to change online/local.",
    u"Cursor up/down to scroll current board.",
    u"Press the SPACE BAR to go back.",
    u"Press (S) to synchronize the online scores.",
    u"(W) picks a replay, ENTER watches it.",
    nullptr,  // a pause before the lines come round again
};

float Frac(float x) { return std::fmod(x, 1.0f); }

// Puts the player's own row sixth on the online page.
void PreScroll() {
  onlineTop = onlineRank - 6;
  if (onlineRank < 12) onlineTop = 0;
  if (onlineRank > ONLINE_TOP_MAX) onlineTop = ONLINE_TOP_MAX;
}

void DrawPanelBackground() {
  DrawPanelBox(boardAnim < FADE_FRAMES ? 0.045f * boardAnim : 0.9f, 40, 5, 40);
}

// W: the marker moves to the next local entry that has a replay, and the
// page scrolls to show it.
void PickNextReplay() {
  boardPage = 1;
  std::vector<uint8_t> bytes;
  for (int step = 1; step <= LOCAL_ROWS; ++step) {
    int row = (watchRow + step + LOCAL_ROWS) % LOCAL_ROWS;
    if (!LoadEntryReplay(row, bytes)) continue;
    watchRow = row;
    if (row < localTop) localTop = row;
    if (row >= localTop + VISIBLE_ROWS) localTop = std::min(row - VISIBLE_ROWS + 1, LOCAL_TOP_MAX);
    return;
  }
  watchRow = -1;
}

// The lines of the online board the server keeps a replay of, asked once
// after each synchronisation.
std::vector<int> replayLines;
enum class LineList { Unasked, Known, NotGiven } lineList = LineList::Unasked;

void ShowSyncStatus();

// W on the online page: the marker moves to the next line of the board
// whose replay the server keeps. A server that gives no list has every
// line stepped through, as the player cannot know better.
void PickNextOnlineLine() {
  if (lineList == LineList::Unasked) {
    ShowSyncStatus();
    lineList = FetchReplayLines(replayLines) ? LineList::Known : LineList::NotGiven;
    FlushKeyState();
  }
  if (lineList == LineList::Known && replayLines.empty()) {
    watchLine = -1;
    Notice(u"The server keeps no replays.");
    return;
  }
  if (lineList == LineList::NotGiven) {
    watchLine = (watchLine + 1) % ONLINE_ROWS;
  } else {
    auto next = std::upper_bound(replayLines.begin(), replayLines.end(), watchLine + 1);
    watchLine = (next == replayLines.end() ? replayLines.front() : *next) - 1;
  }
  if (watchLine < onlineTop) onlineTop = watchLine;
  if (watchLine >= onlineTop + VISIBLE_ROWS)
    onlineTop = std::min(watchLine - VISIBLE_ROWS + 1, ONLINE_TOP_MAX);
}

// ENTER: the marked game plays in the window, from the local entry's file
// or fetched from the score server; ESC ends it early.
void WatchPickedReplay() {
  std::vector<uint8_t> bytes;
  if (boardPage == 1 && (watchRow < 0 || !LoadEntryReplay(watchRow, bytes))) {
    Notice(u"No replay picked: (W) picks one.");
    return;
  }
  if (boardPage == 2 && watchLine < 0) {
    Notice(u"No line picked: (W) picks one.");
    return;
  }
  if (boardPage == 2 && !FetchLineReplay(watchLine + 1, bytes)) {
    PrintLine(u"no replay of online line " + IntText(watchLine + 1));
    Notice(u"The server keeps no replay of line " + IntText(watchLine + 1) + u".");
    FlushKeyState();
    return;
  }
  WatchReplayInGame(bytes.data(), bytes.size());
  musicChannel = musicTitle ? musicTitle->Cue() : nullptr;
  if (musicChannel) {
    musicChannel->SetVolume(musicMaster * musicVolume);
    musicChannel->SetPaused(false);
  }
  SetAlpha(1);
  SetDrawScale(1, 1);
  SetDrawRotation(0);
  SetColor(255, 255, 255);
  SetBlend(BLEND_LIGHT);
  FlushKeyState();
}

void ReadPanelKeys() {
  if (KeyHits(KEY_W)) {
    if (boardPage == 2)
      PickNextOnlineLine();
    else
      PickNextReplay();
  }
  if (KeyHits(KEY_ENTER)) WatchPickedReplay();
  if (KeyHits(KEY_S)) {
    SetCurrentFont(bigFont);
    SyncOnlineScores();
    SetCurrentFont(smallFont);
    PreScroll();
    boardPage = 2;
  }
  if (KeyHits(KEY_LEFT) || KeyHits(KEY_RIGHT)) boardPage = boardPage == 1 ? 2 : 1;
  int& top = boardPage == 1 ? localTop : onlineTop;
  int topMax = boardPage == 1 ? LOCAL_TOP_MAX : ONLINE_TOP_MAX;
  if (KeyIsDown(KEY_DOWN) && top < topMax) ++top;
  if (KeyIsDown(KEY_UP) && top > 0) --top;
}

Text PositionText(int r) {
  Text n = IntText(r + 1);
  return LeftText(u"000", 3 - static_cast<int>(n.size())) + n + u")";
}

void DrawRows() {
  SetCurrentFont(defaultFont);
  int top = boardPage == 1 ? localTop : onlineTop;
  for (int r = top; r < top + VISIBLE_ROWS; ++r) {
    float y = static_cast<float>(130 + 24 * (r - top));
    Text record = CipherText(boardPage == 1 ? localScores[r] : onlineBoard[r]);
    SetColorHSL(Frac(0.1f * r + 0.025f * (titleTime / 4)), 0.6f, 0.6f);
    if ((boardPage == 1 && r == watchRow) || (boardPage == 2 && r == watchLine)) {
      SetColor(0, 64, 0);
      DrawRect(90, y, 308, 13);
      SetColorHSL(Frac(0.1f * r + 0.025f * (titleTime / 4)), 0.6f, 0.6f);
    }
    if (boardPage == 2 && r == onlineRank - 1) {
      SetColor(128, 0, 0);
      DrawRect(90, y, 308, 13);
      SetColor(255, 255, 255);
      DrawString(MidText(record, 1, 20), 181, y);
    }
    DrawString(PositionText(r), 100, y);
    DrawString(MidText(record, 1, 20), 180, y);
    DrawString(MidText(record, 21, 2), 520, y);
    DrawString(MidText(record, 23, 7), 580, y);
  }
}

Text RankLine() {
  if (onlineRank == -1) return u"You have no online ranked postion.";
  if (onlineRank == 0) return u"Please sync the scores. (press S)";
  return u"You have an online rank of #" + IntText(onlineRank);
}

void DrawSyncFailed() {
  Cls();
  DrawSyncStatusLines();
  DrawCentredText(u"----- failed -----", 400);
  Flip(-1);
  DelayMillis(2000);
}

void ShowSyncStatus() {
  Cls();
  DrawSyncStatusLines();
  Flip(-1);
}

}  // namespace

void OpenBoardIfRequested() {
  if (!KeyHits(KEY_H)) return;
  LoadOnlineName();
  PreScroll();
  boardOpen = 1;
  noticeFrames = 0;
  lineList = LineList::Unasked;
  boardAnim = 0;
}

void BoardPanelStep() {
  DrawPanelBackground();
  ++boardAnim;
  if (boardAnim <= FADE_FRAMES) return;

  ReadPanelKeys();

  SetDrawScale(2, 2);
  SetColor(255, 0, 255);
  SetCurrentFont(smallFont);
  Text title = boardPage == 1 ? u"-= LOCAL HIGH SCORES =-" : u"-= ONLINE HIGH SCORES =-";
  DrawCentredText2x(title, 90);

  DrawRows();

  SetCurrentFont(smallFont);
  SetDrawScale(3, 3);
  SetColor(255, 255, 255);
  Text rank = RankLine();
  DrawString(rank, 400 - 1.5f * StringWidth(rank), 440);
  if (boardPage == 2) {  // who the board knows the player as, and where
    SetDrawScale(2, 2);
    DrawCentredText2x(u"playing online as " + onlineName, 478);
    SetDrawScale(1, 1);
    SetColor(160, 160, 160);
    DrawCentredText(u"server " + ScoreServerHost(), 116);
  }

  SetDrawScale(2, 2);
  SetColorHSL(Frac(0.05f * boardAnim), 0.5f, 0.4f);
  constexpr int helpCount = sizeof HELP_LINES / sizeof HELP_LINES[0];
  if (noticeFrames > 0) {
    --noticeFrames;
    SetColor(255, 96, 96);
    DrawCentredText2x(notice, 510);
  } else if (const char16_t* help =
                 HELP_LINES[((boardAnim - FADE_FRAMES) / HELP_PHASE_FRAMES) % helpCount]) {
    Text line = help;
    DrawCentredText2x(line, 510);
  }
  SetDrawScale(1, 1);

  if (KeyHits(KEY_SPACE)) {
    boardOpen = 0;
    FlushKeyState();
  }
}

// Downloads the board, offers at most one pending local entry (the best one
// that beats the board's last line), marks every such entry as offered once
// that upload went through, and downloads the board again; only a second
// download that succeeded is saved.
void SyncOnlineScores() {
  lineList = LineList::Unasked;
  LoadOnlineName();
  SetColor(255, 255, 255);
  onlineRank = -1;
  int result;
  do {
    ShowSyncStatus();
    result = FetchOnlineScores(1);
  } while (result == 2);
  if (result == 0) {
    DrawSyncFailed();
    return;
  }

  // An upload that failed (the player declined to retry) marks nothing: the
  // entries stay pending for the next synchronisation.
  int lowest = TextToInt(onlineRows[999][2]);
  bool offered = false;
  for (int i = 0; i < LOCAL_ROWS; ++i) {
    Text record = CipherText(localScores[i]);
    if (TextToInt(MidText(record, 23, 7)) <= lowest || MidText(record, 30, 1) != u"1") continue;
    if (!offered) {
      int posted;
      while ((posted = PostOnlineScore(i)) == 2) {
      }
      if (posted == 0) break;
      offered = true;
    }
    localScores[i] = CipherText(LeftText(record, 29) + u"0");
  }

  do {
    result = FetchOnlineScores(2);
  } while (result == 2);
  if (result == 0) {
    DrawSyncFailed();
    return;
  }
  PrintLine(u"SAVING SCORES TO DISK!!!");
  SaveScoreFile();
}
