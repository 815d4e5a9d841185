// The local top-25 table and the cached online board, held as enciphered
// 30-character records, and their file "vek.hsf".
#pragma once
#include "media/text.h"

// A record: name (20, padded with "."), level label (2), score (7 digits,
// padded with "0"), upload mark (1: "1" not yet offered to the score server).
constexpr int RECORD_LENGTH = 30;
constexpr int LOCAL_ROWS = 25;
constexpr int ONLINE_ROWS = 1000;
constexpr int MAX_RECORD_SCORE = 9999999;  // larger scores are kept as this
constexpr int SCORE_FILE_SIZE = (ONLINE_ROWS + LOCAL_ROWS) * RECORD_LENGTH + 8;  // 30 758
constexpr char16_t SCORE_FILE_NAME[] = u"vek.hsf";

extern Text localScores[27];    // rows 0..24 used; 25 takes the row pushed off
extern Text onlineBoard[1001];  // rows 0..999 used
extern int newEntryIndex;       // row of the new local entry, 25 when none
extern bool gotHighScore;

// --- Records ---
Text CipherText(const Text& text);  // enciphering and deciphering are the same
// A plain record from its fields, always 30 printable characters: the name
// is cut or padded to 20, the level to 2, the score clamped to 0..9999999.
Text MakeScoreRecord(const Text& name, const Text& level, int score, const Text& mark);
int RecordScore(const Text& enciphered);   // the score field of an enciphered record
int ScoreDigitsValue(const Text& digits);  // leading decimal digits, clamped to 0..9999999
int ScoreTableChecksum();                  // 32-bit sum of all 1025 score fields

// --- The file ---
// Each of these leaves usable tables in memory whatever happens to the file;
// a failed write keeps the previous file and says so on standard output.
void LoadScoreFile();
bool WriteDefaultScoreFile();  // the default tables, in memory and on disk
bool SaveScoreFile();
void InsertLocalScore();
// The tamper notice, and the one of a second copy of the game that will not
// save, once the display is open.
void ShowDeferredScoreNotice();
bool ScoreNoticePending();
// False when this run keeps its scores in memory only (another copy of the
// game holds the table, a damaged file that could not be copied, someone
// else's link); saves then write nothing and say why.
bool ScoresSaved();

// The same from and to any stream (memory in the fuzz harness). Reading
// fills the tables only from a whole file whose checksum matches.
class TStream;
enum class ScoreFileState { Missing, Damaged, Good };
ScoreFileState ReadScoreTables(TStream& file);
bool WriteScoreTables(TStream& out);  // false when a write fails

// --- Test seam ---
void SetScoreWriteBudget(int bytes);  // file writes fail after this many bytes; -1 no limit
