// Test seam for the OpenAL driver: instead of a sound card it can open a
// loopback device whose mix the test renders into memory.
#pragma once
#include <cstdint>

void UseOpenALLoopback(int rate);      // 0: the real output devices again
bool StartOpenALLoopback(int rate);    // UseOpenALLoopback, then SelectAudioDriver("OpenAL")
void RenderLoopback(int16_t* out, int frames);  // interleaved stereo, 16-bit
int OpenALSourceCount();               // AL sources the driver has made since it started
void UseOpenALLibrary(const char* name);  // loaded at the next start; "libopenal.so.1" normally
