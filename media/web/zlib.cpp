// zlib's compress2 and uncompress for the web build (see zlib/zlib.h).
#include <stb_image.h>
#include <stb_image_write.h>

#include <cstdlib>
#include <cstring>

#include "media/web/zlib/zlib.h"

// The deflater inside stb_image_write, which its header keeps to itself.
extern "C" unsigned char* stbi_zlib_compress(unsigned char* data, int size, int* out, int quality);

namespace {
uint32_t Adler32(const Bytef* p, uLong n) {
  uint32_t a = 1, b = 0;
  for (uLong i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}
}  // namespace

extern "C" {

// As zlib's: stored blocks in the worst case, plus the header and trailer.
uLong compressBound(uLong n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13 + 64; }

int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level) {
  int size = 0;
  unsigned char* packed =
      stbi_zlib_compress(const_cast<Bytef*>(source), int(sourceLen), &size, level < 5 ? 5 : level);
  if (!packed) return Z_MEM_ERROR;
  int status = Z_BUF_ERROR;
  if (uLong(size) <= *destLen) {
    std::memcpy(dest, packed, size_t(size));
    *destLen = uLong(size);
    status = Z_OK;
  }
  std::free(packed);
  return status;
}

// Fails, as zlib's does, on a stream that would need more room than given
// and on one whose check sum does not match what it unpacks to.
int uncompress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen) {
  if (sourceLen < 6 || (source[0] & 0x0F) != 8 || ((source[0] << 8) | source[1]) % 31 != 0)
    return Z_DATA_ERROR;
  int got = stbi_zlib_decode_noheader_buffer(reinterpret_cast<char*>(dest), int(*destLen),
                                             reinterpret_cast<const char*>(source + 2),
                                             int(sourceLen - 2));
  if (got < 0) return Z_DATA_ERROR;
  const Bytef* t = source + sourceLen - 4;
  uint32_t stored = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
  if (stored != Adler32(dest, uLong(got))) return Z_DATA_ERROR;
  *destLen = uLong(got);
  return Z_OK;
}

}  // extern "C"
