#include "tests/audio/audio_fixture.h"
#include <vorbis/vorbisenc.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include "media/audio_test_seam.h"

std::vector<uint8_t> EncodeOgg(int channels, int rate, int frames,
                               const std::function<float(int, int)>& gen, float quality) {
  std::vector<uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) return out;
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 4242);  // fixed serial: the same bytes every run
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page page;
  auto emit = [&] { out.insert(out.end(), page.header, page.header + page.header_len);
                    out.insert(out.end(), page.body, page.body + page.body_len); };
  while (ogg_stream_flush(&os, &page)) emit();

  auto drain = [&] {
    ogg_packet packet;
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page)) emit();
      }
    }
  };
  const int chunk = 4096;
  for (int done = 0; done < frames; done += chunk) {
    int n = std::min(chunk, frames - done);
    float** buffer = vorbis_analysis_buffer(&vd, n);
    for (int c = 0; c < channels; ++c)
      for (int i = 0; i < n; ++i) buffer[c][i] = gen(done + i, c);
    vorbis_analysis_wrote(&vd, n);
    drain();
  }
  vorbis_analysis_wrote(&vd, 0);
  drain();
  while (ogg_stream_flush(&os, &page)) emit();
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

std::vector<uint8_t> SineOgg(int channels, int rate, int frames, double hertz, float amplitude) {
  return EncodeOgg(channels, rate, frames, [=](int i, int) {
    return amplitude * float(std::sin(2 * M_PI * hertz * i / rate));
  });
}

int TMemoryStream::Seek(int pos) {
  if (!_seekable) return -1;
  _pos = std::clamp(pos, 0, int(_bytes.size()));
  return _pos;
}

int TMemoryStream::Read(void* buf, int count) {
  int n = std::clamp(int(_bytes.size()) - _pos, 0, count);
  if (n > 0) std::memcpy(buf, _bytes.data() + _pos, n);
  _pos += n;
  return n;
}

std::string WriteTempFile(const std::string& dir, const std::string& name,
                          const std::vector<uint8_t>& bytes) {
  std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

Rendered Render(int frames) {
  Rendered r;
  r.lr.resize(size_t(frames) * 2);
  RenderLoopback(r.lr.data(), frames);
  return r;
}

double Rms(const Rendered& r, int channel, int from, int to) {
  if (to < 0) to = r.frames();
  if (to <= from) return 0;
  double sum = 0;
  for (int i = from; i < to; ++i) sum += double(r.lr[2 * i + channel]) * r.lr[2 * i + channel];
  return std::sqrt(sum / (to - from));
}

// Counts rising swings from below -100 to above +100, so quiet noise and the
// silence around a sound do not count.
double ZeroCrossingHertz(const Rendered& r, int channel, int rate) {
  int rises = 0, first = -1, last = -1;
  bool low = false;
  for (int i = 0; i < r.frames(); ++i) {
    int v = r.lr[2 * i + channel];
    if (v < -100) low = true;
    if (low && v > 100) {
      low = false;
      if (first < 0) first = i;
      last = i;
      ++rises;
    }
  }
  if (rises < 3) return 0;
  return (rises - 1) / (double(last - first) / rate);
}

int PeakAbs(const Rendered& r) {
  int peak = 0;
  for (int16_t v : r.lr) peak = std::max(peak, std::abs(int(v)));
  return peak;
}

// No test reaches a real sound card, whatever the machine has: the default
// device always fails, and the tests that listen use the loopback device.
static const bool noOutputDevices = [] {
  setenv("ALSOFT_DRIVERS", "no-such-backend", 1);
  return true;
}();
