// Ogg Vorbis for the web build, on stb_vorbis: the same 16-bit
// little-endian PCM the desktop's vorbisfile loader gives, whole or a piece
// at a time. Embedded files are decoded in place; others are read in first.
#define STB_VORBIS_HEADER_ONLY
#define STB_VORBIS_NO_STDIO
#define STB_VORBIS_NO_PUSHDATA_API
#include <stb_vorbis.h>

#include <algorithm>
#include <climits>

#include "media/audio_sample.h"
#include "media/stream.h"
#include "media/stream_kinds.h"

struct TOggReader::Vorbis {
  std::shared_ptr<TBank> bank;  // the file, unless it is embedded
  stb_vorbis* v = nullptr;
  int channels = 0;
  ~Vorbis() {
    if (v) stb_vorbis_close(v);
  }

  // Mono or stereo, at a sane rate: anything else is not a sound for us.
  bool Open(TStream& stream) {
    const unsigned char* bytes;
    int size;
    if (auto* ram = dynamic_cast<TRamStream*>(&stream)) {
      bytes = ram->_buf, size = ram->_size;
    } else {
      bank = LoadBank(stream);
      bytes = bank->bytes.data(), size = static_cast<int>(bank->bytes.size());
    }
    int error = 0;
    v = stb_vorbis_open_memory(bytes, size, &error, nullptr);
    if (!v) return false;
    stb_vorbis_info info = stb_vorbis_get_info(v);
    channels = info.channels;
    return (channels == 1 || channels == 2) && info.sample_rate > 0 &&
           info.sample_rate < 1000000;
  }
};

long long OggInitialReserve(long long streamBytes) {
  return std::max(int64_t(1) << 20, int64_t(std::max(streamBytes, 0LL)) * 32);
}

bool ProbeOggStream(TStream& stream) {
  return TOggReader::Open(std::shared_ptr<TStream>(&stream, [](TStream*) {})) != nullptr;
}

std::unique_ptr<TAudioSample> LoadOggSample(TStream& stream) {
  auto reader = TOggReader::Open(std::shared_ptr<TStream>(&stream, [](TStream*) {}));
  if (!reader) return nullptr;
  const int frameBytes = AudioFormatBytesPerFrame(reader->format);
  if (reader->frames > INT_MAX / frameBytes) return nullptr;
  const int capacity = std::max(1, int(reader->frames) * frameBytes);
  auto bytes = std::make_unique_for_overwrite<uint8_t[]>(size_t(capacity));
  int used = reader->Read(bytes.get(), capacity);
  if (used < 0) return nullptr;
  auto sample = std::make_unique<TAudioSample>();
  sample->length = used / frameBytes;
  sample->hertz = reader->hertz;
  sample->format = reader->format;
  sample->AdoptBytes(std::move(bytes), capacity);
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

std::unique_ptr<TOggReader> TOggReader::Open(std::shared_ptr<TStream> stream) {
  if (!stream) return nullptr;
  auto reader = std::unique_ptr<TOggReader>(new TOggReader);
  reader->_stream = std::move(stream);
  reader->_vorbis = std::make_unique<Vorbis>();
  if (!reader->_vorbis->Open(*reader->_stream)) return nullptr;
  stb_vorbis* v = reader->_vorbis->v;
  reader->format = reader->_vorbis->channels == 1 ? SF_MONO16LE : SF_STEREO16LE;
  reader->hertz = int(stb_vorbis_get_info(v).sample_rate);
  reader->frames = stb_vorbis_stream_length_in_samples(v);
  return reader;
}

TOggReader::~TOggReader() = default;

int TOggReader::Read(uint8_t* out, int bytes) {
  const int channels = _vorbis->channels;
  const int frameBytes = 2 * channels;
  int want = bytes / frameBytes, done = 0;
  while (done < want) {
    int got = stb_vorbis_get_samples_short_interleaved(
        _vorbis->v, channels, reinterpret_cast<short*>(out + done * frameBytes),
        (want - done) * channels);
    if (got <= 0) break;
    done += got;
  }
  return done * frameBytes;
}

bool TOggReader::Rewind() { return stb_vorbis_seek_start(_vorbis->v) != 0; }

std::unique_ptr<TOggReader> OpenLongSound(const Text& url) {
  auto reader = TOggReader::Open(OpenFileForReading(url));
  if (!reader || reader->frames * AudioFormatBytesPerFrame(reader->format) <= STREAMED_SOUND_BYTES)
    return nullptr;
  return reader;
}
