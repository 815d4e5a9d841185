// The Ogg Vorbis sample loader: libvorbisfile reads through a TStream and the
// whole file is decoded at once into 16-bit little-endian PCM.
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "media/audio_sample.h"
#include "media/stream.h"

namespace {

size_t ReadThrough(void* ptr, size_t size, size_t nmemb, void* source) {
  auto* stream = static_cast<TStream*>(source);
  size_t want = size * nmemb;
  if (want == 0) return 0;
  if (want > size_t(INT_MAX)) want = size_t(INT_MAX) / size * size;
  int got = stream->Read(ptr, int(want));
  return got > 0 ? size_t(got) / size : 0;
}

// A stream that cannot tell its position makes vorbisfile decode without
// seeking (it asks for SEEK_CUR first).
int SeekThrough(void* source, ogg_int64_t offset, int whence) {
  auto* stream = static_cast<TStream*>(source);
  ogg_int64_t base;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = stream->Pos(); break;
    case SEEK_END: base = stream->Size(); break;
    default: return -1;
  }
  if (base < 0) return -1;
  ogg_int64_t target = base + offset;
  if (target < 0 || target > INT_MAX) return -1;
  return stream->Seek(int(target)) == target ? 0 : -1;
}

long TellThrough(void* source) { return static_cast<TStream*>(source)->Pos(); }

constexpr ov_callbacks STREAM_CALLBACKS = {ReadThrough, SeekThrough, nullptr, TellThrough};

// Closes the vorbisfile handle on every way out.
struct OpenVorbis {
  OggVorbis_File vf;
  bool open = false;
  ~OpenVorbis() {
    if (open) ov_clear(&vf);
  }
};

}  // namespace

// Vorbis squeezes sound about ten to one; a 1 MiB floor covers short effects.
long long OggInitialReserve(long long streamBytes) {
  return std::max(int64_t(1) << 20, int64_t(std::max(streamBytes, 0LL)) * 32);
}

bool ProbeOggStream(TStream& stream) {
  OpenVorbis ov;
  if (ov_test_callbacks(&stream, &ov.vf, nullptr, 0, STREAM_CALLBACKS) < 0) return false;
  ov.open = true;
  vorbis_info* info = ov_info(&ov.vf, -1);
  return info && (info->channels == 1 || info->channels == 2) && info->rate > 0;
}

std::unique_ptr<TAudioSample> LoadOggSample(TStream& stream) {
  OpenVorbis ov;
  if (ov_open_callbacks(&stream, &ov.vf, nullptr, 0, STREAM_CALLBACKS) < 0) return nullptr;
  ov.open = true;
  vorbis_info* info = ov_info(&ov.vf, -1);
  if (!info || (info->channels != 1 && info->channels != 2) || info->rate <= 0) return nullptr;
  const int channels = info->channels;
  const int frameBytes = 2 * channels;

  // A seekable stream tells the length up front, but only its last page
  // says so: the buffer starts at no more than the data can plausibly
  // decode to and grows as the frames come.
  ogg_int64_t total = ov_pcm_total(&ov.vf, -1);
  if (total > INT_MAX / frameBytes) return nullptr;
  int64_t promised = total >= 0 ? total * frameBytes : -1;
  int64_t capacity = OggInitialReserve(stream.Size());
  if (promised >= 0) capacity = std::min(capacity, promised);
  auto bytes = std::make_unique_for_overwrite<uint8_t[]>(capacity > 0 ? capacity : 1);
  int64_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (used == promised) break;  // everything the headers promised has arrived
      int64_t grown = capacity * 2;
      if (promised >= 0) grown = std::min(grown, promised);
      if (grown > INT_MAX) return nullptr;
      auto bigger = std::make_unique_for_overwrite<uint8_t[]>(grown);
      std::memcpy(bigger.get(), bytes.get(), used);
      bytes = std::move(bigger);
      capacity = grown;
    }
    int bitstream = 0;
    long got = ov_read(&ov.vf, reinterpret_cast<char*>(bytes.get() + used), int(capacity - used),
                       0 /* little-endian */, 2, 1 /* signed */, &bitstream);
    if (got == 0) break;
    if (got == OV_HOLE) continue;  // a gap in the data, not fatal
    if (got < 0) return nullptr;
    vorbis_info* link = ov_info(&ov.vf, bitstream);
    if (!link || link->channels != channels)
      return nullptr;  // a chained file may not change layout
    used += got;
  }
  auto sample = std::make_unique<TAudioSample>();
  sample->length = int(used / frameBytes);
  sample->hertz = int(info->rate);
  sample->format = channels == 1 ? SF_MONO16LE : SF_STEREO16LE;
  sample->AdoptBytes(std::move(bytes), int(capacity));
  return sample;
}

std::unique_ptr<TAudioSample> LoadAudioSample(const Text& url) {
  StreamRef stream = OpenFileForReading(url);
  if (!stream) return nullptr;
  auto sample = LoadOggSample(*stream);
  stream->Close();
  return sample;
}

bool ProbeAudioUrl(const Text& url) {
  StreamRef stream = OpenFileForReading(url);
  if (!stream) return false;
  bool ok = ProbeOggStream(*stream);
  stream->Close();
  return ok;
}

struct TOggReader::Vorbis {
  OpenVorbis ov;
  int channels = 0;
};

std::unique_ptr<TOggReader> TOggReader::Open(std::shared_ptr<TStream> stream) {
  if (!stream || stream->Size() < 0 || stream->Pos() < 0) return nullptr;
  auto reader = std::unique_ptr<TOggReader>(new TOggReader);
  reader->_stream = std::move(stream);
  reader->_vorbis = std::make_unique<Vorbis>();
  OggVorbis_File& vf = reader->_vorbis->ov.vf;
  if (ov_open_callbacks(reader->_stream.get(), &vf, nullptr, 0, STREAM_CALLBACKS) < 0)
    return nullptr;
  reader->_vorbis->ov.open = true;
  vorbis_info* info = ov_info(&vf, -1);
  if (!ov_seekable(&vf) || !info || (info->channels != 1 && info->channels != 2) ||
      info->rate <= 0 || ov_pcm_total(&vf, -1) < 0)
    return nullptr;
  reader->_vorbis->channels = info->channels;
  reader->format = info->channels == 1 ? SF_MONO16LE : SF_STEREO16LE;
  reader->hertz = int(info->rate);
  reader->frames = ov_pcm_total(&vf, -1);
  return reader;
}

TOggReader::~TOggReader() = default;

int TOggReader::Read(uint8_t* out, int bytes) {
  const int frameBytes = 2 * _vorbis->channels;
  bytes -= bytes % frameBytes;
  int used = 0;
  while (used < bytes) {
    int bitstream = 0;
    long got = ov_read(&_vorbis->ov.vf, reinterpret_cast<char*>(out + used), bytes - used,
                       0 /* little-endian */, 2, 1 /* signed */, &bitstream);
    if (got == 0) break;
    if (got == OV_HOLE) continue;
    vorbis_info* link = ov_info(&_vorbis->ov.vf, bitstream);
    if (got < 0 || !link || link->channels != _vorbis->channels) return used > 0 ? used : -1;
    used += int(got);
  }
  return used;
}

bool TOggReader::Rewind() { return ov_pcm_seek(&_vorbis->ov.vf, 0) == 0; }

std::unique_ptr<TOggReader> OpenLongSound(const Text& url) {
  auto reader = TOggReader::Open(OpenFileForReading(url));
  if (!reader || reader->frames * AudioFormatBytesPerFrame(reader->format) <= STREAMED_SOUND_BYTES)
    return nullptr;
  return reader;
}
