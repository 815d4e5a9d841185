// The little of zlib the replay files use, for the web build, on the
// inflater and deflater of the stb decoders (media/web/zlib.cpp).
#pragma once

typedef unsigned long uLong;
typedef uLong uLongf;
typedef unsigned char Bytef;

#define Z_OK 0
#define Z_MEM_ERROR (-4)
#define Z_BUF_ERROR (-5)
#define Z_DATA_ERROR (-3)

extern "C" {
uLong compressBound(uLong sourceLen);
int compress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level);
int uncompress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen);
}
