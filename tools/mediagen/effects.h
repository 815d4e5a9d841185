#pragma once
// The eight sound effects: mono, 44100 Hz, written as Ogg Vorbis.
#include <string>

bool WriteEffects(const std::string& dir);
