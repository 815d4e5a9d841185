// Which stored replay each entry of the local table has. The score file
// keeps its layout, so the links live beside the replays, in
// "vek.replays/entries": a line per row in table order, the entry's key (a
// hash of its name, level and score) and the name of its replay, or "-".
// An entry finds its line by its key and by how many rows above it share
// that key, so links written for a table one entry longer still serve the
// rows of the table before it; the row a new entry pushes off keeps its
// line until the next game's links are written.
#pragma once
#include <cstdint>
#include <vector>

#include "media/text.h"

extern Text localReplays[27];  // the replay name of each row of localScores; "" for none

void LoadEntryLinks();   // the links for the rows in localScores, after the score file is read
bool SaveEntryLinks();   // durably; false (and one line on standard output) when it cannot
void PruneEntryReplays();  // removes the stored replays no row names
// The links file's bytes from and for localReplays, for the rows in localScores.
void ReadEntryLinks(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> EntryLinkBytes();
// The replay bytes of local table row `row` (0 = best, up to 24); false
// when the entry has none (a default entry, a replay that could not be
// written, a file whose header does not name the entry's level and score).
// The online upload sends these bytes as they are.
bool LoadEntryReplay(int row, std::vector<uint8_t>& bytes);
