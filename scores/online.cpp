#include "scores/online.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "flow/flow_state.h"
#include "media/clock.h"
#include "media/graphics.h"
#include "media/image.h"
#include "media/input.h"
#include "media/stream.h"
#include "media/user_name.h"
#include "scores/entry_replays.h"
#include "scores/challenge_constants.h"
#include "scores/online_identity.h"
#include "scores/score_table.h"

#ifndef ZEPHRANT_SCORE_HOST
#define ZEPHRANT_SCORE_HOST "localhost:8480"
#endif

namespace {

// Chosen when the game is built; "host" alone means port 80.
constexpr char BUILT_IN_SCORE_HOST[] = ZEPHRANT_SCORE_HOST;
constexpr char16_t SCRIPT_DIR[] = u"/netscores/zephrant/";
constexpr int BOARD_ROWS = 1001;    // rows of onlineRows and onlineBoard
constexpr int REPLY_BUFFER = 1200;  // lines kept of a challenge or update reply
// A reply longer than this is cut off: a board has 1000 lines, so only a
// broken server sends so many, and it must not hold the game for ever.
constexpr int MAX_REPLY_LINES = 100000;

Text hostOverride;
int challengeK = zephrant::CHALLENGE_K;
int challengeM = zephrant::CHALLENGE_M;
int challengeD = zephrant::CHALLENGE_D;

bool NameCharAccepted(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u' ' || (c >= 45 && c <= 59);
}

StreamRef OpenScoreConnection() { return OpenStreamUrl(u"tcp::" + ScoreServerHost(), true, true); }

Text RequestLine(const Text& method, const Text& script) {
  return method + u" http://" + ScoreServerHost() + SCRIPT_DIR + script + u" HTTP/1.0";
}

// A GET carries no Host header; its header block ends with a line holding a
// lone LF, which WriteLine turns into LF CR LF.
void SendGet(TStream& s, const Text& script) {
  s.WriteLine(RequestLine(u"GET", script));
  s.WriteLine(u"\n");
}

// The declared length counts the body and the five line-end bytes after it
// (CR LF, then LF CR LF).
void SendPost(TStream& s, const Text& body) {
  s.WriteLine(RequestLine(u"POST", u"updateScores.php"));
  s.WriteLine(u"Host: Brimwax");
  s.WriteLine(u"Content-Length: " + IntText(static_cast<int>(body.size()) + 5));
  s.WriteLine(u"Content-Type: application/x-www-form-urlencoded");
  s.WriteLine(u"");
  s.WriteLine(body);
  s.WriteLine(u"\n");
}

bool HasBof(const Text& line) { return FindText(line, u"bof") != 0; }

// Reads until the server closes, handing over the lines that follow the
// first line holding "bof" (that line itself included when withBof is set).
// The exchange counts only when the server closed in time and within the
// stream's byte cap, and sent a "bof" line: a reply without one, or one cut
// off by the deadline, is a failure and never an empty success.
template <typename F>
bool ReadReply(TStream& s, bool withBof, F onLine) {
  bool inData = false;
  for (int n = 0; n < MAX_REPLY_LINES && !s.Eof(); ++n) {
    Text line = s.ReadLine();
    // The server's close can arrive after its last line has been read; the
    // read that meets it gives an empty line the server never sent.
    if (line.empty() && s.Eof()) break;
    if (!inData) {
      inData = HasBof(line);
      if (!inData || !withBof) continue;
    }
    onLine(line);
  }
  return inData && !s.Failed();
}

// What is kept of a reply line: a record id, challenge or status is short,
// and a board field is cut to what a score record holds (the score to the
// longest text of a 32-bit number, so it reads as the same value).
constexpr int KEPT_LINE = 64;
constexpr int KEPT_NAME = 20, KEPT_LEVEL = 2, KEPT_SCORE = 11;

// A gamepad answers with A (yes) or B (no). Their SPACE and ESC are taken
// with the answer, so they neither close the board nor end the game, and
// pad presses from before the question do not answer it.
int RetryPrompt() {
  PolledKeyHits(KEY_PAD_A);
  PolledKeyHits(KEY_PAD_B);
  for (;;) {
    Cls();
    DrawCentredText(u"ERROR: offline/server down...", 250);
    DrawCentredText(u"Retry downloading scores? Y/N", 350);
    Flip(-1);
    int yes = KeyHits(KEY_Y);
    int no = KeyHits(KEY_N);
    if (PolledKeyHits(KEY_PAD_A)) yes += PolledKeyHits(KEY_SPACE) + 1;
    if (PolledKeyHits(KEY_PAD_B)) no += PolledKeyHits(KEY_ESCAPE) + 1;
    if (no) return 0;
    if (yes) return 2;
  }
}

// One data line of the board into row r. Board lines come from outside:
// whatever they hold, the stored record is a well-formed one, and a line
// that is not name,level,score stores nothing.
void StoreBoardLine(int mode, int r, const Text& line) {
  int comma1 = FindText(line, u",");
  int comma2 = comma1 ? FindText(line, u",", comma1 + 1) : 0;
  Text name = comma1 ? LeftText(line, comma1 - 1) : line;
  if (mode == 2 && comma1 && name == onlineName) onlineRank = r + 1;
  if (line.empty()) {
    PrintLine(u"ARGH the data was zero length!");
    return;
  }
  if (!comma2) {
    PrintLine(u"ARGH the data is not name,level,score!");
    return;
  }
  Text level = MidText(line, comma1 + 1, std::min(comma2 - comma1 - 1, KEPT_LEVEL));
  Text score = MidText(line, comma2 + 1, KEPT_SCORE);
  if (mode == 1) {
    onlineRows[r][0] = LeftText(name, KEPT_NAME);
    onlineRows[r][1] = level;
    onlineRows[r][2] = score;
  } else {
    onlineBoard[r] = CipherText(MakeScoreRecord(name, level, ScoreDigitsValue(score), u"0"));
  }
}

// The replay of the entry about to be uploaded goes first, in a request of
// its own, with the installation's key and the online name; the server
// verifies it and keeps it for the upload that follows. Whatever the answer
// (a server that does not know the request answers it with an error), the
// upload then goes on exactly as it always has.
void OfferReplay(int row) {
  std::vector<uint8_t> replay;
  if (!LoadEntryReplay(row, replay) || replay.empty()) return;
  Text key = OnlineKey();
  StreamRef s = OpenScoreConnection();
  if (!s || key.empty()) return;
  s->WriteLine(RequestLine(u"POST", u"replay.php"));
  s->WriteLine(u"Host: " + ScoreServerHost());
  s->WriteLine(u"Content-Length: " + IntText(static_cast<int>(replay.size())));
  s->WriteLine(u"Content-Type: application/octet-stream");
  s->WriteLine(u"X-Zephrant-Key: " + key);
  s->WriteLine(u"X-Zephrant-Name: " + onlineName);
  s->WriteLine(u"");
  const uint8_t* p = replay.data();
  int left = static_cast<int>(replay.size());
  for (int n; left > 0 && (n = s->Write(p, left)) > 0; p += n, left -= n) {
  }
  Text status;
  bool read = ReadReply(*s, false, [&](const Text& line) {
    if (status.empty()) status = LeftText(line, KEPT_LINE);
  });
  s->Close();
  PrintLine(u"REPLAY: " + (read ? status : Text(u"no answer")));
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

int ChallengeSolution(int challenge) {
  uint32_t v = static_cast<uint32_t>(challenge) + static_cast<uint32_t>(challengeK);
  v = v * static_cast<uint32_t>(challengeM) - static_cast<uint32_t>(challengeD);
  return static_cast<int32_t>(v);
}

Text UploadBody(const std::vector<Text>& challengeLines, const Text& record) {
  int challenge = TextToInt(challengeLines[2]);
  return u"recID=" + challengeLines[1] + u"&solution=" + IntText(ChallengeSolution(challenge)) +
         u"&name=" + onlineName + u"&level=" + MidText(record, 21, 2) + u"&score=" +
         IntText(TextToInt(MidText(record, 23, 7)));
}

}  // namespace

Text onlineRows[1001][3];
int onlineRank = 0;
// Until LoadOnlineName finds the name last typed in the name entry, the
// login name of the user who plays, cut down to what the name entry accepts.
Text onlineName = OnlineNameFrom(LocalUserName());

Text OnlineNameFrom(const Text& userName) {
  Text name;
  for (char16_t c : userName) {
    if (name.size() == 20) break;
    // An HTTP header drops a leading space, so the replay request and the
    // upload would name two players: the online name never starts with one.
    if (c == u' ' && name.empty()) continue;
    if (NameCharAccepted(c))
      name += c;
    else if (!name.empty() && name.back() != u'-')
      name += u'-';  // "john_doe" becomes "john-doe"
  }
  while (!name.empty() && (name.back() == u'-' || name.back() == u' ')) name.pop_back();
  return name.empty() ? Text(u"Anonymous") : name;
}

Text ScoreServerHost() { return hostOverride.empty() ? BuiltInScoreServerHost() : hostOverride; }

Text BuiltInScoreServerHost() { return AsciiText(BUILT_IN_SCORE_HOST); }

Text ScoreServerFrom(const Text& server) {
  // An IPv6 address goes in brackets, "[::1]:8480", as in a URL.
  bool bracketed = !server.empty() && server.front() == u'[';
  size_t end = bracketed ? server.find(u']') : 0;
  if (end == Text::npos) return Text();
  size_t colon = server.find(u':', end);
  Text host = server.substr(0, colon), port;
  if (colon != Text::npos) port = server.substr(colon + 1);
  if (bracketed) {
    Text address = host.substr(1, end - 1);
    if (host.size() != end + 1 || address.size() < 2 || address.size() > 45 ||
        address.find(u':') == Text::npos)
      return Text();
  } else if (host.empty() || host.size() > 253 || host.front() == u'-' || host.front() == u'.') {
    return Text();
  }
  for (size_t i = bracketed; i < host.size() - bracketed; ++i) {
    char16_t& c = host[i];
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    bool hex = (c >= u'a' && c <= u'f') || (c >= u'0' && c <= u'9');
    bool ok = bracketed ? hex || c == u':' || c == u'.'
                        : (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' ||
                              c == u'-';
    if (!ok) return Text();
  }
  if (colon == Text::npos) return host;
  if (port.empty() || port.size() > 5 || port.front() == u'0') return Text();
  int number = 0;
  for (char16_t c : port) {
    if (c < u'0' || c > u'9') return Text();
    number = number * 10 + (c - u'0');
  }
  return number <= 65535 ? host + u":" + port : Text();
}

void DrawSyncStatusLines() {
  DrawCentredText(u"online scoreboard", 100);
  DrawCentredText(u"synchronisation", 150);
  DrawCentredText(u"please wait a moment...", 250);
}

int FetchOnlineScores(int mode) {
  PrintLine(u"GETTING REMOTE SCORES!!!");
  PrintLine(u"MODE: " + IntText(mode));
  FlushKeyState();
  StreamRef s = OpenScoreConnection();
  if (!s) return RetryPrompt();
  SendGet(*s, u"getScores.php");
  if (s->Eof()) {
    PrintLine(u"No data");
    s->Close();
    return RetryPrompt();
  }
  int r = 0;
  bool read = ReadReply(*s, false, [&](const Text& line) {
    // Lines past the tables are read and dropped.
    if (r < BOARD_ROWS) StoreBoardLine(mode, r, line);
    ++r;
  });
  s->Close();
  if (!read) {
    PrintLine(u"No board in the reply");
    return RetryPrompt();
  }
  FlushKeyState();
  return 1;
}

// Error statuses are retried with a fresh challenge while the counter lasts;
// once it is used up the upload has failed like a lost connection: the
// player gets the retry prompt, and the entry stays pending instead of being
// marked as offered, since a busy or refusing server must not cost a score.
int PostOnlineScore(int row) {
  std::vector<Text> challengeLines(REPLY_BUFFER), updateLines(REPLY_BUFFER);
  Text record = CipherText(localScores[row >= 0 && row < 27 ? row : 0]);
  int counter = 5;
  bool failed = false;
  bool replayOffered = false;
  StreamRef update;
  for (;;) {
    FlushKeyState();
    Cls();
    DrawSyncStatusLines();
    Flip(-1);
    if (!replayOffered) OfferReplay(row);
    replayOffered = true;

    StreamRef challenge = OpenScoreConnection();
    if (!challenge) {
      failed = true;
      break;
    }
    SendGet(*challenge, u"challenge.php");
    if (challenge->Eof()) {
      challenge->Close();
      failed = true;
      break;
    }
    int entry = 0;
    bool read = ReadReply(*challenge, true, [&](const Text& line) {
      // the "bof" line itself is entry 0
      if (entry < REPLY_BUFFER) challengeLines[entry++] = LeftText(line, KEPT_LINE);
    });
    challenge->Close();
    if (!read) {
      failed = true;
      break;
    }

    Text body = UploadBody(challengeLines, record);
    update = OpenScoreConnection();
    if (!update) {
      failed = true;
      break;
    }
    SendPost(*update, body);
    if (update->Eof()) {
      failed = true;
      break;
    }
    entry = 0;
    read = ReadReply(*update, false, [&](const Text& line) {
      if (!HasBof(line) && entry < REPLY_BUFFER) updateLines[entry++] = LeftText(line, KEPT_LINE);
    });
    if (!read) {
      failed = true;
      break;
    }

    // Statuses compare as text: anything after "5" is an error.
    const Text& status = updateLines[0];
    bool error = status > u"5";
    Cls();
    DrawSyncStatusLines();
    if (status == u"6") DrawCentredText(u"Challenge was not met !!", 300);
    if (status == u"9") DrawCentredText(u"WHAT THE HECK!?", 300);
    if (error)
      DrawCentredText(IntText(counter >= 0 ? counter + 1 : counter) + u" retries remaing.", 350);
    Flip(-1);
    DelayMillis(1000);
    if (!error) break;
    --counter;
    update->Close();
    update.reset();
    if (counter < 0) {
      failed = true;  // refused every time: the entry waits for another try
      break;
    }
  }
  if (update) update->Close();
  if (failed) return RetryPrompt();
  FlushKeyState();
  return 1;
}

bool FetchLineReplay(int line, std::vector<uint8_t>& bytes) {
  bytes.clear();
  StreamRef s = OpenScoreConnection();
  if (!s) return false;
  SendGet(*s, u"replay.php?line=" + IntText(line));
  bool first = true, good = true;
  bool read = ReadReply(*s, false, [&](const Text& text) {
    if (first || !good) {
      good = good && text == u"replay";  // else "none": no replay for the line
      first = false;
      return;
    }
    if (text.size() % 2) good = false;
    for (size_t i = 0; good && i + 1 < text.size(); i += 2) {
      int hi = HexValue(text[i]), lo = HexValue(text[i + 1]);
      if (hi < 0 || lo < 0) good = false;
      bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
  });
  s->Close();
  if (!(read && good && !first)) bytes.clear();
  return !bytes.empty();
}

bool FetchReplayLines(std::vector<int>& lines) {
  lines.clear();
  StreamRef s = OpenScoreConnection();
  if (!s) return false;
  SendGet(*s, u"replay.php?lines");
  bool first = true, good = true;
  bool read = ReadReply(*s, false, [&](const Text& text) {
    if (first) {
      good = text == u"lines";
      first = false;
      return;
    }
    int line = 0;
    for (char16_t c : LeftText(text, 5)) line = c >= u'0' && c <= u'9' ? line * 10 + (c - u'0') : -1;
    if (line < 1 || line > ONLINE_ROWS || text.size() > 4 || (!lines.empty() && line <= lines.back()))
      good = false;
    else if (good)
      lines.push_back(line);
  });
  s->Close();
  if (!(read && good && !first)) lines.clear();
  return read && good && !first;
}

void SetScoreServerHost(const Text& host) { hostOverride = host; }

void SetChallengeConstants(int k, int m, int d) {
  challengeK = k;
  challengeM = m;
  challengeD = d;
}

void ResetChallengeConstants() {
  SetChallengeConstants(zephrant::CHALLENGE_K, zephrant::CHALLENGE_M, zephrant::CHALLENGE_D);
}
