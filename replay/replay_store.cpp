#include "replay/replay_store.h"

#include "flow/options.h"
#include "media/file_util.h"
#include "media/stream.h"
#include "replay/replay_file.h"

namespace {

constexpr char16_t REPLAY_SUFFIX[] = u".zrp";
constexpr size_t HEX_DIGITS = 16;

bool EndsWith(const Text& s, const Text& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool IsReplayName(const Text& name) {
  if (name.size() != HEX_DIGITS + 4 || !EndsWith(name, REPLAY_SUFFIX)) return false;
  for (size_t i = 0; i < HEX_DIGITS; ++i)
    if (!((name[i] >= u'0' && name[i] <= u'9') || (name[i] >= u'a' && name[i] <= u'f')))
      return false;
  return true;
}

}  // namespace

Text ReplayFolder() { return WritePath(u"vek.replays"); }

Text ReplayName(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
  static constexpr char HEX[] = "0123456789abcdef";
  Text name;
  for (int shift = 60; shift >= 0; shift -= 4) name += char16_t(HEX[(h >> shift) & 0xF]);
  return name + REPLAY_SUFFIX;
}

Text StoreReplay(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return Text();
  Text name = ReplayName(bytes);
  Text path = ReplayFolder() + u"/" + name;
  if (!EnsureFolder(ReplayFolder()) || !WriteFileAtomically(path, bytes)) {
    PrintLine(u"replays: cannot write " + path + u"; the game goes on without it");
    return Text();
  }
  return name;
}

bool LoadReplay(const Text& name, std::vector<uint8_t>& bytes) {
  bytes.clear();
  return IsReplayName(name) && ReadSmallFile(ReplayFolder() + u"/" + name, REPLAY_MAX_FILE, bytes);
}

void PruneReplays(const std::set<Text>& keep) {
  for (const Text& name : FolderFileNames(ReplayFolder()))
    if ((IsReplayName(name) || EndsWith(name, u".tmp")) && !keep.count(name))
      RemovePlainFile(ReplayFolder() + u"/" + name);
}
