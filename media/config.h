// The player's settings: $XDG_CONFIG_HOME/zephrant/config (~/.config/...
// when XDG_CONFIG_HOME is not set), one `key=value` a line.
// Lines the game does not know, comments (#) and blank lines are kept as
// they are when the file is written back; lines that are not key=value are
// reported once on the console and otherwise left alone. A missing file is
// made; a file that cannot be read (someone else's link, not a plain file,
// too long) only costs the settings: the game runs on its defaults and
// leaves it untouched. A link of the player's own is followed.
#pragma once
#include <cstdint>
#include <vector>

#include "media/text.h"

// --- Settings (the file is read on first use) ---
Text ConfigText(const Text& key, const Text& fallback = Text());  // the last line of that key wins
int ConfigInt(const Text& key, int fallback);  // fallback unless the value is a plain decimal int
// False, and nothing changes, for a key that is empty or holds '=', '#',
// spaces or control characters, or a value with a line end or NUL in it.
bool SetConfigText(const Text& key, const Text& value);
bool SetConfigInt(const Text& key, int value);
bool SaveConfig();  // writes the file atomically when anything changed; false when it could not

// --- The file ---
Text ConfigPath();  // "" when there is no home folder (settings then last one run)
constexpr size_t MAX_CONFIG_BYTES = 64 * 1024;

// --- Without a file (tests, fuzzing) ---
int ParseConfig(const std::vector<uint8_t>& bytes);  // replaces every setting; the bad lines' count
std::vector<uint8_t> ConfigBytes();                  // what SaveConfig would write
void ForgetConfig();                                 // the next use reads the file again
const std::vector<Text>& ConfigKeysRead();           // every key asked for this run, in order
