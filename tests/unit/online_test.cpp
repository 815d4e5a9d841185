#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "media/folders.h"
#include "media/image.h"
#include "media/stream_kinds.h"
#include "media/user_name.h"
#include "replay/replay_file.h"
#include "replay/replay_store.h"
#include "scores/entry_replays.h"
#include "scores/board.h"
#include "scores/challenge_constants.h"
#include "scores/online_identity.h"
#include "tests/support/reply_stream.h"
#include "tests/unit/online_test_util.h"
#include "tests/unit/scores_test_util.h"

namespace {

std::string Name() { return ByteString(onlineName); }

void ClearOnlineRows() {
  for (auto& row : onlineRows)
    for (Text& field : row) field.clear();
}

bool WellFormed(const Text& plain) {
  if (plain.size() != RECORD_LENGTH) return false;
  for (char16_t c : plain)
    if (c < 32 || c > 126) return false;
  for (char16_t c : MidText(plain, 23, 7))
    if (c < u'0' || c > u'9') return false;
  return MidText(plain, 30, 1) == u"0" || MidText(plain, 30, 1) == u"1";
}

int Solution(int challenge) {
  uint32_t v = static_cast<uint32_t>(challenge) + zephrant::CHALLENGE_K;
  return static_cast<int32_t>(v * zephrant::CHALLENGE_M - zephrant::CHALLENGE_D);
}

// Every online test gets a scratch directory, loaded defaults, a headless
// display and a frame hook; the host goes back to the built-in one after.
struct Online : ::testing::Test {
  ScoreDir dir{"online"};
  std::function<void(int)> onFrame = [](int) {};
  WaitingFor wait{"the score server exchange to end", 500};
  FrameScript frames{[this](int n) { onFrame(n); }};
  void SetUp() override {
    LoadScoreFile();
    ClearOnlineRows();
    onlineRank = 0;
    ResetChallengeConstants();
  }
  void TearDown() override {
    SetScoreServerHost(Text());
    ResetChallengeConstants();
    SetSocketTimeoutMillis(10000);
  }
};

}  // namespace

TEST(OnlineName, KeepsOnlyWhatNameEntryAccepts) {
  EXPECT_EQ(OnlineNameFrom(u"john_doe"), u"john-doe");
  EXPECT_EQ(OnlineNameFrom(u"__x__y__"), u"x-y");
  EXPECT_EQ(OnlineNameFrom(u"averyveryverylongloginname"), u"averyveryverylonglog");
  EXPECT_EQ(OnlineNameFrom(u""), u"Anonymous");
  EXPECT_EQ(OnlineNameFrom(u"@@@"), u"Anonymous");
  EXPECT_EQ(OnlineNameFrom(u"  Z  ed  "), u"Z  ed");  // as the replay request's header sends it
  EXPECT_FALSE(onlineName.empty());
  EXPECT_LE(onlineName.size(), 20u);
}

