// The replays of the local table's entries: one file each, named by the
// entry's name, level and score, in the folder "vek.replays" beside the
// score file. The score file itself does not change.
#pragma once
#include <cstdint>
#include <vector>

#include "media/text.h"

// Files the replay of the game that has just taken local table row `row`
// and removes every replay whose entry has left the table. A full disk or a
// read-only folder costs only the replay: one line on standard output says
// so and the game goes on.
void StoreEntryReplay(int row, const std::vector<uint8_t>& bytes);

// The replay bytes of local table row `row` (0 = best, up to 24), as the
// game stored them; false when the entry has none (a default entry, a
// replay that could not be written, one whose file does not match the
// entry's level and score). The online upload sends these bytes as they are.
bool LoadEntryReplay(int row, std::vector<uint8_t>& bytes);

Text ReplayFolder();            // "vek.replays" beside the score file
Text EntryReplayPath(int row);  // where row `row` keeps its replay
