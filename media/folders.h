// The user's folders, found by the XDG base directory rules, and making
// a folder where the game keeps its files.
#pragma once
#include "media/text.h"

// $XDG_DATA_HOME/app when XDG_DATA_HOME is an absolute path, otherwise
// ~/.local/share/app; "" when no home folder is known.
Text UserDataFolder(const Text& app);

// $XDG_CONFIG_HOME/app when XDG_CONFIG_HOME is an absolute path, otherwise
// ~/.config/app; "" when no home folder is known.
Text UserConfigFolder(const Text& app);

// Creates the folder and any missing parents; the new ones are private to
// the user. True when the folder exists afterwards; otherwise `error` says why.
bool MakeFolder(const Text& path, Text& error);
