// Streams: embedded files, files, byte-exact lines, strings and numbers,
// and TCP against a listener on the loopback interface.
#include "media/stream.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "media/stream_kinds.h"
#include "tests/support/harness.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A one-connection TCP server on 127.0.0.1 (or ::1) run by a thread.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<void(int)> serve, bool v6 = false) : v6_(v6) {
    listener_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    sockaddr_in6 addr6{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr6.sin6_family = AF_INET6;
    addr6.sin6_addr = in6addr_loopback;
    sockaddr* bound = v6 ? reinterpret_cast<sockaddr*>(&addr6) : reinterpret_cast<sockaddr*>(&addr);
    socklen_t len = v6 ? sizeof addr6 : sizeof addr;
    listening_ = ::bind(listener_, bound, len) == 0 && ::listen(listener_, 1) == 0;
    ::getsockname(listener_, bound, &len);
    port_ = ntohs(v6 ? addr6.sin6_port : addr.sin_port);
    thread_ = std::thread([this, serve] {
      int c = ::accept(listener_, nullptr, nullptr);
      if (c >= 0) {
        serve(c);
        ::close(c);
      }
    });
  }
  ~LoopbackServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  Text Url() const {
    return AsciiText((v6_ ? "tcp::[::1]:" : "tcp::127.0.0.1:") + std::to_string(port_));
  }
  int port() const { return port_; }
  bool Listening() const { return listening_; }

 private:
  bool v6_, listening_;
  int listener_ = -1, port_ = 0;
  std::thread thread_;
};

void SendText(int fd, const std::string& s) { ::send(fd, s.data(), s.size(), MSG_NOSIGNAL); }

// Opens with a time-out of `ms` for the whole connection, which starts
// before the lookup: `start` is taken just before the open that worked. On
// a busy machine the lookup's thread alone can take the whole time, so a
// failed open is tried again.
StreamRef OpenWithin(const Text& url, int ms, std::chrono::steady_clock::time_point& start) {
  SetSocketTimeoutMillis(ms);
  StreamRef s;
  for (int i = 0; i < 5 && !s; ++i) {
    start = std::chrono::steady_clock::now();
    s = OpenStreamUrl(url, true, true);
  }
  return s;
}

}  // namespace

TEST(Streams, EmbeddedFilesAreReadInPlaceByExactName) {
  static unsigned char bytes[1748];
  for (int i = 0; i < 1748; ++i) bytes[i] = static_cast<unsigned char>(i * 7);
  EXPECT_EQ(RegisterEmbeddedFile(u"fixture-ship.png", bytes, 1748), 1);
  EXPECT_EQ(RegisterEmbeddedFile(u"fixture-ship.png", bytes, 10), 0);  // the first stays

  EXPECT_EQ(OpenStreamUrl(u"incbin::fixture-ship.png", false, true), nullptr);
  EXPECT_EQ(OpenStreamUrl(u"incbin::fixture-ship.png", true, true), nullptr);
  StreamRef s = OpenStreamUrl(u"incbin::fixture-ship.png", true, false);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(), 1748);
  EXPECT_EQ(s->Pos(), 0);
  auto* ram = dynamic_cast<TRamStream*>(s.get());
  ASSERT_NE(ram, nullptr);
  EXPECT_EQ(ram->_buf, bytes);  // no copy
  EXPECT_EQ(s->ReadByte(), 0);
  EXPECT_EQ(s->ReadByte(), 7);
  EXPECT_EQ(s->Write("x", 1), 0);
  EXPECT_EQ(s->Seek(5000), 1748);
  EXPECT_TRUE(s->Eof());

  EXPECT_NE(OpenStreamUrl(u"INCBIN::fixture-ship.png", true, false), nullptr);
  EXPECT_NE(OpenFileForReading(u"InCbIn::fixture-ship.png"), nullptr);
  EXPECT_EQ(OpenStreamUrl(u"incbin::Fixture-ship.png", true, false), nullptr);
  EXPECT_EQ(OpenStreamUrl(u"incbin::nothing", true, false), nullptr);
  EXPECT_EQ(OpenStreamUrl(u"nosuchproto::x", true, false), nullptr);
}

