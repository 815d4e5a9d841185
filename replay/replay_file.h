// A recorded game as bytes: a fixed header followed by a zlib-compressed
// payload of everything the game's outcome depends on. docs/replay-format.md
// describes the layout.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "media/input.h"
#include "media/text.h"

constexpr char REPLAY_MAGIC[4] = {'Z', 'R', 'P', 'L'};
constexpr int REPLAY_FORMAT_VERSION = 1;
// Bump whenever anything that changes the outcome of a recorded game
// changes (a rule, a layout, a random call, the order of updates): replays
// made by other rules are refused instead of verifying to another score.
// The regression replays under tests/replays fail until it is bumped and
// they are re-recorded with scripts/record-replays.sh.
constexpr int REPLAY_RULES_VERSION = 3;

constexpr int REPLAY_HEADER_SIZE = 36;
// Six hours at 60 frames a second.
constexpr uint32_t REPLAY_MAX_FRAMES = 6u * 3600u * 60u;
constexpr uint32_t REPLAY_MAX_PAYLOAD = 16u << 20;  // uncompressed
constexpr uint32_t REPLAY_MAX_FILE = 8u << 20;
constexpr int REPLAY_NO_ENTRY = 25;
// The most clock reads in a row that read the same time: every read of the
// scheduler's wait is followed by a 1 ms sleep and every frame by its
// pacing, so a real clock moves between them; docs/replay-format.md says
// which reads can still follow one another at once.
constexpr int REPLAY_MAX_STILL_READS = 3;  // the table answer of a score that did not qualify

// One input event handed to the game, by the number of the poll (from 1)
// that delivered it.
struct ReplayEvent {
  uint64_t poll = 0;
  InputEvent event{InputEventKind::KeyDown, 0};
};

struct ReplayData {
  // Header
  int rulesVersion = REPLAY_RULES_VERSION;
  int score = 0;
  Text levelLabel = u"A1";
  uint32_t frames = 0;
  uint64_t stateHash = 0;
  // Payload: the state the game started from ...
  int randomState = 4660;
  int combo = 36;
  Text playerName;  // the name entry starts from it
  // ... and what the game asked for while it ran.
  std::vector<uint32_t>
      clockSteps;  // each scheduler clock read minus the one before (the first: minus 0)
  std::vector<ReplayEvent> events;
  std::vector<uint8_t> tableAnswers;  // the local table row each offered score took, 25 for none
};

enum class ReplayParse { Ok, Invalid, OtherRules };

std::vector<uint8_t> EncodeReplay(const ReplayData& data);
// A file with the header fields of `data` around the payload bytes as given.
std::vector<uint8_t> PackReplay(const ReplayData& data, const std::vector<uint8_t>& payload);
// Any byte string gives Ok, Invalid or OtherRules in time and memory
// bounded by its length and the caps above; `why` says what was wrong.
ReplayParse DecodeReplay(const uint8_t* bytes, size_t size, ReplayData& data, std::string& why);
