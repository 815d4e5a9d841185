// The score server's replies as the game reads them (the board download in
// both modes, the challenge and update of an upload, and a board line's
// replay in hex): whatever a server sends, every record stored from the
// board stays well formed, every exchange ends, done or failed, and a
// replay arrives whole or not at all.
#include <algorithm>
#include <string>

#include "media/clock.h"
#include "media/graphics.h"
#include "media/input.h"
#include "replay/replay_file.h"
#include "scores/online.h"
#include "scores/score_table.h"
#include "tests/fuzz/fuzz_util.h"
#include "tests/support/reply_stream.h"

namespace {

// No host part, so the TCP factory passes it on to the one below.
constexpr char16_t FUZZ_HOST[] = u":8480";
std::string reply;

// Every connection reads the same reply. A reply of odd length ends as a
// socket whose peer closes late does.
class TReplyFactory : public TStreamFactory {
 public:
  StreamRef CreateStream(const Text&, const Text& proto, const Text& path, bool, bool) override {
    if (proto != u"tcp" || path != FUZZ_HOST) return nullptr;
    return std::make_shared<TReplyStream>(reply, reply.size() % 2 == 1);
  }
};

bool WellFormed(const Text& record) {
  Text plain = CipherText(record);
  if (plain.size() != static_cast<size_t>(RECORD_LENGTH)) return false;
  for (char16_t c : plain)
    if (c < 32 || c > 126) return false;
  for (int i = 22; i < 29; ++i)
    if (plain[i] < u'0' || plain[i] > u'9') return false;
  return plain[29] == u'0' || plain[29] == u'1';
}

bool SetUp() {
  UseHeadlessGraphics(true);
  UseVirtualClock(0);
  OpenGraphics(800, 600, 0, 50, 0);
  static TReplyFactory factory;
  AddStreamFactory(&factory);
  // The retry prompt after a broken reply is answered no.
  SetFrameHook([] {
    InjectInputEvent({InputEventKind::KeyDown, KEY_N});
    InjectInputEvent({InputEventKind::KeyUp, KEY_N});
  });
  SetScoreServerHost(FUZZ_HOST);
  Text empty = CipherText(MakeScoreRecord(Text(), u"A1", 0, u"0"));
  for (int i = 0; i < ONLINE_ROWS; ++i) onlineBoard[i] = empty;
  for (int k = 0; k < LOCAL_ROWS; ++k) localScores[k] = empty;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = SetUp();
  (void)ready;
  reply.assign(reinterpret_cast<const char*>(data), size);
  FUZZ_CHECK(FetchOnlineScores(1) <= 1);  // done, or failed and declined
  FUZZ_CHECK(FetchOnlineScores(2) <= 1);
  for (int i = 0; i < ONLINE_ROWS; ++i) FUZZ_CHECK(WellFormed(onlineBoard[i]));
  FUZZ_CHECK(onlineRank >= -1 && onlineRank <= ONLINE_ROWS + 1);
  FUZZ_CHECK(PostOnlineScore(0) <= 1);
  std::vector<uint8_t> bytes;
  bool fetched = FetchLineReplay(1, bytes);
  FUZZ_CHECK(fetched == !bytes.empty() && bytes.size() <= size / 2);
  ReplayData replay;
  std::string why;
  DecodeReplay(bytes.data(), bytes.size(), replay, why);  // what the watcher reads next
  return 0;
}
