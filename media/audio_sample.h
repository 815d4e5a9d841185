// Decoded sound data and the loaders that produce it.
#pragma once
#include <cstdint>
#include <memory>

#include "media/text.h"

class TStream;

// --- Sample formats (8-bit data is unsigned, centred on 128) ---
constexpr int SF_MONO8 = 1;
constexpr int SF_MONO16LE = 2;
constexpr int SF_MONO16BE = 3;
constexpr int SF_STEREO8 = 4;
constexpr int SF_STEREO16LE = 5;
constexpr int SF_STEREO16BE = 6;

int AudioFormatChannels(int format);       // 1 or 2; 0 for an unknown format
int AudioFormatBytesPerFrame(int format);  // 0 for an unknown format

// Interleaved PCM. A static sample borrows its bytes (capacity -1); any other
// owns capacity bytes.
class TAudioSample {
 public:
  uint8_t* samples = nullptr;
  int length = 0;  // frames
  int hertz = 0;
  int format = 0;
  int capacity = 0;

  static std::unique_ptr<TAudioSample> Create(int length, int format,
                                              int hertz);  // zeroed; null for a bad format
  static std::unique_ptr<TAudioSample> CreateStatic(uint8_t* samples, int length, int format,
                                                    int hertz);
  std::unique_ptr<TAudioSample> Copy() const;               // always owns its bytes
  std::unique_ptr<TAudioSample> Convert(int format) const;  // null for a bad format
  int ByteSize() const { return length * AudioFormatBytesPerFrame(format); }

  void AdoptBytes(std::unique_ptr<uint8_t[]> bytes, int bytesCapacity);  // for loaders

 private:
  std::unique_ptr<uint8_t[]> _store;
};

// --- Loaders ---
// Whole-file Ogg Vorbis decoding to 16-bit little-endian PCM: format 2 for one
// channel, 5 for two. Seeks, when the stream can, only to learn the length.
std::unique_ptr<TAudioSample> LoadOggSample(TStream& stream);  // null on a decode error
bool ProbeOggStream(TStream& stream);                          // headers only
// Bytes the OGG loader reserves at first for a stream of this many bytes,
// whatever length its last page claims; more only as frames arrive.
long long OggInitialReserve(long long streamBytes);
std::unique_ptr<TAudioSample> LoadAudioSample(const Text& url);  // opens the url, then the loaders
bool ProbeAudioUrl(const Text& url);                             // would LoadAudioSample decode it?

// Sounds whose decoded data would take more than this are played from the
// compressed file a piece at a time (the music: a three-minute track is
// 16 MB decoded) instead of being decoded whole.
constexpr long long STREAMED_SOUND_BYTES = 1 << 20;

// Ogg Vorbis decoded a piece at a time into the same 16-bit little-endian
// PCM the whole-file loader gives. Only seekable streams: the length must be
// known up front and a loop goes back to the first frame.
class TOggReader {
 public:
  static std::unique_ptr<TOggReader> Open(std::shared_ptr<TStream> stream);  // null if unfit
  ~TOggReader();
  int Read(uint8_t* out, int bytes);  // whole frames; 0 at the end, -1 on a decode error
  bool Rewind();                      // back to the first frame

  int format = 0;
  int hertz = 0;
  long long frames = 0;

 private:
  struct Vorbis;
  std::shared_ptr<TStream> _stream;
  std::unique_ptr<Vorbis> _vorbis;
};
// A reader when the url holds a sound long enough to be streamed, else null.
std::unique_ptr<TOggReader> OpenLongSound(const Text& url);