TEST_F(Online, BoardRequestAndRepliesByteForByte) {
  std::string board = "bof\nAnn,A1,300\n\nABCDEFGHIJKLMNOPQRSTUVWXY,**,1234\nBob,B2,20\n" + Name() +
                      ",C3,10\n" + Name() + ",D4,5\n";
  ScriptedServer server([&](int, const std::string&) {
    return "HTTP/1.0 200 OK\r\nX-Note: carbofoo\r\n\r\n" + board;
  });
  SetScoreServerHost(server.Host());
  onlineRows[1][0] = u"kept";
  onlineBoard[1] = CipherText(MakeScoreRecord(u"kept", u"A1", 7, u"0"));

  // A header holding "bof" opens the data: the blank line after the headers
  // is row 0, the real "bof" line (no commas) row 1, "Ann" row 2.
  EXPECT_EQ(FetchOnlineScores(1), 1);
  std::string get = "GET http://127.0.0.1:" + std::to_string(server.port) +
                    "/netscores/zephrant/getScores.php HTTP/1.0\r\n\n\r\n";
  EXPECT_EQ(server.Requests().at(0), get);
  EXPECT_EQ(onlineRows[0][0], u"");
  EXPECT_EQ(onlineRows[1][0], u"kept");
  EXPECT_EQ(onlineRows[2][0], u"Ann");
  EXPECT_EQ(onlineRows[2][2], u"300");

  board = "bof\nAnn,A1,300\n\nABCDEFGHIJKLMNOPQRSTUVWXY,**,1234\nBob,B2,20\n" + Name() +
          ",C3,10\n" + Name() + ",D4,5\n" + Name() + ",one comma\n";
  ScriptedServer plain([&](int, const std::string&) { return HttpReply(board); });
  SetScoreServerHost(plain.Host());
  ClearOnlineRows();
  onlineRows[1][0] = u"kept";
  EXPECT_EQ(FetchOnlineScores(1), 1);
  EXPECT_EQ(onlineRows[0][0], u"Ann");
  EXPECT_EQ(onlineRows[0][1], u"A1");
  EXPECT_EQ(onlineRows[0][2], u"300");
  EXPECT_EQ(onlineRows[1][0], u"kept");                  // an empty line uses up its row
  EXPECT_EQ(onlineRows[2][0], u"ABCDEFGHIJKLMNOPQRST");  // what a record holds
  EXPECT_EQ(onlineRank, 0);                              // mode 1 does not look for the player

  EXPECT_EQ(FetchOnlineScores(2), 1);
  EXPECT_EQ(PlainOnline(0), u"Ann.................A100003000");
  EXPECT_EQ(PlainOnline(1), u"kept................A100000070");
  EXPECT_EQ(PlainOnline(2), u"ABCDEFGHIJKLMNOPQRST**00012340");
  EXPECT_EQ(PlainOnline(3), u"Bob.................B200000200");
  EXPECT_EQ(onlineRank, 7);  // the last line with the player's name, one comma or two
}

TEST_F(Online, UploadRequestsByteForByte) {
  localScores[3] = CipherText(u"Someone.............B300123451");
  ScriptedServer server([](int n, const std::string&) {
    return HttpReply(n == 0 ? "bof\nR77\n1000\n" : "bof\n1\n");
  });
  SetScoreServerHost(server.Host());
  EXPECT_EQ(PostOnlineScore(3), 1);
  EXPECT_EQ(frames.frames, 2);  // the wait screen and the result screen
  std::string host = "127.0.0.1:" + std::to_string(server.port);
  std::string body = "recID=R77&solution=" + std::to_string(Solution(1000)) + "&name=" + Name() +
                     "&level=B3&score=12345";
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "GET http://" + host + "/netscores/zephrant/challenge.php HTTP/1.0\r\n\n\r\n");
  EXPECT_EQ(requests[1], "POST http://" + host +
                             "/netscores/zephrant/updateScores.php HTTP/1.0\r\n"
                             "Host: Brimwax\r\n"
                             "Content-Length: " +
                             std::to_string(body.size() + 5) +
                             "\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\n"
                             "\r\n" +
                             body + "\r\n\n\r\n");
}

