#include "replay/replay_file.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr uint32_t MAX_CLOCK_SPAN = 1u << 30;  // keeps every scheduler sum far from overflow
constexpr uint64_t MAX_POLL_GAP = 1u << 31;
constexpr size_t MAX_NAME = 20;

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}
void PutU64(std::vector<uint8_t>& out, uint64_t v) {
  PutU32(out, uint32_t(v));
  PutU32(out, uint32_t(v >> 32));
}
void PutVarint(std::vector<uint8_t>& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(uint8_t(v | 0x80));
    v >>= 7;
  }
  out.push_back(uint8_t(v));
}

bool KindHasCode(InputEventKind k) { return k <= InputEventKind::Char; }

// Reads little-endian fields and varints; every read checks the bounds and
// a failed read sticks.
struct Reader {
  const uint8_t* p;
  size_t left;
  bool ok = true;
  uint64_t Fixed(int bytes) {
    if (!ok || left < size_t(bytes)) return ok = false, 0;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[i]) << (8 * i);
    p += bytes, left -= size_t(bytes);
    return v;
  }
  uint64_t Varint() {
    uint64_t v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (!ok || left == 0) return ok = false, 0;
      uint8_t b = *p++;
      --left;
      v |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    return ok = false, 0;
  }
  // A count of items that take at least one byte each.
  bool Count(uint64_t& n) {
    n = Varint();
    return ok = ok && n <= left;
  }
};

bool NameCharOk(uint32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' || (c >= 45 && c <= 59);
}

bool LabelOk(const uint8_t* l) {
  if (l[0] == '?' && l[1] == '?') return true;
  return l[0] >= 'A' && l[0] <= 'Z' && l[1] >= '1' && l[1] <= '6';
}

std::vector<uint8_t> EncodePayload(const ReplayData& d) {
  std::vector<uint8_t> out;
  out.reserve(16 + d.clockSteps.size() + 3 * d.events.size());
  PutU32(out, uint32_t(d.randomState));
  PutU16(out, uint32_t(d.combo));
  out.push_back(uint8_t(d.playerName.size()));
  for (char16_t c : d.playerName) PutU16(out, c);
  PutVarint(out, d.clockSteps.size());
  for (uint32_t s : d.clockSteps) PutVarint(out, s);
  PutVarint(out, d.events.size());
  uint64_t poll = 0;
  for (const ReplayEvent& e : d.events) {
    PutVarint(out, e.poll - poll);
    poll = e.poll;
    out.push_back(uint8_t(e.event.kind));
    if (KindHasCode(e.event.kind)) PutVarint(out, uint32_t(e.event.code));
  }
  PutVarint(out, d.tableAnswers.size());
  for (uint8_t a : d.tableAnswers) out.push_back(a);
  return out;
}

bool DecodePayload(const uint8_t* bytes, size_t size, ReplayData& d, std::string& why) {
  Reader in{bytes, size};
  uint32_t rnd = uint32_t(in.Fixed(4));
  d.randomState = int(rnd);
  if (rnd == 0 || rnd >= 0x7FFFFFFF) return why = "random state out of range", false;
  d.combo = int(in.Fixed(2));
  if (d.combo < 36 || d.combo > 360) return why = "combo out of range", false;
  size_t nameLength = size_t(in.Fixed(1));
  if (nameLength > MAX_NAME) return why = "name too long", false;
  d.playerName.clear();
  for (size_t i = 0; i < nameLength && in.ok; ++i) {
    uint32_t c = uint32_t(in.Fixed(2));
    if (!NameCharOk(c)) return why = "name character not allowed", false;
    d.playerName += char16_t(c);
  }
  uint64_t n = 0;
  if (!in.Count(n)) return why = "clock reads cut short", false;
  d.clockSteps.clear();
  d.clockSteps.reserve(n);
  uint64_t span = 0;
  int still = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t step = in.Varint();
    span += step;
    if (!in.ok || span >= MAX_CLOCK_SPAN) return why = "clock reads out of range", false;
    still = step == 0 ? still + 1 : 0;
    if (still > REPLAY_MAX_STILL_READS)
      return why = "the clock stands still for more reads than a real clock allows", false;
    d.clockSteps.push_back(uint32_t(step));
  }
  if (!in.Count(n)) return why = "events cut short", false;
  d.events.clear();
  d.events.reserve(n);
  uint64_t poll = 0;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t gap = in.Varint();
    uint64_t kind = in.Fixed(1);
    if (!in.ok || gap > MAX_POLL_GAP || kind > uint64_t(InputEventKind::Close))
      return why = "event out of range", false;
    ReplayEvent e;
    poll += gap;
    e.poll = poll;
    e.event.kind = InputEventKind(kind);
    if (KindHasCode(e.event.kind)) {
      uint64_t code = in.Varint();
      bool key = e.event.kind != InputEventKind::Char;
      if (!in.ok || (key ? code < 1 || code > 255 : code > 0xFFFF))
        return why = "event code out of range", false;
      e.event.code = int(code);
    }
    if (e.event.kind == InputEventKind::Close) return why = "window closed during the game", false;
    if (poll == 0) return why = "event before the first poll", false;
    d.events.push_back(e);
  }
  if (!in.Count(n) || n > 1) return why = "table answers out of range", false;
  d.tableAnswers.clear();
  for (uint64_t i = 0; i < n; ++i) {
    uint8_t a = uint8_t(in.Fixed(1));
    if (a > REPLAY_NO_ENTRY) return why = "table answer out of range", false;
    d.tableAnswers.push_back(a);
  }
  if (!in.ok) return why = "payload cut short", false;
  if (in.left != 0) return why = "bytes after the payload", false;
  return true;
}

}  // namespace

