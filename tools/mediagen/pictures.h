#pragma once
// Every picture of the game, written into a folder as PNG files.
#include <string>

bool WritePictures(const std::string& dir);