TEST_F(Online, StatusesCompareAsTextAndRetriesEnd) {
  localScores[0] = CipherText(MakeScoreRecord(u"x", u"A1", 500, u"1"));
  // "5" and what sorts before it ("10" too) are accepted at once; what sorts
  // after it is retried once, then the next attempt's "1" is accepted.
  for (std::string status : {"5", "4", "49", "10", "", "50", "6", "9", "A"}) {
    ScriptedServer server([&](int n, const std::string&) {
      return HttpReply(n % 2 == 0 ? "bof\nR\n1\n" : n == 1 ? "bof\n" + status + "\n" : "bof\n1\n");
    });
    SetScoreServerHost(server.Host());
    EXPECT_EQ(PostOnlineScore(0), 1) << status;
    EXPECT_EQ(server.Requests().size(), status <= "5" ? 2u : 4u) << status;
  }
  // An error on every attempt: five retries after the first, then the
  // retry prompt, as for a server that is down.
  {
    std::string many(1500 * 2, '\n');  // more reply lines than the buffers hold
    ScriptedServer server([&](int n, const std::string&) {
      return HttpReply(n % 2 == 0 ? "bof\nR\n1\n" + many : "bof\n8\n" + many);
    });
    SetScoreServerHost(server.Host());
    int start = frames.frames;
    onFrame = [start](int n) {
      if (n == start + 13) TapKey(KEY_N);  // six attempts of two frames, then the prompt
    };
    EXPECT_EQ(PostOnlineScore(0), 0);
    EXPECT_EQ(server.Requests().size(), 12u);
  }
}

// Replies the game must never take for a success: no "bof" (a proxy's or an
// overloaded server's page), silence, a dribble that outlasts the deadline.
// Each leads to the retry prompt, and the pending entry stays pending.
TEST_F(Online, RepliesWithoutBofOrInTimeAreFailures) {
  localScores[0] = CipherText(MakeScoreRecord(u"x", u"A1", 500, u"1"));
  onFrame = [](int n) {
    TapKey(KEY_N);
    (void)n;
  };
  SetSocketTimeoutMillis(300);
  for (const char* mode : {"nobof", "hang"}) {
    TestScoreServer server(mode);
    ASSERT_GT(server.port, 0);
    SetScoreServerHost(server.Host());
    onlineRows[0][0] = u"kept";
    EXPECT_EQ(FetchOnlineScores(1), 0) << mode;
    EXPECT_EQ(onlineRows[0][0], u"kept") << mode;
    EXPECT_EQ(PostOnlineScore(0), 0) << mode;
  }
  // The board is fine, the upload's reply has no "bof": nothing is marked.
  ScriptedServer board([](int, const std::string& request) {
    if (request.find("getScores.php") != std::string::npos) return HttpReply("bof\n");
    if (request.find("challenge.php") != std::string::npos) return HttpReply("bof\nR\n5\n");
    return std::string("HTTP/1.0 503 Service Unavailable\r\n\r\n");
  });
  SetScoreServerHost(board.Host());
  SyncOnlineScores();
  EXPECT_EQ(MidText(PlainLocal(0), 30, 1), u"1");
  EXPECT_EQ(MidText(PlainAt(FileBytes("vek.hsf"), 30000), 30, 1), u"1");
}

TEST_F(Online, RealServerDownloadsAndUploads) {
  TestScoreServer server;
  ASSERT_GT(server.port, 0);
  SetScoreServerHost(server.Host());
  localScores[0] = CipherText(MakeScoreRecord(u"local", u"C2", 4321, u"1"));

  // A wrong answer is refused with "6"; the next attempt, with the right
  // constants and a new challenge, goes through.
  SetChallengeConstants(111111, 1, 11);
  onFrame = [](int n) {
    if (n == 2) ResetChallengeConstants();
  };
  EXPECT_EQ(PostOnlineScore(0), 1);
  EXPECT_EQ(frames.frames, 4);

  EXPECT_EQ(FetchOnlineScores(1), 1);
  EXPECT_EQ(onlineRows[0][0], onlineName);
  EXPECT_EQ(onlineRows[0][1], u"C2");
  EXPECT_EQ(onlineRows[0][2], u"4321");
  EXPECT_EQ(FetchOnlineScores(2), 1);
  EXPECT_EQ(PlainOnline(0), MakeScoreRecord(onlineName, u"C2", 4321, u"0"));
  EXPECT_EQ(onlineRank, 1);
}

