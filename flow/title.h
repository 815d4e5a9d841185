// The title screen between games.
#pragma once

extern int titleTime;   // +2 per title frame
extern int fullscreen;  // 0 windowed, 1 full screen; kept in the settings as fullscreen=

void OpenFirstDisplay();  // where the player left the last run: a window or full screen
void RunTitleScreen();    // returns when the SPACE wipe has finished; ESC ends the program
void TitleFrame();        // one frame, including Flip and the F12 switch
