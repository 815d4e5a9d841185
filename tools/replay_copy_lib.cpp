// The copies zephrant-replay-copy makes: the game played back from the
// original while it is recorded anew, with a change made at the taps.
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "flow/comfort.h"
#include "flow/flow_state.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/text.h"
#include "replay/replay.h"
#include "replay/replay_file.h"
#include "replay/verify.h"
#include "tools/replay_copy.h"
#include "world/level.h"
#include "world/scoring.h"

namespace {

constexpr uint32_t PAUSE_MS = 3000;        // how long an added pause stands
constexpr uint32_t FRAME_MS = 20;          // an added frame's clock read
constexpr int PAUSE_POLLS = 6;             // polls of the pause screen before it ends
constexpr int SEARCH = 300;                // insertion points tried

enum class Kind { None, SplitReads, Pause, Focus, LevelEndPause, LevelEndIdle, LateEsc, Partial };

struct Plan {
  Kind kind = Kind::None;
  std::set<int> splits;  // play frames (counted from 0) whose first clock read is split
  int pauseAfter = -1;   // play frame after which the pause starts
  int screen = -1;       // level-complete screen (from 0)
  int idleFrames = 0, escFrames = 0, partialLevel = 0;
};

bool LevelCompleteWaiting() {
  return cellsLeft == 0 && playState > 200 && bonus == 0 && wipeStep == 0;
}

bool NoKeyDown() {
  for (int key : {KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN, KEY_SPACE, KEY_ESCAPE})
    if (KeyIsDown(key)) return false;
  return true;
}

void Tap(std::vector<InputEvent>& events, int key) {
  events.push_back({InputEventKind::KeyDown, key});
  events.push_back({InputEventKind::KeyUp, key});
}

// Counts what it passes (play frames, level-complete screens) and makes the
// plan's change on the way.
class Copier : public PlaybackEdit {
 public:
  explicit Copier(const Plan& p) : plan(p) {}
  int playFrames = 0, screens = 0;
  bool changed = false;

  Read Clock(bool frameStart, int now, bool left, uint32_t pending, uint32_t& step) override {
    if (pause == Armed) pause = gamePaused ? Paused : Missed;
    if (pause == Paused) {
      step = 0;  // the pause's first read: the moment it stopped
      return Read::Added;
    }
    if (pause == Resuming) {
      pause = Done;
      step = PAUSE_MS;
      changed = true;
      return Read::Added;
    }
    if (splitting) {  // the rest of a split read starts the frame the original had
      splitting = false;
      return Read::Recorded;
    }
    if (!left && escHeld) {
      step = FRAME_MS;
      return Read::Added;
    }
    if (!frameStart || playState != PLAY_ON) return Read::Recorded;
    int frame = playFrames++;
    freshFrame = true;
    if (plan.splits.count(frame)) ++splitsWanted;
    // Split only where the first millisecond runs no tick.
    int due = now + 1 - lastTick;
    if (splitsWanted > 0 && left && pending >= 2 && due > 0 && due < tickMs) {
      --splitsWanted;
      splitting = changed = true;
      step = 1;
      return Read::Part;
    }
    return Read::Recorded;
  }

  bool RecordedPoll() override {
    if (splitting || pause == Paused || pause == Resuming || partialDone) return false;
    if (cellsLeft == 0 && playState > 200 && screenLevel != level) {
      screenLevel = level;
      ++screens;
    }
    if (plan.kind == Kind::LevelEndIdle && idleFrom < 0 && screens - 1 == plan.screen &&
        LevelCompleteWaiting())
      idleFrom = FramesFlipped();
    if (idleFrom >= 0 && FramesFlipped() < idleFrom + plan.idleFrames) return changed = true, false;
    return true;
  }

  void PollEvents(std::vector<InputEvent>& events) override {
    bool fresh = freshFrame;
    freshFrame = false;
    switch (plan.kind) {
      case Kind::Pause:
      case Kind::Focus:
        if (pause == Wanted && fresh && playState == PLAY_ON && playFrames > plan.pauseAfter &&
            (plan.kind == Kind::Pause || (events.empty() && NoKeyDown()))) {
          if (plan.kind == Kind::Pause)
            Tap(events, KEY_P);
          else
            events.push_back({InputEventKind::FocusLost, 0});
          pause = Armed;
        }
        break;
      case Kind::LevelEndPause:
        if (pause == Wanted && screens - 1 == plan.screen && LevelCompleteWaiting()) {
          Tap(events, KEY_P);
          pause = Armed;
        }
        break;
      case Kind::LateEsc:
        if (playState == PLAY_ON && !escHeld) {
          size_t before = events.size();
          std::erase_if(events, [](const InputEvent& e) {
            return e.code == KEY_ESCAPE && e.kind != InputEventKind::Char;
          });
          if (events.size() != before) {
            escHeld = true;
            escFrom = FramesFlipped();
          }
        }
        if (escHeld && !escSent && FramesFlipped() >= escFrom + plan.escFrames) {
          Tap(events, KEY_ESCAPE);
          escSent = changed = true;
        }
        break;
      case Kind::Partial:
        if (!partialDone && level == plan.partialLevel && playState == PLAY_ON) {
          events.clear();
          Tap(events, KEY_ESCAPE);
          partialDone = changed = true;
        }
        break;
      default: break;
    }
    if (pause == Paused && ++pausePolls == PAUSE_POLLS) {
      if (plan.kind == Kind::Focus)
        events.push_back({InputEventKind::FocusGained, 0});
      else
        Tap(events, KEY_P);
      pause = Resuming;
    }
  }