TEST_F(Online, SynchronisationUploadsTheBestPendingEntryAndMarksBoth) {
  TestScoreServer server;
  ASSERT_GT(server.port, 0);
  SetScoreServerHost(server.Host());
  localScores[0] = CipherText(MakeScoreRecord(u"Ace", u"B1", 9000, u"1"));
  localScores[1] = CipherText(MakeScoreRecord(u"Bee", u"A4", 8000, u"1"));
  SetCurrentFont(nullptr);
  SyncOnlineScores();
  EXPECT_EQ(MidText(PlainLocal(0), 30, 1), u"0");
  EXPECT_EQ(MidText(PlainLocal(1), 30, 1), u"0");
  EXPECT_EQ(MidText(PlainLocal(2), 30, 1), u"0");
  EXPECT_EQ(onlineRank, 1);
  EXPECT_EQ(PlainOnline(0), MakeScoreRecord(onlineName, u"B1", 9000, u"0"));
  EXPECT_EQ(PlainOnline(1), MakeScoreRecord(Text(), u"A1", 0, u"0"));  // only one was sent
  std::string bytes = FileBytes("vek.hsf");
  ASSERT_EQ(bytes.size(), 30758u);
  EXPECT_EQ(MidText(PlainAt(bytes, 30000), 30, 1), u"0");
  EXPECT_EQ(PlainAt(bytes, 0), PlainOnline(0));

  // The panel then opens on the online page with the player's row.
  boardOpen = 0;
  TapKey(KEY_H);
  OpenBoardIfRequested();
  EXPECT_EQ(boardOpen, 1);
  EXPECT_EQ(onlineTop, 0);
}

TEST_F(Online, ServerDownAsksToRetryAndNWins) {
  SetScoreServerHost(AsciiText("127.0.0.1:" + std::to_string(DeadPort())));
  std::string before = FileBytes("vek.hsf");
  onFrame = [](int n) {
    if (n == 2) TapKey(KEY_Y);  // first prompt: retry
    if (n == 4) {               // second prompt: both keys, N counts
      TapKey(KEY_Y);
      TapKey(KEY_N);
    }
  };
  SyncOnlineScores();
  // status, prompt, status, prompt, failed screen
  EXPECT_EQ(frames.frames, 5);
  EXPECT_EQ(onlineRank, -1);
  EXPECT_EQ(FileBytes("vek.hsf"), before);
}

TEST_F(Online, GarbageFromTheServerKeepsTheFileValid) {
  TestScoreServer server("garbage");  // bytes, fields, long lines, many lines in turn
  ASSERT_GT(server.port, 0);
  SetScoreServerHost(server.Host());
  for (int reply = 0; reply < 4; ++reply) {
    if (reply == 1) WriteDefaultScoreFile();  // a clean board to read the fields into
    EXPECT_EQ(FetchOnlineScores(2), 1) << reply;
    for (int r = 0; r < 1001; ++r)  // row 1000 is never saved and may still be empty
      if (r < 1000 || !onlineBoard[r].empty()) {
        ASSERT_TRUE(WellFormed(PlainOnline(r))) << reply << " row " << r;
      }
    if (reply == 1) {
      Text untouched = MakeScoreRecord(Text(), u"A1", 0, u"0");
      EXPECT_EQ(PlainOnline(0), untouched);  // no commas: nothing stored
      EXPECT_EQ(PlainOnline(1), untouched);  // one comma
      EXPECT_EQ(PlainOnline(2), MakeScoreRecord(u"a", u"b", 0, u"0"));
      EXPECT_EQ(PlainOnline(4), MakeScoreRecord(u"Ann", u"A1", 100, u"0"));
      EXPECT_EQ(PlainOnline(6), MakeScoreRecord(u"Bob", u"LO", 200, u"0"));
      EXPECT_EQ(PlainOnline(7), MakeScoreRecord(u"Cid", u"??", 300, u"0"));
      EXPECT_EQ(PlainOnline(9), MakeScoreRecord(u"Eve", u"C3", 0, u"0"));
      EXPECT_EQ(PlainOnline(10), MakeScoreRecord(u"Fay", u"D4", 9999999, u"0"));
      EXPECT_EQ(PlainOnline(12), untouched);  // a second "bof" is just a line
    }
  }
  // The last reply had 1500 lines: rows 0..1000 are filled, the rest dropped.
  EXPECT_EQ(PlainOnline(999), MakeScoreRecord(u"P0999", u"A1", 501, u"0"));
  EXPECT_EQ(PlainOnline(1000), MakeScoreRecord(u"P1000", u"A1", 500, u"0"));
  ASSERT_TRUE(SaveScoreFile());
  EXPECT_EQ(FileBytes("vek.hsf").size(), 30758u);
  Text row999 = onlineBoard[999];
  onlineBoard[999].clear();
  LoadScoreFile();
  EXPECT_FALSE(ScoreNoticePending());
  EXPECT_EQ(onlineBoard[999], row999);
}

