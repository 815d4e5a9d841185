// A player for scenario tests: finds its way over the level grid and steers
// the ship with the cursor keys, like a person at the keyboard.
#pragma once
#include <array>
#include <deque>
#include <functional>
#include <ostream>
#include <string>

#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/input.h"
#include "scores/score_table.h"
#include "tests/support/harness.h"
#include "world/chaser.h"
#include "world/level.h"
#include "world/player.h"
#include "world/scoring.h"

// Where a scripted game stands. Scenarios assert it exactly: the games are
// deterministic, so a fault that changes the numbers anywhere is caught.
struct TOutcome {
  int score, level, cellsLeft, health;
  bool operator==(const TOutcome&) const = default;
};
inline TOutcome Outcome() { return {ReadScore(), level, cellsLeft, ReadHealth()}; }
inline std::ostream& operator<<(std::ostream& out, const TOutcome& o) {
  return out << "{" << o.score << ", " << o.level << ", " << o.cellsLeft << ", " << o.health << "}";
}

class TGridBot {
 public:
  // The cell the ship is resting on or heading into.
  static std::pair<int, int> ShipCell() {
    int x = player->x + 8 * player->dx * player->move;
    int y = player->y + 8 * player->dy * player->move;
    return {CellOfX(x), CellOfY(y)};
  }

  // First step of the shortest path over line cells from the ship to a cell
  // that `goal` accepts (not the start), or (0, 0). `avoid` marks cells the
  // path should not cross.
  static std::pair<int, int> FirstStep(const std::function<bool(int, int)>& goal,
                                       const std::function<bool(int, int)>& avoid) {
    auto [sx, sy] = ShipCell();
    static std::array<std::array<int, GRID_H>, GRID_W> from;
    for (auto& col : from) col.fill(-1);
    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, -1}, {0, 1}};
    std::deque<std::pair<int, int>> queue{{sx, sy}};
    from[sx][sy] = 4;
    while (!queue.empty()) {
      auto [x, y] = queue.front();
      queue.pop_front();
      if ((x != sx || y != sy) && goal(x, y)) {
        // Walk back to the cell next to the start.
        while (true) {
          int d = from[x][y];
          int px = x - steps[d][0], py = y - steps[d][1];
          if (px == sx && py == sy) return {steps[d][0], steps[d][1]};
          x = px;
          y = py;
        }
      }
      for (int d = 0; d < 4; d++) {
        int nx = x + steps[d][0], ny = y + steps[d][1];
        if (nx < 0 || ny < 0 || nx >= GRID_W || ny >= GRID_H) continue;
        if (from[nx][ny] != -1 || levelGrid[nx][ny] == 0 || IsPlayerGap(nx, ny)) continue;
        if (avoid && avoid(nx, ny)) continue;
        from[nx][ny] = d;
        queue.push_back({nx, ny});
      }
    }
    return {0, 0};
  }

  // Cells near a chaser that is in play.
  static bool NearChaser(int x, int y, int chasers) {
    for (int i = 0; i < chasers; i++) {
      TChaser* c = i == 0 ? chaser1 : chaser2;
      if (!c) continue;
      int cx = CellOfX(c->x + c->dx * 6 * c->move), cy = CellOfY(c->y + c->dy * 6 * c->move);
      int hx = CellOfX(c->x), hy = CellOfY(c->y);
      if (std::abs(x - cx) + std::abs(y - cy) <= 2 || std::abs(x - hx) + std::abs(y - hy) <= 2)
        return true;
    }
    return false;
  }

  // Holds the one cursor key of the step and lets the others go.
  void Steer(std::pair<int, int> step) {
    int want = step.first > 0    ? KEY_RIGHT
               : step.first < 0  ? KEY_LEFT
               : step.second > 0 ? KEY_DOWN
               : step.second < 0 ? KEY_UP
                                 : 0;
    if (want == held) return;
    if (held) (release ? release : ReleaseKey)(held);
    if (want) (press ? press : PressKey)(want);
    held = want;
  }
  void LetGo() { Steer({0, 0}); }

  // One decision: paint the nearest unpainted cell, keeping clear of chasers when it can.
  void PaintStep(int chasers) {
    auto unpainted = [](int x, int y) { return levelGrid[x][y] == CELL_LINE; };
    auto step = FirstStep(unpainted, [&](int x, int y) { return NearChaser(x, y, chasers); });
    if (step == std::pair{0, 0}) step = FirstStep(unpainted, nullptr);
    Steer(step);
  }

  // One decision: run at chaser 1.
  void ChaseStep() {
    int tx = CellOfX(chaser1->x), ty = CellOfY(chaser1->y);
    auto step = FirstStep([&](int x, int y) { return x == tx && y == ty; }, nullptr);
    Steer(step);
  }

  int held = 0;
  std::function<void(int)> press, release;  // the keyboard's unless set
};