 private:
  enum { Wanted, Armed, Paused, Resuming, Done, Missed } pause = Wanted;
  Plan plan;
  int splitsWanted = 0, pausePolls = 0, screenLevel = 0, idleFrom = -1, escFrom = 0;
  bool splitting = false, freshFrame = false, escHeld = false, escSent = false;
  bool partialDone = false;
};

struct Outcome {
  bool ended = false, changed = false;
  ReplayData copy;
  int playFrames = 0, screens = 0;
  std::string why;
};

Outcome Run(const ReplayData& source, const Plan& plan) {
  Outcome o;
  Copier copier(plan);
  o.ended = CopyReplay(source, copier, o.copy, o.why);
  o.changed = copier.changed;
  o.playFrames = copier.playFrames;
  o.screens = copier.screens;
  return o;
}

}  // namespace


CopyResult MakeReplayCopy(const std::string& kind, const char* arg,
                          const std::vector<uint8_t>& bytes) {
  CopyResult result;
  auto fail = [&](const std::string& why) {
    result.line = why;
    return result;
  };
  int number = arg ? std::atoi(arg) : -1;
  if (arg && std::strlen(arg) == 2 && arg[0] >= 'A' && arg[0] <= 'Z' && arg[1] >= '1' &&
      arg[1] <= '6')
    number = (arg[0] - 'A') * 6 + (arg[1] - '0');  // a level label: A1 is level 1
  ReplayData source;
  std::string why;
  if (DecodeReplay(bytes.data(), bytes.size(), source, why) != ReplayParse::Ok)
    return fail("the original is not a replay of these rules: " + why);
  VerifyResult original = VerifyReplayBytes(bytes.data(), bytes.size());
  if (original.status != VERIFY_VALID) return fail("the original does not verify: " + original.line);

  // The plain copy counts the play frames and level-complete screens.
  Outcome plain = Run(source, Plan{});
  if (!plain.ended) return fail("the original does not play back: " + plain.why);
  int frames = plain.playFrames, screens = plain.screens;

  // The candidates, most wanted first; a given ARG makes the only one.
  std::vector<Plan> plans;
  auto add = [&](Kind k, auto fill) {
    Plan p;
    p.kind = k;
    fill(p);
    plans.push_back(p);
  };
  bool keepOutcome = true;
  if (kind == "extra-frame" || kind == "split-reads") {
    int count = kind == "split-reads" ? (number > 0 ? number : 20) : 1;
    int from = kind == "extra-frame" && number > 0 ? number : 1;
    int to = kind == "extra-frame" && number > 0 ? number : SEARCH;
    for (int back = from; back <= to && back < frames; ++back)
      add(Kind::SplitReads, [&](Plan& p) {
        for (int i = 0; i < count; ++i) p.splits.insert(frames - back - 2 * i);
      });
  } else if (kind == "pause" || kind == "focus") {
    int at = number >= 0 ? number : frames / 2;
    for (int back = 0; back < (number >= 0 ? 1 : SEARCH) && at - back >= 0; back += 7)
      add(kind == "pause" ? Kind::Pause : Kind::Focus, [&](Plan& p) { p.pauseAfter = at - back; });
  } else if (kind == "level-end-pause" || kind == "level-end-idle") {
    int idle = number > 0 ? number : 500;
    for (int s = screens - 1; s >= 0; --s)
      add(kind == "level-end-pause" ? Kind::LevelEndPause : Kind::LevelEndIdle, [&](Plan& p) {
        p.screen = s;
        p.idleFrames = idle;
      });
  } else if (kind == "late-esc") {
    add(Kind::LateEsc, [&](Plan& p) { p.escFrames = number > 0 ? number : 1; });
  } else if (kind == "partial") {
    if (number < 1) return fail(USAGE);
    keepOutcome = false;
    add(Kind::Partial, [&](Plan& p) { p.partialLevel = number; });
  } else if (kind == "name" && arg) {
    source.playerName = AsciiText(arg);
    plans.push_back(Plan{});
  } else if (kind == "row" && number >= 0 && number <= REPLAY_NO_ENTRY) {
    if (source.tableAnswers.empty()) return fail("the game was never offered to the table");
    source.tableAnswers[0] = uint8_t(number);
    plans.push_back(Plan{});
  } else if (kind == "combo" && number > 0) {
    keepOutcome = false;  // the combo decides what the cells pay
    source.combo = number;
    plans.push_back(Plan{});
  } else {
    return fail(USAGE);
  }

  bool anyChanged = false;
  for (const Plan& plan : plans) {
    Outcome o = Run(source, plan);
    anyChanged = anyChanged || o.changed;
    if (!o.ended || (plan.kind != Kind::None && !o.changed)) continue;
    if (keepOutcome && (o.copy.score != source.score || o.copy.levelLabel != source.levelLabel))
      continue;
    result.copy = EncodeReplay(o.copy);
    VerifyResult r = VerifyReplayBytes(result.copy.data(), result.copy.size());
    result.made = r.status == VERIFY_VALID;
    result.line = result.made ? r.line : "the copy does not verify: " + r.line;
    return result;
  }
  if (!anyChanged && kind == "partial") return fail("the game never starts level " + std::string(arg ? arg : ""));
  if (!anyChanged && kind == "late-esc") return fail("the game was not left with ESC in play");
  if (!anyChanged && kind.starts_with("level-end")) return fail("the game has no level-complete screen");
  return fail("no " + kind + " copy of this game keeps its outcome");
}