TEST_F(Online, OnlyScoresAboveTheBoardsLastLineAreOffered) {
  std::string board = "bof\n";
  for (int i = 0; i < 1000; ++i)
    board += "P" + std::to_string(i) + ",A1," + std::to_string(1499 - i) + "\n";
  ScriptedServer server([&](int, const std::string& request) {
    if (request.find("challenge.php") != std::string::npos) return HttpReply("bof\nR\n5\n");
    if (request.find("updateScores.php") != std::string::npos) return HttpReply("bof\n1\n");
    return HttpReply(board);
  });
  SetScoreServerHost(server.Host());
  localScores[0] = CipherText(MakeScoreRecord(u"A", u"A1", 900, u"1"));
  localScores[1] = CipherText(MakeScoreRecord(u"B", u"A1", 700, u"1"));
  localScores[2] = CipherText(MakeScoreRecord(u"C", u"A1", 500, u"1"));  // equals the last line
  localScores[3] = CipherText(MakeScoreRecord(u"D", u"A1", 400, u"1"));
  SyncOnlineScores();
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);  // board, challenge, upload, board
  EXPECT_NE(requests[2].find("&score=900\r\n"), std::string::npos);
  EXPECT_EQ(MidText(PlainLocal(0), 30, 1), u"0");
  EXPECT_EQ(MidText(PlainLocal(1), 30, 1), u"0");  // offered without being sent
  EXPECT_EQ(MidText(PlainLocal(2), 30, 1), u"1");
  EXPECT_EQ(MidText(PlainLocal(3), 30, 1), u"1");
  EXPECT_EQ(onlineRows[999][2], u"500");
  EXPECT_EQ(PlainOnline(999), MakeScoreRecord(u"P999", u"A1", 500, u"0"));
  EXPECT_EQ(onlineRank, -1);
  EXPECT_EQ(MidText(PlainAt(FileBytes("vek.hsf"), 30000 + 30), 30, 1), u"0");  // saved
}