TEST(Streams, LinesEndAtLineFeedOrNulAndDropCarriageReturns) {
  std::string dir = MakeTempDir("lines");
  WriteAll(dir + "/ab", std::string("AB\r\nCD", 6));
  StreamRef s = OpenFileForReading(AsciiText(dir + "/ab"));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(), 6);
  EXPECT_EQ(s->ReadLine(), u"AB");
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(s->ReadLine(), u"CD");
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->ReadLine(), u"");
  s->Close();

  WriteAll(dir + "/mixed", std::string("x\ry\0z\n\nq\xE9", 10));
  s = OpenFileForReading(AsciiText(dir + "/mixed"));
  EXPECT_EQ(s->ReadLine(), u"xy");
  EXPECT_EQ(s->ReadLine(), u"z");
  EXPECT_EQ(s->ReadLine(), u"");
  EXPECT_EQ(s->ReadLine(), u"q\u00E9");  // bytes are Latin-1 characters
}

TEST(Streams, WritesAreByteExact) {
  std::string dir = MakeTempDir("write");
  Text path = AsciiText(dir + "/out");
  StreamRef s = OpenFileForWriting(path);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->WriteLine(u""), 1);
  EXPECT_EQ(s->WriteLine(u"hi"), 1);
  s->WriteString(u"\u0141z");  // above 255: its low byte
  s->WriteLong(-2);
  s->WriteLong(0x0102030405060708LL);
  EXPECT_EQ(s->Size(), 2 + 4 + 2 + 16);
  EXPECT_TRUE(s->Eof());
  s->Close();
  EXPECT_EQ(ReadAll(dir + "/out"), std::string("\r\nhi\r\nAz"
                                               "\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF"
                                               "\x08\x07\x06\x05\x04\x03\x02\x01",
                                               24));

  s = OpenFileForReading(path);
  EXPECT_EQ(s->ReadString(8), u"\r\nhi\r\nAz");
  EXPECT_EQ(s->ReadLong(), -2);
  EXPECT_EQ(s->ReadLong(), 0x0102030405060708LL);
  s->Close();

  // Both directions keep the content; writing alone truncates.
  s = OpenStreamUrl(path, true, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Size(), 24);
  EXPECT_EQ(s->ReadString(2), u"\r\n");
  s->WriteString(u"HI");
  s->Seek(0);
  EXPECT_EQ(s->ReadString(6), u"\r\nHI\r\n");
  s->Close();
  s = OpenFileForWriting(path);
  s->Close();
  EXPECT_EQ(ReadAll(dir + "/out"), "");
}

TEST(Streams, ShortReadsAndWritesRaise) {
  static const unsigned char four[4] = {1, 2, 3, 4};
  RegisterEmbeddedFile(u"fixture-four", four, 4);
  StreamRef s = OpenStreamUrl(u"incbin::fixture-four", true, false);
  try {
    s->ReadLong();
    FAIL() << "no exception";
  } catch (const TStreamReadException& e) {
    EXPECT_STREQ(e.what(), "Error reading from stream");
  }
  s->Seek(0);
  EXPECT_THROW(s->ReadString(5), TStreamReadException);
  s->Seek(0);
  EXPECT_EQ(s->ReadInt(), 0x04030201);
  try {
    s->WriteString(u"x");  // embedded files cannot be written
    FAIL() << "no exception";
  } catch (const TStreamWriteException& e) {
    EXPECT_STREQ(e.what(), "Error writing to stream");
  }
  EXPECT_THROW(s->WriteLong(1), TStreamWriteException);
  EXPECT_EQ(s->WriteLine(u"x"), 0);  // WriteLine reports instead of raising
}

TEST(Streams, PathsAndFileOperations) {
  std::string dir = MakeTempDir("paths");
  WriteAll(dir + "/f", "data");
  std::string windowsStyle = dir + "\\f";
  StreamRef s = OpenFileForReading(AsciiText(windowsStyle));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ReadString(4), u"data");
  s->Close();
  EXPECT_EQ(OpenFileForReading(AsciiText(dir + "/missing")), nullptr);
  EXPECT_EQ(RemoveFile(AsciiText(dir + "/f")), 1);
  EXPECT_EQ(OpenFileForReading(AsciiText(dir + "/f")), nullptr);
  EXPECT_EQ(RemoveFile(AsciiText(dir + "/f")), 1);  // nothing there: fine too
  WriteAll(dir + "/g", "more");
  EXPECT_EQ(RemoveFile(AsciiText(dir)), 0);  // a directory with files in it stays
}

