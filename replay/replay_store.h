// Stored replays: one file each in the folder "vek.replays" beside the score
// file, named by a hash of its own bytes, so two games never share a name
// unless they are the same bytes. Which entry owns which file is the score
// table's business (scores/entry_replays.h); this side only keeps files.
#pragma once
#include <cstdint>
#include <set>
#include <vector>

#include "media/text.h"

// Writes the bytes durably (a fresh temporary file, forced to disk, renamed
// into place) and gives the file's name, "<16 hex digits>.zrp"; "" when it
// cannot be written (a full disk, a read-only folder), after one line on
// standard output says so.
Text StoreReplay(const std::vector<uint8_t>& bytes);
// The bytes of a stored replay; false for a name StoreReplay cannot have
// made, a missing file or one too large.
bool LoadReplay(const Text& name, std::vector<uint8_t>& bytes);
// Removes every stored replay (and leftover temporary file) not in `keep`.
void PruneReplays(const std::set<Text>& keep);

Text ReplayName(const std::vector<uint8_t>& bytes);  // "<16 hex digits>.zrp"
Text ReplayFolder();                                 // "vek.replays" beside the score file