TEST_F(Online, KeyAndNameAreKeptInTheConfigurationFolder) {
  ForgetOnlineIdentity();
  Text folder = UserConfigFolder(u"zephrant"), error;
  ASSERT_TRUE(MakeFolder(folder, error));
  chmod(ByteString(folder).c_str(), 0755);  // a folder the game did not make
  RemoveFile(folder + OnlineKeyFile(ScoreServerHost()));
  Text key = OnlineKey();
  struct stat st {};
  ASSERT_EQ(stat(ByteString(folder + OnlineKeyFile(ScoreServerHost())).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the key is the player's alone
  ASSERT_EQ(key.size(), 32u);
  EXPECT_EQ(key.find_first_not_of(u"0123456789abcdef"), Text::npos);
  ForgetOnlineIdentity();
  EXPECT_EQ(OnlineKey(), key);  // made once, read back afterwards

  RememberOnlineName(u"Zed Q");
  EXPECT_EQ(onlineName, u"Zed Q");
  RememberOnlineName(u"");  // an empty entry keeps the name
  ForgetOnlineIdentity();
  onlineName = u"somebody";
  LoadOnlineName();
  EXPECT_EQ(onlineName, u"Zed Q");
  RemoveFile(UserConfigFolder(u"zephrant") + u"/online-name");
  ForgetOnlineIdentity();
  LoadOnlineName();  // none kept: the login name again
  EXPECT_EQ(onlineName, OnlineNameFrom(LocalUserName()));
}

// The replay goes first in a request of its own; the challenge and upload
// that follow are the very bytes they always were.
TEST_F(Online, TheReplayGoesFirstAndTheUploadStaysByteExact) {
  ReplayData data;
  data.score = 12345;
  data.levelLabel = u"B3";
  data.frames = 1;
  std::vector<uint8_t> replay = EncodeReplay(data);
  localScores[3] = CipherText(u"Someone.............B300123451");
  localReplays[3] = StoreReplay(replay);
  ScriptedServer server([](int n, const std::string&) {
    return HttpReply(n == 0 ? "bof\n71\n" : n == 1 ? "bof\nR77\n1000\n" : "bof\n1\n");
  });
  SetScoreServerHost(server.Host());
  EXPECT_EQ(PostOnlineScore(3), 1);
  std::string host = "127.0.0.1:" + std::to_string(server.port);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], "POST http://" + host + "/netscores/zephrant/replay.php HTTP/1.0\r\n" +
                             "Host: " + host +
                             "\r\nContent-Length: " + std::to_string(replay.size()) +
                             "\r\nContent-Type: application/octet-stream\r\n"
                             "X-Zephrant-Key: " +
                             ByteString(OnlineKey()) + "\r\nX-Zephrant-Name: " + Name() +
                             "\r\n\r\n" + std::string(replay.begin(), replay.end()));
  EXPECT_EQ(requests[1],
            "GET http://" + host + "/netscores/zephrant/challenge.php HTTP/1.0\r\n\n\r\n");
  EXPECT_EQ(requests[2].find("POST http://" + host + "/netscores/zephrant/updateScores.php"), 0u);
}

// Connections to ":late" (no host, so the TCP factory passes them on).
class TLateEndFactory : public TStreamFactory {
 public:
  StreamRef CreateStream(const Text&, const Text& proto, const Text& path, bool, bool) override {
    if (proto != u"tcp" || path != u":late") return nullptr;
    return std::make_shared<TReplyStream>(HttpReply("bof\nlines\n2\n5\n"), true);
  }
};

TEST_F(Online, AServerThatClosesAfterItsLastLineGivesTheLinesItSent) {
  static TLateEndFactory late;
  static bool added = (AddStreamFactory(&late), true);
  (void)added;
  SetScoreServerHost(u":late");
  std::vector<int> lines;
  EXPECT_TRUE(FetchReplayLines(lines));
  EXPECT_EQ(lines, (std::vector<int>{2, 5}));
}

TEST_F(Online, ABoardLinesReplayIsFetchedAsHexLines) {
  std::vector<std::string> replies = {"bof\nreplay\n00ff10\nab\n", "bof\nnone\n",
                                      "bof\nreplay\n0g\n", "no marker\n00\n"};
  ScriptedServer server([&](int n, const std::string&) { return HttpReply(replies.at(n)); });
  SetScoreServerHost(server.Host());
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(FetchLineReplay(7, bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0xff, 0x10, 0xab}));
  EXPECT_EQ(server.Requests().at(0),
            "GET http://" + ByteString(server.Host()) +
                "/netscores/zephrant/replay.php?line=7 HTTP/1.0\r\n\n\r\n");
  for (int i = 1; i < 4; ++i) {
    EXPECT_FALSE(FetchLineReplay(1, bytes)) << i;
    EXPECT_TRUE(bytes.empty());
  }
}