TEST(Streams, ByteOrderWrappers) {
  std::string dir = MakeTempDir("endian");
  Text path = AsciiText(dir + "/be");
  StreamRef s = OpenFileForWriting(path);
  EXPECT_EQ(TXEndianStream::LittleEndian(s), s);
  s->Close();
  s = OpenStreamUrl(u"BigEndian::" + path, false, true);
  ASSERT_NE(s, nullptr);
  s->WriteInt(1);
  s->WriteShort(0x0203);
  s->Close();
  EXPECT_EQ(ReadAll(dir + "/be"), std::string("\0\0\0\1\2\3", 6));
  s = OpenStreamUrl(u"littleendian::" + path, true, false);
  EXPECT_EQ(s->ReadInt(), 0x01000000);

  auto wrapped = OpenStreamUrl(s, true, false);
  ASSERT_NE(wrapped, nullptr);
  EXPECT_NE(wrapped, s);
  EXPECT_EQ(wrapped->ReadShort(), 0x0302);
  EXPECT_TRUE(s->Eof());
}

TEST(Streams, StreamsThatCannotSeekAreCopiedForFileReading) {
  LoopbackServer server([](int fd) { SendText(fd, "one\r\ntwo"); });
  StreamRef s = OpenFileForReading(server.Url());
  ASSERT_NE(s, nullptr);
  EXPECT_NE(dynamic_cast<TBankStream*>(s.get()), nullptr);
  EXPECT_EQ(s->Size(), 8);
  EXPECT_EQ(s->ReadLine(), u"one");
  EXPECT_EQ(s->ReadLine(), u"two");
  EXPECT_TRUE(s->Eof());
}

TEST(Tcp, HostAndPortAreParsed) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseTcpPath(u"scores.example.org", host, port));
  EXPECT_EQ(host, "scores.example.org");
  EXPECT_EQ(port, 80);
  EXPECT_TRUE(ParseTcpPath(u"scores.example.org:8080", host, port));
  EXPECT_EQ(host, "scores.example.org");
  EXPECT_EQ(port, 8080);
  EXPECT_TRUE(ParseTcpPath(u"localhost:", host, port));
  EXPECT_EQ(port, 80);
  EXPECT_FALSE(ParseTcpPath(u":8080", host, port));
  EXPECT_EQ(OpenStreamUrl(u"tcp::", true, true), nullptr);
  // IPv6 addresses come in brackets.
  EXPECT_TRUE(ParseTcpPath(u"[::1]", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 80);
  EXPECT_TRUE(ParseTcpPath(u"[fd00::2]:8480", host, port));
  EXPECT_EQ(host, "fd00::2");
  EXPECT_EQ(port, 8480);
  EXPECT_FALSE(ParseTcpPath(u"[::1", host, port));
  EXPECT_FALSE(ParseTcpPath(u"[::1]8480", host, port));
}

TEST(Tcp, AnIPv6AddressIsReached) {
  LoopbackServer server([](int fd) { SendText(fd, "over IPv6\r\n"); }, true);
  if (!server.Listening()) GTEST_SKIP() << "this machine has no IPv6 loopback";
  StreamRef s = OpenStreamUrl(server.Url(), true, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ReadLine(), u"over IPv6");
  s->Close();
}

TEST(Tcp, AReplyIsReadLineByLineUntilThePeerCloses) {
  LoopbackServer server([](int fd) {
    char request[64] = {};
    ::recv(fd, request, sizeof request - 1, 0);
    SendText(fd, std::string("HTTP/1.0 200 OK\r\n\r\n") + request);
  });
  StreamRef s = OpenStreamUrl(server.Url(), true, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Pos(), -1);
  EXPECT_EQ(s->WriteLine(u"GET /"), 1);
  std::vector<Text> lines;
  while (!s->Eof()) lines.push_back(s->ReadLine());
  // The last ReadLine may have met the close itself; Eof then said so.
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  EXPECT_EQ(lines, (std::vector<Text>{u"HTTP/1.0 200 OK", u"", u"GET /"}));
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->ReadLine(), u"");
  s->Close();
}

