#pragma once
// Level check of the generated sounds and the footprint of the two actors.
#include <string>

bool CheckMedia(const std::string& dir);
