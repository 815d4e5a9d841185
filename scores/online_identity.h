// Who the player is on the score server: the name on the board and the key
// that owns it there.
#pragma once
#include "media/text.h"

// The installation's key: 32 hex digits made once from the system's secure
// random source and kept in the user's configuration folder. The server
// gives a name to the first key that stores a score under it.
// Each score server has a key of its own: "online-key" for the built-in
// server, "online-key-HOST" or "online-key-HOST_PORT" for any other.
Text OnlineKey();
Text OnlineKeyFile(const Text& server);  // the file's name in the folder, with its leading '/'

// The online name is the name last typed in the name entry, kept in the
// configuration folder across runs; until one is typed, the login name.
void LoadOnlineName();
void RememberOnlineName(const Text& typed);  // an empty entry changes nothing

// `zephrant --online-key`: prints where the key is kept and how to carry it
// to another installation; returns the exit status, 0.
int RunOnlineKeyCommand();

// --- Test seam ---
void ForgetOnlineIdentity();  // the next OnlineKey and LoadOnlineName read the folder again
