#pragma once
// The two looping music tracks: stereo, 22050 Hz, written as Ogg Vorbis.
#include <string>

bool WriteMusic(const std::string& dir);
