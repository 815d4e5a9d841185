#include "ogg_io.h"

#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>

namespace {

bool WritePage(FILE* f, const ogg_page& page) {
  return std::fwrite(page.header, 1, page.header_len, f) == static_cast<size_t>(page.header_len) &&
         std::fwrite(page.body, 1, page.body_len, f) == static_cast<size_t>(page.body_len);
}

}  // namespace

bool WriteOgg(const std::string& path, int channels, int rate, const std::vector<float>& samples,
              float quality, int serial) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
    std::fclose(f);
    return false;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "ENCODER", "quarv mediagen");
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, serial);

  ogg_packet header, headerComm, headerCode;
  vorbis_analysis_headerout(&vd, &vc, &header, &headerComm, &headerCode);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &headerComm);
  ogg_stream_packetin(&os, &headerCode);
  ogg_page page;
  bool ok = true;
  while (ogg_stream_flush(&os, &page) != 0) ok &= WritePage(f, page);

  const long frames = static_cast<long>(samples.size() / channels);
  const long chunk = 4096;
  long pos = 0;
  bool eos = false;
  while (!eos) {
    if (pos < frames) {
      const long n = std::min(chunk, frames - pos);
      float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (long i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
          buffer[c][i] = std::clamp(samples[(pos + i) * channels + c], -1.0f, 1.0f);
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      pos += n;
    } else {
      // Signals the end; the encoder then gives the last packet the exact sample count.
      vorbis_analysis_wrote(&vd, 0);
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet op;
      while (vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        while (ogg_stream_pageout(&os, &page) != 0) {
          ok &= WritePage(f, page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return (std::fclose(f) == 0) && ok;
}

bool ReadOgg(const std::string& path, DecodedOgg& out) {
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return false;
  vorbis_info* vi = ov_info(&vf, -1);
  out.channels = vi->channels;
  out.rate = static_cast<int>(vi->rate);
  out.frames = ov_pcm_total(&vf, -1);
  out.samples.clear();
  out.samples.reserve(static_cast<size_t>(out.frames) * out.channels);
  for (;;) {
    float** pcm = nullptr;
    int section = 0;
    const long n = ov_read_float(&vf, &pcm, 4096, &section);
    if (n < 0) {
      ov_clear(&vf);
      return false;
    }
    if (n == 0) break;
    for (long i = 0; i < n; ++i)
      for (int c = 0; c < out.channels; ++c) out.samples.push_back(pcm[c][i]);
  }
  ov_clear(&vf);
  return true;
}
