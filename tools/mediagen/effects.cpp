#include "effects.h"
bool WriteEffects(const std::string&){return true;}
