// The exchange with the online score board: HTTP/1.0 written and read line by
// line on a plain TCP stream.
#pragma once
#include <cstdint>
#include <vector>

#include "media/text.h"

extern Text onlineRows[1001][3];  // board lines as received: name, level, score
extern int onlineRank;            // 0 before any synchronisation, -1 not on the board
extern Text onlineName;           // the player's name on the online board

// Results of both exchanges: 1 done, 2 failed and the player asked to retry,
// 0 failed and the player declined.
int FetchOnlineScores(int mode);  // 1 fills onlineRows; 2 fills onlineBoard and onlineRank
int PostOnlineScore(int row);     // uploads localScores row `row`, its replay first

// The replay the server keeps for board line `line` (1-based); false when
// it has none or the exchange failed.
bool FetchLineReplay(int line, std::vector<uint8_t>& bytes);
// The board lines (1-based, ascending) whose replay the server keeps;
// false when the exchange failed or the server gives no such list.
bool FetchReplayLines(std::vector<int>& lines);

Text ScoreServerHost();                     // "host" or "host:port"
Text BuiltInScoreServerHost();              // the one chosen when the game was built
// A host name (letters, digits, '.', '-') or an IPv6 address in brackets
// ("[::1]"), with an optional ":port" of 1 .. 65535, lower-cased; "" when
// `server` is not one.
Text ScoreServerFrom(const Text& server);
Text OnlineNameFrom(const Text& userName);  // the accepted characters, at most 20

// --- Test seams ---
void SetScoreServerHost(const Text& host);        // "" goes back to the built-in host; --server
void SetChallengeConstants(int k, int m, int d);  // wrong ones make the server answer "6"
void ResetChallengeConstants();

// --- Shared by the exchanges and the synchronisation screens ---
void DrawSyncStatusLines();                     // "online scoreboard" .. "please wait a moment..."
