// The login name of the user running the game.
#pragma once
#include "media/text.h"

Text LocalUserName();  // from the password database; "" when there is none
