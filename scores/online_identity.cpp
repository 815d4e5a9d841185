#include "scores/online_identity.h"

#include <cstdio>
#include <string>
#include <vector>

#include "media/file_util.h"
#include "media/folders.h"
#include "media/random.h"
#include "media/stream.h"
#include "media/user_name.h"
#include "scores/online.h"

namespace {

constexpr char16_t APP_FOLDER[] = u"zephrant";
constexpr char16_t KEY_FILE[] = u"/online-key";  // the built-in server's
constexpr char16_t NAME_FILE[] = u"/online-name";
constexpr int KEY_BYTES = 16;

Text keyInUse;
Text keyServer;  // the server keyInUse belongs to
bool nameLoaded = false;

bool IsHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); }

bool WellFormedKey(const Text& key) {
  if (key.size() != 2 * KEY_BYTES) return false;
  for (char16_t c : key)
    if (!IsHexDigit(c)) return false;
  return true;
}

// One line from a small file in the configuration folder; "" when there is
// none. The line is cut at 64 characters: these files hold a key or a name.
Text ReadSetting(const Text& file) {
  Text folder = UserConfigFolder(APP_FOLDER);
  if (folder.empty()) return Text();
  StreamRef s = OpenFileForReading(folder + file);
  if (!s) return Text();
  Text line = LeftText(s->ReadLine(), 64);
  s->Close();
  return line;
}

// Written beside and renamed into place, so a crash leaves the old value;
// a key is the player's alone (0600) whatever the folder's mode.
bool WriteSetting(const Text& file, const Text& value, int mode) {
  Text folder = UserConfigFolder(APP_FOLDER);
  Text error;
  if (folder.empty() || !MakeFolder(folder, error)) return false;
  std::vector<uint8_t> bytes;
  for (char16_t c : value + u"\r\n") bytes.push_back(static_cast<uint8_t>(c));
  return WriteFileAtomically(folder + file, bytes, mode);
}

Text HexText(const unsigned char* bytes, int count) {
  static const char16_t digits[] = u"0123456789abcdef";
  Text hex;
  for (int i = 0; i < count; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

}  // namespace

Text OnlineKeyFile(const Text& server) {
  if (server == BuiltInScoreServerHost()) return KEY_FILE;
  Text file = Text(KEY_FILE) + u"-";
  for (char16_t c : server) file += c == u':' ? u'_' : c;
  return file;
}

Text OnlineKey() {
  Text server = ScoreServerHost();
  if (!keyInUse.empty() && keyServer == server) return keyInUse;
  keyServer = server;
  const Text keyFile = OnlineKeyFile(server);
  keyInUse = ReadSetting(keyFile);
  if (WellFormedKey(keyInUse)) return keyInUse;
  unsigned char bytes[KEY_BYTES];
  if (!SystemRandomBytes(bytes, KEY_BYTES)) {
    keyInUse.clear();
    return keyInUse;  // no key: the server will not store the score
  }
  keyInUse = HexText(bytes, KEY_BYTES);
  // A key that cannot be kept still serves this run; the next run makes
  // another, which the server treats as another player.
  if (!WriteSetting(keyFile, keyInUse, 0600)) PrintLine(u"online key: cannot be kept");
  return keyInUse;
}

void LoadOnlineName() {
  if (nameLoaded) return;
  nameLoaded = true;
  Text kept = ReadSetting(NAME_FILE);
  onlineName = OnlineNameFrom(kept.empty() ? LocalUserName() : kept);
}

void RememberOnlineName(const Text& typed) {
  nameLoaded = true;
  if (typed.empty()) return;
  onlineName = OnlineNameFrom(typed);
  if (!WriteSetting(NAME_FILE, onlineName, 0644)) PrintLine(u"online name: cannot be kept");
}

int RunOnlineKeyCommand() {
  Text folder = UserConfigFolder(APP_FOLDER);
  if (folder.empty()) {
    std::fputs("zephrant: no home folder, so no place for an online key\n", stdout);
    return 0;
  }
  Text file = OnlineKeyFile(ScoreServerHost());
  std::printf(
      "%s for %s: %s\n"
      "The key owns your name on that board. To keep the name on another computer\n"
      "or after a fresh install, copy this file to the same place there (in\n"
      "$XDG_CONFIG_HOME/zephrant, or ~/.config/zephrant) before the game there first\n"
      "uploads a score. Keep it private: whoever has it can post under your name.\n"
      "A lost key can only be replaced by the board's operator.\n",
      WellFormedKey(ReadSetting(file)) ? "online key" : "no online key yet (the first upload makes it)",
      ByteString(ScoreServerHost()).c_str(), ByteString(folder + file).c_str());
  return 0;
}

void ForgetOnlineIdentity() {
  keyInUse.clear();
  nameLoaded = false;
}
