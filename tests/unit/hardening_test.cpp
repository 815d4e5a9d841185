// Faults found by trying the game as a hostile user, a crashing machine and
// a long session would: files that are links or pipes, sizes taken on trust.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <climits>
#include <ctime>
#include <fstream>
#include <functional>

#include "media/audio_sample.h"
#include "media/image.h"
#include "media/stream_kinds.h"
#include "scores/game_over.h"
#include "tests/unit/scores_test_util.h"
#include "tests/support/paths.h"

namespace {

// Runs fn in a child process that may grow by at most extraBytes and is
// killed after `seconds`; the test fails unless fn returns normally.
void RunsBounded(const std::function<void()>& fn, long extraBytes, int seconds) {
#ifdef ZEPHRANT_SANITIZE
  (void)extraBytes;  // the sanitizers reserve more address space than any limit allows
#endif
  EXPECT_EXIT(
      {
        alarm(static_cast<unsigned>(seconds));
#ifndef ZEPHRANT_SANITIZE
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max =
            static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + extraBytes);
        setrlimit(RLIMIT_AS, &limit);
#endif
        fn();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

std::string PngChunk(const std::string& type, const std::string& data) {
  std::string out;
  uint32_t n = static_cast<uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(n >> s);
  std::string body = type + data;
  uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
  out += body;
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(crc >> s);
  return out;
}

// The CRC of an Ogg page: polynomial 0x04C11DB7, most significant bit first.
uint32_t OggCrc(const std::string& page) {
  uint32_t crc = 0;
  for (unsigned char c : page) {
    crc ^= static_cast<uint32_t>(c) << 24;
    for (int b = 0; b < 8; ++b) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

}  // namespace

TEST(Hardening, SizesAreBoundedByTheData) {
  // A 69-byte PNG whose header claims 16384 x 16384 RGBA pixels.
  std::string ihdr("\0\0\x40\0\0\0\x40\0\x08\x06\0\0\0", 13);
  std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) +
                    PngChunk("IDAT", std::string("\x78\x9c\x03\0\0\0\0\x01", 8)) +
                    PngChunk("IEND", "");
  RunsBounded(
      [&] {
        TRamStream s(png.data(), static_cast<int>(png.size()), true, false);
        if (LoadPixmapPNG(s)) std::_Exit(3);
      },
      256L << 20, 30);

  RunsBounded([] { (void)MidText(u"ABC", INT_MIN + 2); }, 256L << 20, 30);
  EXPECT_EQ(MidText(u"ABC", INT_MIN).size(), 3u + MAX_TEXT_PADDING);

  // An effect whose last page claims 500 million frames.
  std::ifstream in(AssetsDir() + "/snd_pickup.ogg", std::ios::binary);
  std::string ogg((std::istreambuf_iterator<char>(in)), {});
  size_t last = ogg.rfind("OggS");
  ASSERT_NE(last, std::string::npos);
  uint64_t granule = 500000000;
  for (int i = 0; i < 8; ++i) ogg[last + 6 + i] = static_cast<char>(granule >> (8 * i));
  for (int i = 0; i < 4; ++i) ogg[last + 22 + i] = 0;
  uint32_t crc = OggCrc(ogg.substr(last));
  for (int i = 0; i < 4; ++i) ogg[last + 22 + i] = static_cast<char>(crc >> (8 * i));
  TRamStream s(ogg.data(), static_cast<int>(ogg.size()), true, false);
  std::unique_ptr<TAudioSample> sample = LoadOggSample(s);
  ASSERT_TRUE(sample);
  EXPECT_LT(sample->capacity, 8 << 20);
  EXPECT_GT(sample->length, 1000);
}

TEST(Hardening, SaveNeverFollowsOrReusesTheTemporaryFile) {
  ScoreDir dir("hsf-link");
  WriteFileBytes("victim", "the player's other file");
  ASSERT_EQ(symlink("victim", "vek.hsf.tmp"), 0);
  ASSERT_TRUE(WriteDefaultScoreFile());
  EXPECT_EQ(FileBytes("victim"), "the player's other file");
  struct stat st;
  ASSERT_EQ(lstat("vek.hsf", &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, SCORE_FILE_SIZE);
}

TEST(Hardening, AScoreFileThatIsAPipeIsUnreadable) {
  ScoreDir dir("hsf-fifo");
  ASSERT_EQ(mkfifo("vek.hsf", 0600), 0);
  RunsBounded(
      [] {
        if (OpenFileForReading(u"vek.hsf")) std::_Exit(3);
        LoadScoreFile();  // as a missing file: the defaults take its place
      },
      1L << 30, 20);
  EXPECT_EQ(FileBytes("vek.hsf").size(), static_cast<size_t>(SCORE_FILE_SIZE));
}

TEST(Hardening, AGameOverAboveAThousandTicksKeepsAOneMillisecondTick) {
  ScoreDir dir("tick");
  LoadScoreFile();
  ResetPlayClock();
  tickRate = 1500;
  playState = 1;
  for (int i = 0; i < 3; ++i) DrawGameOverFrame();  // would divide by a 0 ms tick
  EXPECT_EQ(tickRate, 1497);
  EXPECT_EQ(tickMs, 1);
}

TEST(Hardening, ThePortOfAHostMustFitSixteenBits) {
  std::string host;
  int port = 0;
  EXPECT_TRUE(ParseTcpPath(u"scores.example.org:65535", host, port));
  EXPECT_EQ(port, 65535);
  EXPECT_FALSE(ParseTcpPath(u"scores.example.org:65616", host, port));  // would reach port 80
  EXPECT_FALSE(ParseTcpPath(u"scores.example.org:0", host, port));
  EXPECT_FALSE(OpenStreamUrl(u"tcp::127.0.0.1:-1", true, true));
}

TEST(Hardening, TheRealClockIsTheSystemsMillisecondCounter) {
  int virtualNow = ElapsedMillis();
  UseRealClock();
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  auto system = static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
  int drift = ElapsedMillis() - static_cast<int>(system);
  UseVirtualClock(virtualNow);
  EXPECT_LE(std::abs(drift), 1000);  // not a count from the start of the process
}
