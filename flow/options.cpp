#include "flow/options.h"

#include <cstdio>
#include <cstring>

#include "media/config.h"
#include "media/folders.h"
#include "replay/verify.h"
#include "scores/online.h"
#include "scores/online_identity.h"

namespace {

Text writeFolder;

constexpr const char* HELP_TEXT =
    "Usage: zephrant [OPTION]...\n"
    "QUARV: Zephrant, an arcade game: steer the ship along the lines of the grid,\n"
    "paint every cell and keep away from the chasers.\n"
    "\n"
    "  --user-data    keep the high scores, and everything else the game writes,\n"
    "                 in $XDG_DATA_HOME/zephrant (~/.local/share/zephrant when\n"
    "                 XDG_DATA_HOME is not set) instead of the current folder\n"
    "  --verify FILE  replay the recorded game in FILE without a window and print\n"
    "                 its score, level, frame count, state hash and fingerprint\n"
    "                 (exit status 0 valid, 1 no readable FILE, 2 invalid, 3\n"
    "                 other rules)\n"
    "  --watch FILE   show the recorded game in FILE in the window; at its end,\n"
    "                 or on ESC, its last picture stays: R watches it again, ESC\n"
    "                 quits\n"
    "  --server HOST[:PORT]\n"
    "                 use this online score board (port 80 when none is given;\n"
    "                 an IPv6 address goes in brackets, [2001:db8::1]:8480)\n"
    "                 instead of the server= line of the settings file or the\n"
    "                 built-in one; each server has its own online key\n"
    "  --online-key   show where the key that owns your online name on the score\n"
    "                 board is kept and how to carry it to another installation\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Keys: cursor keys steer, SPACE opens a gap and starts a game, ESC leaves a\n"
    "game and quits from the title, H shows the high scores (S synchronises them\n"
    "with the online board; W marks the next game with a replay, ENTER watches\n"
    "it), F12 switches between window and full screen. P pauses (so does losing\n"
    "the focus), M mutes, - and = (or +) turn the volume down and up; outside\n"
    "the name entry, where they are typed.\n"
    "Watching a replay: P or SPACE pauses and goes on, F is faster (2x, 4x, then\n"
    "1x again), 1 the recorded pace, R starts it again, ESC stops it.\n"
    "Gamepad: d-pad or left stick steer, A is SPACE, B is ESC, X is H, Y is S,\n"
    "Back is F12, Start pauses while playing and is SPACE elsewhere, the right\n"
    "shoulder is W and the left one ENTER. In the name entry up and down choose\n"
    "the letter, right adds one, left removes one, A or Start ends the entry.\n"
    "\n"
    "Settings are kept in $XDG_CONFIG_HOME/zephrant/config\n"
    "(~/.config/zephrant/config), the online keys beside it: one key=value a line.\n"
    "The game writes them as they change and keeps the lines it does not know.\n"
    "  volume=0..10         loudness of music and effects (10); - and = step it\n"
    "  mute=0|1             1 silences the game; M switches it\n"
    "  server=HOST[:PORT]   the online score board, as --server takes it\n"
    "  window_width=PIXELS  the window's size, kept when it closes (800 x 600);\n"
    "  window_height=PIXELS shrunk to fit a smaller screen, its aspect kept\n"
    "  integer_scaling=0|1  1 scales the picture by whole multiples only, for\n"
    "                       sharp pixels\n"
    "  fullscreen=0|1       1 starts in full screen; F12 switches and keeps it\n";

constexpr const char* VERSION_TEXT = "zephrant (QUARV: Zephrant) 1.02\n";

// --user-data: the folder is made now, so that the first save finds it.
// A folder that cannot be made is reported; the game still plays, and its
// saves fail as in a folder without write permission.
void UseUserDataFolder() {
  Text folder = UserDataFolder(u"zephrant");
  if (folder.empty()) {
    std::fputs("zephrant: no home folder; writing into the current folder\n", stderr);
    return;
  }
  Text error;
  if (!MakeFolder(folder, error))
    std::fprintf(stderr, "zephrant: cannot make the data folder: %s\n", ByteString(error).c_str());
  SetWriteFolder(folder + u"/");
}

// --server, else the settings file's server= line, else the built-in one.
void UseScoreServer(Text server) {
  if (server.empty()) {
    Text kept = ConfigText(u"server");
    server = ScoreServerFrom(kept);
    if (server.empty() && !kept.empty())
      std::fprintf(stderr, "zephrant: the settings' server=%s is not HOST[:PORT]; using %s\n",
                   ByteString(kept).c_str(), ByteString(BuiltInScoreServerHost()).c_str());
  }
  SetScoreServerHost(server);
}

}  // namespace

int ParseOptions(int argc, const char* const* argv) {
  bool userData = false, onlineKey = false;
  Text server;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(HELP_TEXT, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
      std::fputs(VERSION_TEXT, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--verify") == 0)
      return RunVerifyCommand(i + 1 < argc ? argv[i + 1] : nullptr);
    if (std::strcmp(arg, "--online-key") == 0) {
      onlineKey = true;
      continue;
    }
    if (std::strcmp(arg, "--watch") == 0)
      return RunWatchCommand(i + 1 < argc ? argv[i + 1] : nullptr);
    if (std::strcmp(arg, "--server") == 0) {
      server = i + 1 < argc ? ScoreServerFrom(AsciiText(argv[++i])) : Text();
      if (server.empty()) {
        std::fputs("zephrant: --server wants HOST or HOST:PORT\n", stderr);
        return 2;
      }
      continue;
    }
    if (std::strcmp(arg, "--user-data") == 0) {
      userData = true;
      continue;
    }
    std::fprintf(stderr, "zephrant: unknown option '%s'\nTry 'zephrant --help' for more.\n", arg);
    return 2;
  }
  if (userData) UseUserDataFolder();
  UseScoreServer(server);
  return onlineKey ? RunOnlineKeyCommand() : -1;
}

const Text& WriteFolder() { return writeFolder; }

Text WritePath(const Text& name) { return writeFolder + name; }

void SetWriteFolder(const Text& folder) { writeFolder = folder; }
