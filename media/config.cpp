#include "media/config.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "media/file_util.h"
#include "media/folders.h"
#include "media/stream.h"

namespace {

constexpr char16_t HEADER[] =
    u"# zephrant settings, one key=value a line; lines the game does not know are kept";

struct TConfigLine {
  Text raw;         // the line as read or last written, without its LF
  Text key, value;  // key empty for comments, blank lines and bad lines
};

struct TConfigState {
  Text file;  // where the settings are read and written: the file a link of the user's leads to
  bool loaded = false;
  bool changed = false;
  bool keepFile = false;  // present but unreadable: never written over
  std::vector<TConfigLine> lines;
} config;

std::vector<Text> keysRead;  // kept across ForgetConfig: the keys the game reads, for its help

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

Text Trimmed(const Text& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsSpace(s[a])) ++a;
  while (b > a && IsSpace(s[b - 1])) --b;
  return s.substr(a, b - a);
}

bool GoodKey(const Text& key) {
  if (key.empty()) return false;
  for (char16_t c : key)
    if (c <= u' ' || c == u'=' || c == u'#' || c == 0x7f) return false;
  return true;
}

bool GoodValue(const Text& value) {
  for (char16_t c : value)
    if (c == u'\n' || c == u'\r' || c == 0) return false;
  return true;
}

// A setting, a comment, a blank line or (false) a bad line.
bool ReadLine(TConfigLine& line) {
  Text t = Trimmed(line.raw);
  if (t.empty() || t[0] == u'#') return true;
  size_t eq = t.find(u'=');
  if (eq == Text::npos) return false;
  Text key = Trimmed(t.substr(0, eq));
  if (!GoodKey(key)) return false;
  line.key = key;
  line.value = Trimmed(t.substr(eq + 1));
  return true;
}

void Load() {
  if (config.loaded) return;
  config = TConfigState{};
  config.loaded = true;
  Text path = ConfigPath();
  if (path.empty()) return;
  std::string p = ByteString(path);
  struct stat st {};
  if (lstat(p.c_str(), &st) != 0) {
    // Made now, so the player finds where the settings go.
    config.lines.push_back({HEADER, {}, {}});
    config.changed = true;
    SaveConfig();
    return;
  }
  Text why;
  if (!FollowOwnLink(path, config.file, why)) {
    config.keepFile = true;
    PrintLine(u"config: " + path + u" " + why +
              u"; the defaults are used and it is left as it is");
    return;
  }
  std::vector<uint8_t> bytes;
  if (!ReadSmallFile(config.file, MAX_CONFIG_BYTES, bytes)) {
    config.keepFile = true;
    PrintLine(u"config: " + path +
              u" cannot be read; the defaults are used and it is left as it is");
    return;
  }
  int bad = ParseConfig(bytes);
  if (bad > 0)
    PrintLine(u"config: " + IntText(bad) + u" line(s) of " + path +
              u" are not key=value and were ignored");
}

void NoteRead(const Text& key) {
  if (std::find(keysRead.begin(), keysRead.end(), key) == keysRead.end()) keysRead.push_back(key);
}

TConfigLine* Find(const Text& key) {
  Load();
  for (auto it = config.lines.rbegin(); it != config.lines.rend(); ++it)
    if (it->key == key) return &*it;
  return nullptr;
}

}  // namespace

Text ConfigPath() {
  Text folder = UserConfigFolder(u"zephrant");
  return folder.empty() ? Text() : folder + u"/config";
}

int ParseConfig(const std::vector<uint8_t>& bytes) {
  config.lines.clear();
  config.loaded = true;
  config.changed = false;
  int bad = 0;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = start;
    while (end < bytes.size() && bytes[end] != '\n') ++end;
    TConfigLine line;
    line.raw.assign(bytes.begin() + static_cast<long>(start),
                    bytes.begin() + static_cast<long>(end));
    if (!ReadLine(line)) ++bad;
    config.lines.push_back(std::move(line));
    start = end + 1;
  }
  return bad;
}

std::vector<uint8_t> ConfigBytes() {
  Load();
  std::vector<uint8_t> bytes;
  for (const auto& line : config.lines) {
    for (char16_t c : line.raw) bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back('\n');
  }
  return bytes;
}

Text ConfigText(const Text& key, const Text& fallback) {
  NoteRead(key);
  const TConfigLine* line = Find(key);
  return line ? line->value : fallback;
}

int ConfigInt(const Text& key, int fallback) {
  NoteRead(key);
  const TConfigLine* line = Find(key);
  if (!line || line->value.empty()) return fallback;
  const Text& v = line->value;
  size_t i = v[0] == u'-' ? 1 : 0;
  if (i == v.size()) return fallback;
  long long n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < u'0' || v[i] > u'9') return fallback;
    n = n * 10 + (v[i] - u'0');
    if (n > static_cast<long long>(INT_MAX) + 1) return fallback;
  }
  if (v[0] == u'-') n = -n;
  return n < INT_MIN || n > INT_MAX ? fallback : static_cast<int>(n);
}

bool SetConfigText(const Text& key, const Text& value) {
  if (!GoodKey(key) || !GoodValue(value)) return false;
  Text clean = Trimmed(value);
  TConfigLine* line = Find(key);
  if (line && line->value == clean) return true;
  if (line) {
    line->value = clean;
    line->raw = key + u"=" + clean;
  } else {
    config.lines.push_back({key + u"=" + clean, key, clean});
  }
  config.changed = true;
  return true;
}

bool SetConfigInt(const Text& key, int value) { return SetConfigText(key, IntText(value)); }

bool SaveConfig() {
  Load();
  if (!config.changed) return true;
  Text path = ConfigPath();
  if (path.empty() || config.keepFile) return false;
  Text folder = UserConfigFolder(u"zephrant"), error;
  Text file = config.file.empty() ? path : config.file;
  if (!MakeFolder(folder, error) || !WriteFileAtomically(file, ConfigBytes())) {
    PrintLine(u"config: " + path + u" cannot be written; the settings last this run only");
    config.keepFile = true;  // said once; the next save would fail alike
    return false;
  }
  config.changed = false;
  return true;
}

void ForgetConfig() { config = TConfigState{}; }

const std::vector<Text>& ConfigKeysRead() { return keysRead; }
