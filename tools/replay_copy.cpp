// zephrant-replay-copy: makes another recording of a recorded game, the
// ways someone copying another player's game would, so that a score
// server's tests can check that each copy is still that game. The copy is
// the game played back from IN while it is recorded anew, with a change
// made at the recording's taps; it verifies as a replay of its own.
//
//   zephrant-replay-copy KIND IN.zrp OUT.zrp [ARG]
//
// KIND (ARG optional unless shown):
//   extra-frame [N]      one frame with no tick N play frames before the end
//                        of play: a clock read split into 1 ms and the rest
//   split-reads [N]      N such splits over the last play frames
//   pause [N]            a P pause after play frame N
//   focus [N]            the window's focus lost and gained after play frame N
//   level-end-pause      a P pause on the last level-complete screen
//   level-end-idle [F]   F more frames (500) on a level-complete screen; the
//                        frames draw, so the chasers of the levels after it
//                        move otherwise, and only a game that those levels
//                        do not change keeps its outcome
//   late-esc [F]         a game left with ESC in play: ESC F frames later
//   partial LEVEL        the game up to the start of LEVEL (a number or a label
//                        such as B3), left there with ESC
//   name NAME            the name the game starts from
//   row N                the local table's answer (0 ... 24, 25 for no row)
//   combo N              the combo meter the game starts from
// Without N the copy keeps the original's score and level where it can
// (it tries insertion points from the end of play backwards; a partial
// copy has the score of its level's start, a combo copy its own). Prints the
// copy's verifier line; exit status 0, 1 usage or unreadable file, 2 when
// the original does not verify or no copy of that kind keeps its outcome.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "media/clock.h"
#include "media/graphics.h"
#include "media/stream.h"
#include "tools/replay_copy.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) return std::puts(USAGE), 1;
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) return std::printf("cannot read %s\n", argv[2]), 1;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  UseHeadlessGraphics(true);
  UseVirtualClock(0);
  SetPrintLineQuiet(true);
  CopyResult r = MakeReplayCopy(argv[1], argc == 5 ? argv[4] : nullptr, bytes);
  std::printf("%s\n", r.line.c_str());
  if (!r.made) return r.line == USAGE ? 1 : 2;
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(r.copy.data()), std::streamsize(r.copy.size()));
  if (!out.good()) return std::printf("cannot write %s\n", argv[3]), 1;
  return 0;
}
