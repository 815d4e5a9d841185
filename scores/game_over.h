// The game-over sequence and the name entry.
#pragma once
#include "media/text.h"

extern Text playerName;  // kept across games
extern Text entryLabel;

void RunGameOver();        // from playState 1 to the end of the closing wipe
void DrawGameOverFrame();  // advances and draws one frame; does not flip
void EnterScoreName();
