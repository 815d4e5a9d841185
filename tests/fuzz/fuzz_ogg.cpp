// The OGG loader: any bytes give either no sample or a consistent one, and
// the memory it takes is bounded by what the data decodes to, not by what
// its headers claim.
#include <algorithm>

#include "media/audio_sample.h"
#include "tests/fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
