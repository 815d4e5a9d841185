// The OGG loader: any bytes give either no sample or a consistent one, and
// the memory it takes is bounded by what the data decodes to, not by what
// its headers claim. The piecewise reader gives whole frames, and the same
// ones again after a rewind.
#include <algorithm>
#include <utility>

#include "media/audio_sample.h"
#include "tests/fuzz/fuzz_util.h"

namespace {
// Reads to the end; a checksum of what came and how much.
std::pair<uint64_t, long long> ReadAll(TOggReader& reader) {
  uint8_t pcm[4096];
  uint64_t sum = 0;
  long long bytes = 0;
  int frame = AudioFormatBytesPerFrame(reader.format);
  for (int got; (got = reader.Read(pcm, sizeof pcm)) > 0;) {
    FUZZ_CHECK(got % frame == 0);
    for (int i = 0; i < got; ++i) sum = sum * 31 + pcm[i];
    bytes += got;
  }
  return {sum, bytes};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (auto reader = TOggReader::Open(InputStream(data, size))) {
    FUZZ_CHECK(reader->hertz > 0 && reader->frames >= 0);
    auto first = ReadAll(*reader);
    if (reader->Rewind()) FUZZ_CHECK(ReadAll(*reader) == first);
  }
  bool probed = ProbeOggStream(*InputStream(data, size));
  std::unique_ptr<TAudioSample> s = LoadOggSample(*InputStream(data, size));
  if (!s) return 0;
  FUZZ_CHECK(probed);
  FUZZ_CHECK(s->format == SF_MONO16LE || s->format == SF_STEREO16LE);
  FUZZ_CHECK(s->hertz > 0 && s->length >= 0);
  long long used = static_cast<long long>(s->length) * AudioFormatBytesPerFrame(s->format);
  FUZZ_CHECK(s->capacity >= used);
  FUZZ_CHECK(s->capacity <= std::max(2 * used, OggInitialReserve(static_cast<long long>(size))));
  return 0;
}