TEST(Tcp, ASilentServerTimesOut) {
  std::atomic<bool> done{false};
  LoopbackServer server([&done](int) {
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  std::chrono::steady_clock::time_point start;
  StreamRef s = OpenWithin(server.Url(), 300, start);
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->Eof());  // nothing yet, nothing closed: not at the end
  EXPECT_EQ(s->ReadLine(), u"");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(299));  // the clock counts whole milliseconds
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  EXPECT_TRUE(s->Eof());  // a time-out counts as a closed peer, and a failure
  EXPECT_TRUE(s->Failed());
  done = true;
  SetSocketTimeoutMillis(10000);
}

TEST(Tcp, OneDeadlineAndOneByteCapForTheWholeConnection) {
  // A server that keeps sending a byte now and then never resets the clock.
  std::atomic<bool> done{false};
  LoopbackServer dribbling([&done](int fd) {
    while (!done && ::send(fd, "x", 1, MSG_NOSIGNAL) == 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  std::chrono::steady_clock::time_point start;
  StreamRef s = OpenWithin(dribbling.Url(), 300, start);
  ASSERT_NE(s, nullptr);
  while (!s->Eof()) s->ReadLine();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_TRUE(s->Failed());
  done = true;
  SetSocketTimeoutMillis(10000);

  LoopbackServer flooding([](int fd) { SendText(fd, std::string(5000, 'y') + "\n"); });
  SetSocketByteCap(1000);
  s = OpenStreamUrl(flooding.Url(), true, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->ReadLine().size(), 1000u);
  EXPECT_TRUE(s->Eof());
  EXPECT_TRUE(s->Failed());
  SetSocketByteCap(1 << 20);
}

TEST(Tcp, AnOverlongLineIsCutAndTheRestDropped) {
  LoopbackServer server(
      [](int fd) { SendText(fd, std::string(MAX_LINE_BYTES + 5000, 'x') + "y\r\nnext\n"); });
  StreamRef s = OpenStreamUrl(server.Url(), true, false);
  ASSERT_NE(s, nullptr);
  Text first = s->ReadLine();
  EXPECT_EQ(first.size(), static_cast<size_t>(MAX_LINE_BYTES));
  EXPECT_EQ(first.find(u'y'), Text::npos);
  EXPECT_EQ(s->ReadLine(), u"next");
}

TEST(Tcp, RefusedConnectionsAndHungUpPeers) {
  int port;
  {
    LoopbackServer gone([](int) {});
    port = gone.port();
    StreamRef s = OpenStreamUrl(gone.Url(), true, true);
    ASSERT_NE(s, nullptr);
    // Writing to a peer that hung up must give 0, not end the program. The
    // writes succeed until the server's thread has closed and the system
    // has answered with a reset: they go on until then, for a while.
    int sent = 1;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sent > 0 && std::chrono::steady_clock::now() < until) {
      sent = s->Write("hello", 5);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(s->Read(&sent, 1), 0);
  }
  EXPECT_EQ(OpenStreamUrl(AsciiText("tcp::127.0.0.1:" + std::to_string(port)), true, true),
            nullptr);
}

TEST(Tcp, AConnectionThatIsNeverAcceptedTimesOut) {
  // A listener that never accepts: once its tiny queue is full the
  // system drops further handshakes, so connecting hangs until we give up.
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::listen(listener, 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  Text url = AsciiText("tcp::127.0.0.1:" + std::to_string(ntohs(addr.sin_port)));

  SetSocketTimeoutMillis(300);
  std::vector<StreamRef> held;
  bool timedOut = false;
  for (int i = 0; i < 8 && !timedOut; ++i) {
    auto start = std::chrono::steady_clock::now();
    StreamRef s = OpenStreamUrl(url, true, true);
    auto waited = std::chrono::steady_clock::now() - start;
    if (!s) {
      timedOut = true;
      EXPECT_GE(waited, std::chrono::milliseconds(250));
      EXPECT_LT(waited, std::chrono::milliseconds(3000));
    }
    held.push_back(s);
  }
  SetSocketTimeoutMillis(10000);
  EXPECT_TRUE(timedOut);
  ::close(listener);
}
