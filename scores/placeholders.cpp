// Stand-ins until the high-score screens land; each is replaced by its own
// file and then removed from here.
#include "scores/board.h"
#include "scores/game_over.h"
#include "scores/score_table.h"

Text localScores[27];
Text onlineBoard[1001];
int newEntryIndex = 25;
bool gotHighScore = false;
Text playerName;
Text entryLabel;
int boardOpen = 0, boardAnim = 0, boardPage = 1, localTop = 0, onlineTop = 0;

void LoadScoreFile() {}
void ShowDeferredScoreNotice() {}
void RunGameOver() {}
void OpenBoardIfRequested() {}
void BoardPanelStep() {}