std::vector<uint8_t> EncodeReplay(const ReplayData& d) { return PackReplay(d, EncodePayload(d)); }

std::vector<uint8_t> PackReplay(const ReplayData& d, const std::vector<uint8_t>& payload) {
  uLongf packedSize = compressBound(uLong(payload.size()));
  std::vector<uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, payload.data(), uLong(payload.size()), 9) != Z_OK)
    return {};
  packed.resize(packedSize);

  std::vector<uint8_t> out(REPLAY_MAGIC, REPLAY_MAGIC + 4);
  PutU16(out, REPLAY_FORMAT_VERSION);
  PutU16(out, uint32_t(d.rulesVersion));
  PutU32(out, uint32_t(d.score));
  for (int i = 0; i < 2; ++i)
    out.push_back(uint8_t(i < int(d.levelLabel.size()) ? d.levelLabel[i] : '?'));
  PutU16(out, 0);
  PutU32(out, d.frames);
  PutU64(out, d.stateHash);
  PutU32(out, uint32_t(payload.size()));
  PutU32(out, uint32_t(packed.size()));
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

ReplayParse DecodeReplay(const uint8_t* bytes, size_t size, ReplayData& d, std::string& why) {
  if (size < size_t(REPLAY_HEADER_SIZE) || std::memcmp(bytes, REPLAY_MAGIC, 4) != 0)
    return why = "not a replay", ReplayParse::Invalid;
  if (size > REPLAY_MAX_FILE) return why = "file too large", ReplayParse::Invalid;
  Reader in{bytes + 4, size - 4};
  if (in.Fixed(2) != REPLAY_FORMAT_VERSION)
    return why = "unknown format version", ReplayParse::Invalid;
  d.rulesVersion = int(in.Fixed(2));
  if (d.rulesVersion != REPLAY_RULES_VERSION)
    return why = "made by other rules", ReplayParse::OtherRules;
  uint32_t score = uint32_t(in.Fixed(4));
  const uint8_t* label = in.p;
  in.Fixed(2);
  uint64_t reserved = in.Fixed(2);
  d.frames = uint32_t(in.Fixed(4));
  d.stateHash = in.Fixed(8);
  uint32_t payloadSize = uint32_t(in.Fixed(4));
  uint32_t packedSize = uint32_t(in.Fixed(4));
  if (score > 0x7FFFFFFF || reserved != 0 || !LabelOk(label))
    return why = "header field out of range", ReplayParse::Invalid;
  if (d.frames == 0 || d.frames > REPLAY_MAX_FRAMES)
    return why = "frame count out of range", ReplayParse::Invalid;
  if (payloadSize > REPLAY_MAX_PAYLOAD || packedSize != in.left || payloadSize < 10 ||
      payloadSize / 1100 > packedSize)  // zlib packs at most about 1000 to 1
    return why = "payload size does not match", ReplayParse::Invalid;
  d.score = int(score);
  d.levelLabel = Text{char16_t(label[0]), char16_t(label[1])};

  std::vector<uint8_t> payload(payloadSize);
  uLongf got = payloadSize;
  // uncompress never writes past `got` bytes and fails on a stream that
  // would need more, so a small file cannot unpack into a large buffer.
  if (uncompress(payload.data(), &got, in.p, packedSize) != Z_OK || got != payloadSize)
    return why = "payload does not unpack", ReplayParse::Invalid;
  if (!DecodePayload(payload.data(), payload.size(), d, why)) return ReplayParse::Invalid;
  return ReplayParse::Ok;
}