// The title phase every scenario starts with: SPACE once the title is up,
// until the first level's play begins. Returns true on that frame and
// keeps the title's clock then, to know the title again afterwards.
inline bool StartGameFromTitle(int& startTitleTime) {
  if (titleTime == 20) TapKey(KEY_SPACE);
  if (!(player && chaser1 && playState == PLAY_ON && maxBonus > 0)) return false;
  startTitleTime = titleTime;
  return true;
}

// Back on the title after the game: its clock started again.
inline bool BackOnTitle(int startTitleTime) { return titleTime > 0 && titleTime < startTitleTime; }

// A whole bot game through the real flow, from start-up to the program's
// end: SPACE on the title; in play the bot paints, or runs into chaser 1
// once the score reaches `chaseFrom`; SPACE when a level's pay-out is over;
// ESC once the play of level `leaveAt` begins; at the name entry `name` is
// typed, and SPACE every 25 frames answers the screens after. Back on the
// title, `onTitle` runs every frame until it returns true, then ESC ends the
// program. `watch` sees every frame before the bot acts.
struct TBotGame {
  int leaveAt = 0;     // 0: play until the game is over
  int chaseFrom = -1;  // -1: never
  std::string name = "Bot\r";
  std::function<void()> watch;
  std::function<bool()> onTitle;
  TGridBot bot;
  int startTitleTime = 0;
  bool done = false;   // the program was ended from the title after the game

  int Run(const std::string& dir, int maxFrames = 60000, bool withGL = false) {
    enum { TITLE, PLAY, OVER, BACK } phase = TITLE;
    int framesOver = 0, spaceLevel = 0;
    bool typed = false;
    return RunWholeProgram(
        dir,
        [&] {
          if (watch) watch();
          switch (phase) {
            case TITLE:
              if (StartGameFromTitle(startTitleTime)) phase = PLAY;
              break;
            case PLAY:
              if (playState == PLAY_ON && level == leaveAt) {
                bot.LetGo();
                TapKey(KEY_ESCAPE);
                phase = OVER;
              } else if (playState == PLAY_ON) {
                chaseFrom >= 0 && ReadScore() >= chaseFrom ? bot.ChaseStep()
                                                           : bot.PaintStep(chaserCount);
              } else {
                bot.LetGo();
                if (ReadHealth() < 1) {
                  phase = OVER;
                } else if (playState > 200 && bonus == 0 && spaceLevel != level) {
                  TapKey(KEY_SPACE);
                  spaceLevel = level;
                }
              }
              break;
            case OVER:
              if (BackOnTitle(startTitleTime)) {
                phase = BACK;
                break;
              }
              if (gotHighScore && !typed) TypeText(name);
              typed = typed || gotHighScore;
              if (++framesOver % 25 == 0) TapKey(KEY_SPACE);
              break;
            case BACK:  // SPACE here would start another game
              if (!done && (!onTitle || onTitle())) {
                TapKey(KEY_ESCAPE);
                done = true;
              }
              break;
          }
        },
        maxFrames, withGL);
  }
};
