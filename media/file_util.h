// Replacing a file safely: new contents go to a temporary file beside the
// old one, are forced to disk and then renamed over it, so a crash or a full
// disk leaves either the old file or the new one, never half of either.
#pragma once
#include "media/text.h"

// Forces tmpPath to disk, renames it over finalPath and forces the directory
// entry too. On any failure tmpPath is removed and finalPath is untouched.
bool SyncAndReplaceFile(const Text& tmpPath, const Text& finalPath);

// --- Test seam ---
void SetReplaceFileFailure(bool fail);  // while set, every replacement fails before the rename
