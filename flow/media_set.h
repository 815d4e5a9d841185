// The game's media: the 22 embedded files and the handles made from them
// once at start-up, kept for the whole run.
#pragma once
#include "media/audio.h"
#include "media/image.h"

extern TSound* musicTitle;
extern TSound* musicIngame;
extern TImage* tiles4;          // 128 frames of 24 x 24: mask + 16 * animation row
extern TImage* tiles10;         // 16 frames of 24 x 24, one per mask
extern TImage* wedgeImage;
extern TImage* starImage;
extern TImage* explosionImage;
extern TImage* shipImage;
extern TImage* chaserImage;
extern TImage* titleImage1;
extern TImage* titleImage2;
extern TImage* gridTile;
extern TImage* lightImage;      // 70 x 50, handle (0, 0)
extern TImage* gridImage;       // 34 x 24, two frames, handle (17, 13)
extern TImageFont* defaultFont;
extern TImageFont* smallFont;
extern TImageFont* bigFont;
extern TSound* sndChaserTurn;
extern TSound* sndCollision;
extern TSound* sndDie;
extern TSound* sndMakeGap;
extern TSound* sndPickup;
extern TSound* sndDrawLevel;
extern TSound* sndUntouched;
extern TSound* sndBonus;

void RegisterMediaFiles();   // the 22 files become openable as "incbin::" + name
void LoadMediaSet();         // every handle, in the fixed order
bool LoadOutcomeMedia();     // only the ship and the chaser, whose shapes decide collisions; false when missing
int EmbeddedMediaCount();    // how many of the 23 are linked in
