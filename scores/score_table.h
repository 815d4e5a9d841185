// The local top-25 table and the cached online board, held as enciphered
// 30-character records, and their file "vek.hsf".
#pragma once
#include "media/text.h"

extern Text localScores[27];    // rows 0..24 used; 25 takes the row pushed off
extern Text onlineBoard[1001];  // rows 0..999 used
extern int newEntryIndex;       // row of the new local entry, 25 when none
extern bool gotHighScore;

Text CipherText(const Text& text);  // enciphering and deciphering are the same
void LoadScoreFile();
void WriteDefaultScoreFile();
void SaveScoreFile();
void InsertLocalScore();
void ShowDeferredScoreNotice();     // the tamper notice, once the display is open
