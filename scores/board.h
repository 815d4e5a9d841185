// The high-score board panel over the title screen, and synchronisation.
#pragma once

extern int boardOpen;
extern int boardAnim;
extern int boardPage;  // 1 local, 2 online
extern int localTop;
extern int onlineTop;
extern int watchRow;   // local entry marked for watching its replay, -1 none
extern int watchLine;  // online line marked for watching its replay, -1 none

void OpenBoardIfRequested();  // title frame: H opens the panel
void BoardPanelStep();        // title frame: draws the panel and reads its keys
void SyncOnlineScores();
