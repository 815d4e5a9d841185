#pragma once
// Every picture of the game, written into a folder as PNG files.
#include <string>

bool WritePictures(const std::string& dir);

// The application icon in the hicolor sizes, as DIR/NxN/apps/NAME.png
// (the size folders must exist).
bool WriteIcons(const std::string& dir, const std::string& name);
