// The command line, and the folder everything the game writes goes into.
#pragma once
#include "media/text.h"

// Reads the command line. Returns -1 when the game is to start; otherwise
// the program's exit status: 0 after --help or --version, that of
// --verify FILE or --watch FILE after running it, 2 after an option it does
// not know (with a hint on standard error).
int ParseOptions(int argc, const char* const* argv);

// The folder the score file and every other file the game writes live in:
// "" for the working directory (the default), or the user's data folder
// with a final "/" after --user-data.
const Text& WriteFolder();
Text WritePath(const Text& name);  // WriteFolder() + name
void SetWriteFolder(const Text& folder);
