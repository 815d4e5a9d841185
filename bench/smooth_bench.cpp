// One command for the figures of a smooth game: start-up, CPU time and frame
// intervals per screen, peak memory per screen and frame pacing windowed and
// full screen, for the real game flow driven by scripted keys, with a bare
// SDL2 + GL window measured beside it on the same Xvfb server in the same run.
//
//   smooth_bench [repeats] [--size WxH] [--full]
//
// Figures are medians of the runs (default 3). With --size the Xvfb screen,
// the bare window and the game's window are W x H (the picture is scaled
// into it), and a run ends on the title after the game; --full plays the
// whole game in full screen (switched on the title) and the bare window
// covers the screen too.
//
// Each measurement runs in a fresh process (this program again, with
// "--bare" or "--game"), so launch times and peak memory are their own. The
// machine's load is printed beside the figures: CPU time per frame is the
// figure to trust on a busy machine, wall-clock intervals only on an idle one.
#include <SDL.h>
#include <SDL_opengl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_steer.h"
#include "flow/flow_state.h"
#include "flow/title.h"
#include "media/config.h"
#include "media/graphics.h"
#include "media/input.h"
#include "media/random.h"
#include "scores/score_table.h"
#include "world/level.h"
#include "world/particles.h"
#include "world/player.h"
#include "world/scoring.h"

namespace {

using Figures = std::map<std::string, double>;

double Clock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}
double WallMs() { return Clock(CLOCK_MONOTONIC); }
double CpuMs() { return Clock(CLOCK_PROCESS_CPUTIME_ID); }

// Peak resident memory in MB, and a fresh start for the next peak.
double PeakMB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}
void ResetPeak() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
}

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(p * v.size()))];
}
double Mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / v.size();
}
double Deviation(const std::vector<double>& v) {
  double m = Mean(v), s = 0;
  for (double x : v) s += (x - m) * (x - m);
  return v.size() < 2 ? 0 : std::sqrt(s / (v.size() - 1));
}

// Per-frame CPU time and wall-clock intervals of one screen.
struct Screen {
  std::vector<double> cpu, interval;
  double peak = 0;
  void Put(Figures& f, const std::string& name) const {
    f[name + ".frames"] = double(interval.size());
    f[name + ".cpu"] = Mean(cpu);
    f[name + ".interval"] = Mean(interval);
    f[name + ".p50"] = Percentile(interval, 0.5);
    f[name + ".fps"] = interval.empty() ? 0 : 1000 / Mean(interval);
    f[name + ".p99"] = Percentile(interval, 0.99);
    f[name + ".dev"] = Deviation(interval);
    if (peak > 0) f[name + ".peak"] = peak;
  }
};

// Results travel to the parent as "name value" lines on this descriptor.
int resultFd = -1;
void Send(const Figures& f) {
  std::string out;
  for (auto& [k, v] : f) out += k + " " + std::to_string(v) + "\n";
  if (write(resultFd, out.data(), out.size()) < 0) std::perror("bench: result");
}

// The screen and window size asked for, and full screen; the children read
// them from the environment the parent sets.
int screenW = 800, screenH = 600;
bool fullScreen = false;
void ReadScreenAsked() {
  const char* size = std::getenv("SMOOTH_BENCH_SIZE");
  if (size) std::sscanf(size, "%dx%d", &screenW, &screenH);
  fullScreen = std::getenv("SMOOTH_BENCH_FULL") != nullptr;
}
bool Sized() { return screenW != 800 || screenH != 600 || fullScreen; }

// --- The bare window: what SDL2 and GL cost before the game draws anything ---

int RunBare(double launchedAt, int frames) {
  SDL_Init(SDL_INIT_VIDEO);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_Window* w = SDL_CreateWindow(
      "bare", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, screenW, screenH,
      SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | (fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0));
  SDL_GLContext c = w ? SDL_GL_CreateContext(w) : nullptr;
  if (!c) return 1;
  SDL_GL_SetSwapInterval(0);
  Figures f;
  Screen s;
  double last = 0, lastCpu = 0, next = WallMs();
  for (int i = 0; i <= frames; ++i) {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
    }
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    // Paced by the clock at 50 frames a second, as the game's window is.
    next += 20;
    double wait = next - WallMs();
    if (wait > 0) SDL_Delay(Uint32(wait));
    SDL_GL_SwapWindow(w);
    double now = WallMs(), cpu = CpuMs();
    if (i == 0) {
      f["launch"] = now - launchedAt;
    } else {
      s.interval.push_back(now - last);
      s.cpu.push_back(cpu - lastCpu);
    }
    last = now, lastCpu = cpu;
  }
  s.peak = PeakMB();
  s.Put(f, "bare");
  Send(f);
  SDL_GL_DeleteContext(c);
  SDL_DestroyWindow(w);
  SDL_Quit();
  return 0;
}

// --- The game, driven through its real flow by scripted keys ---

void Tap(int key) {
  InjectInputEvent({InputEventKind::KeyDown, key});
  InjectInputEvent({InputEventKind::KeyUp, key});
}

enum Phase {
  STARTUP,
  TITLE,
  BUILD,
  PLAY,
  COMPLETE,
  BUILD2,
  PLAY2,
  OVER,
  TITLE2,
  FULL,
  WINDOW60,
  DONE
};
const char* const PHASE_NAMES[] = {"startup",  "title",      "build",    "play",
                                   "complete", "build",      "play",     "gameover",
                                   "title2",   "fullscreen", "window60", "done"};

struct GameScript {
  double launchedAt = 0;
  int playFrames = 0;
  Phase phase = STARTUP;
  int frameInPhase = 0, lastTitleTime = -1, maxParticles = 0;
  double last = 0, lastCpu = 0;
  std::map<std::string, Screen> screens;
  Figures f;

  void Enter(Phase p) {
    // The screen just left keeps the peak reached while it ran.
    Screen& was = screens[PHASE_NAMES[phase]];
    was.peak = std::max(was.peak, PeakMB());
    if (phase != STARTUP) ResetPeak();
    if (std::getenv("BENCH_TRACE"))
      std::fprintf(stderr, "bench: %s -> %s after %d frames (level %d, playState %d)\n",
                   PHASE_NAMES[phase], PHASE_NAMES[p], frameInPhase, level, playState);
    phase = p;
    frameInPhase = 0;
  }

  void Frame() {
    double now = WallMs(), cpu = CpuMs();
    bool titleFrame = titleTime != lastTitleTime;
    lastTitleTime = titleTime;
    // The first frame of a screen has no interval within it.
    if (phase != STARTUP && phase != DONE && frameInPhase > 0) {
      Screen& s = screens[PHASE_NAMES[phase]];
      s.interval.push_back(now - last);
      s.cpu.push_back(cpu - lastCpu);
    }
    ++frameInPhase;
    last = now, lastCpu = cpu;
    Step(titleFrame, now);
    last = WallMs(), lastCpu = CpuMs();  // the script's own work is not the game's
  }

  void Step(bool titleFrame, double now) {
    switch (phase) {
      case STARTUP:
        if (titleFrame && titleTime > 0) {
          f["launch"] = now - launchedAt;
          f["startup.peak"] = PeakMB();
          ResetPeak();
          phase = TITLE;
          frameInPhase = 1;
        }
        break;
      case TITLE:
        if (fullScreen && frameInPhase == 20) Tap(KEY_F12);
        if (frameInPhase == 200) Tap(KEY_SPACE);  // every fade has finished by then
        if (!titleFrame) Enter(BUILD);
        break;
      case BUILD:
      case BUILD2:
        if (playState == PLAY_ON) Enter(phase == BUILD ? PLAY : PLAY2);
        break;
      case PLAY:
      case PLAY2:
        if (playState != PLAY_ON) {
          BenchLetGo();
          Enter(phase == PLAY ? COMPLETE : OVER);
          break;
        }
        BenchSteer();
        SetHealth(MAX_HEALTH);  // the chasers may not end the run early
        if (phase == PLAY && frameInPhase == playFrames) {
          for (auto& col : levelGrid)  // the rest of the painting is not worth the time
            for (int& v : col)
              if (v == CELL_LINE) v = CELL_TRAIL;
        }
        if (phase == PLAY2 && frameInPhase == playFrames / 4) {
          SetScore(9000000);  // a place in the local table: the name entry runs
          SetHealth(0);
        }
        break;
      case COMPLETE:
        if (playState == PLAY_NEXT_LEVEL)
          Enter(BUILD2);
        else if (playState > 210 && bonus == 0 && wipeStep == 0)
          Tap(KEY_SPACE);
        break;
      case OVER:
        if (titleFrame) {
          Enter(TITLE2);
          break;
        }
        maxParticles = std::max(maxParticles, ParticleCount());
        if (frameInPhase == 160) TypeLetters("BENCH");
        if (frameInPhase == 200) Tap(KEY_ENTER);
        if (playState > 300 && wipeStep == 0) Tap(KEY_SPACE);
        break;
      case TITLE2:
        if (Sized() && frameInPhase == 50) {
          Finish();
          break;
        }
        if (frameInPhase == 50) Tap(KEY_F12);
        if (frameInPhase > 50 && fullscreen == 1) Enter(FULL);
        break;
      case FULL:
        if (frameInPhase == 200) Tap(KEY_F12);
        if (frameInPhase > 200 && fullscreen == 0) Enter(WINDOW60);
        break;
      case WINDOW60:
        if (frameInPhase == 200) Finish();
        break;
      case DONE: break;
    }
  }

  void Finish() {
    Enter(DONE);  // closes the last screen
    for (auto& [name, s] : screens) s.Put(f, name);
    f["gameover.particles"] = maxParticles;
    f["displayModeFallbacks"] = displayModeFallbacks;
    Send(f);
    Tap(KEY_ESCAPE);
  }

  static void TypeLetters(const char* s) {
    for (; *s; ++s) InjectInputEvent({InputEventKind::Char, *s});
  }
};

int RunGame(double launchedAt, int playFrames) {
  std::string dir = std::filesystem::temp_directory_path() / "zephrant-bench-XXXXXX";
  if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) return 1;
  // Settings of its own: the window opens at the size asked for, not at
  // one a player left.
  setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  SetConfigInt(u"window_width", screenW);
  SetConfigInt(u"window_height", screenH);
  SaveConfig();
  // The game's diagnostic lines are not the bench's.
  int devnull = open("/dev/null", O_WRONLY);
  dup2(devnull, 1);
  GameScript script;
  script.launchedAt = launchedAt;
  script.playFrames = playFrames;
  SetFrameHook([&] { script.Frame(); });
  RunProgram();
}

// --- The parent: one Xvfb, child runs, medians, the table ---

pid_t xvfb = 0;

// A display number of its own, well away from the ones other programs and
// xvfb-run pick, so nobody else's keys reach the game.
bool StartXvfb() {
  for (int n = 170; n < 240; ++n) {
    std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0) continue;
    std::string display = ":" + std::to_string(n);
    xvfb = fork();
    if (xvfb == 0) {
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      dup2(devnull, 2);
      std::string screen = std::to_string(screenW) + "x" + std::to_string(screenH) + "x24";
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-noreset",
             "-ardelay", "10000", "-nolisten", "tcp", (char*)nullptr);
      _exit(127);
    }
    for (int tries = 0; tries < 100; ++tries) {
      if (access(socket.c_str(), F_OK) == 0) {
        setenv("DISPLAY", display.c_str(), 1);
        return true;
      }
      if (waitpid(xvfb, nullptr, WNOHANG) == xvfb) break;  // it could not take that number
      usleep(100000);
    }
  }
  return false;
}

// Busy CPU of the whole machine, in jiffies, from /proc/stat.
double BusyJiffies(double* total) {
  std::ifstream in("/proc/stat");
  std::string cpu;
  double v[10] = {};
  in >> cpu;
  for (double& x : v) in >> x;
  *total = 0;
  for (double x : v) *total += x;
  return *total - v[3] - v[4];  // all but idle and iowait
}

double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double l = 0;
  in >> l;
  return l;
}

Figures RunChild(const char* self, const char* mode, const std::string& arg) {
  int fds[2];
  Figures f;
  if (pipe(fds) != 0) return f;
  double total0, total1;
  double busy0 = BusyJiffies(&total0), load0 = LoadAverage();
  rusage before{};
  getrusage(RUSAGE_CHILDREN, &before);
  double launched = WallMs();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]), at = std::to_string(launched);
    execl(self, self, mode, fd.c_str(), at.c_str(), arg.c_str(), (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  double wall = WallMs() - launched;
  rusage after{};
  getrusage(RUSAGE_CHILDREN, &after);
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  double childCpu =
      ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
  double busy1 = BusyJiffies(&total1);
  double hz = double(sysconf(_SC_CLK_TCK));
  std::istringstream in(text);
  std::string k;
  double v;
  while (in >> k >> v) f[k] = v;
  f["ok"] = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !text.empty();
  // Cores kept busy by everything else on the machine while the child ran.
  f["others"] = std::max(0.0, ((busy1 - busy0) / hz * 1e3 - childCpu) / wall);
  f["load"] = (load0 + LoadAverage()) / 2;
  return f;
}

double Median(const std::vector<Figures>& runs, const std::string& key) {
  std::vector<double> v;
  for (auto& r : runs)
    if (r.count(key)) v.push_back(r.at(key));
  return v.empty() ? NAN : Percentile(v, 0.5);
}

void Row(const char* label, const char* unit, double bare, double game) {
  auto cell = [](double x) {
    char b[32];
    if (std::isnan(x)) return std::string("-");
    std::snprintf(b, sizeof b, "%.1f", x);
    return std::string(b);
  };
  std::printf("  %-46s %10s %10s  %s\n", label, cell(bare).c_str(), cell(game).c_str(), unit);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
  setenv("ALSOFT_DRIVERS", "null", 0);  // OpenAL plays into nothing, but decodes and mixes
  setenv("ALSOFT_LOGLEVEL", "0", 0);
  ReadScreenAsked();
  if (argc == 5 && std::strcmp(argv[1], "--bare") == 0) {
    resultFd = std::atoi(argv[2]);
    return RunBare(std::atof(argv[3]), std::atoi(argv[4]));
  }
  if (argc == 5 && std::strcmp(argv[1], "--game") == 0) {
    resultFd = std::atoi(argv[2]);
    return RunGame(std::atof(argv[3]), std::atoi(argv[4]));
  }
  int repeats = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--full") == 0) {
      setenv("SMOOTH_BENCH_FULL", "1", 1);
    } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
      setenv("SMOOTH_BENCH_SIZE", argv[++i], 1);
    } else if (std::atoi(argv[i]) > 0) {
      repeats = std::atoi(argv[i]);
    } else {
      std::printf("usage: smooth_bench [repeats] [--size WxH] [--full]\n");
      return 2;
    }
  }
  ReadScreenAsked();
  if (screenW < 200 || screenH < 150) {
    std::printf("the size is W x H, at least 200 x 150\n");
    return 2;
  }
  const int playFrames = 400;

  unsetenv("SDL_VIDEODRIVER");
  if (!StartXvfb()) {
    std::printf("Xvfb could not be started\n");
    return 1;
  }
  std::vector<Figures> bare, game;
  for (int r = 0; r < repeats; ++r) {
    bare.push_back(RunChild(argv[0], "--bare", "500"));
    game.push_back(RunChild(argv[0], "--game", std::to_string(playFrames)));
    std::fprintf(stderr, "run %d of %d: bare %s, game %s\n", r + 1, repeats,
                 bare.back()["ok"] ? "ok" : "FAILED", game.back()["ok"] ? "ok" : "FAILED");
  }
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);

  auto B = [&](const std::string& k) { return Median(bare, k); };
  auto G = [&](const std::string& k) { return Median(game, k); };
  std::printf("Medians of %d runs, Mesa llvmpipe on Xvfb (%d x %d x 24), %s, %ld cores\n", repeats,
              screenW, screenH, fullScreen ? "full screen" : "windowed",
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf(
      "machine load while measuring: load average %.1f (bare) / %.1f (game); other work "
      "kept %.2f / %.2f cores busy\n",
      B("load"), G("load"), B("others"), G("others"));
  std::printf("  %-46s %10s %10s\n", "", "bare", "game");
  Row("launch to first real frame (title)", "ms", B("launch"), G("launch"));
  Row("peak memory (VmHWM), start-up", "MB", NAN, G("startup.peak"));
  const char* screens[][2] = {
      {"title", fullScreen ? "title (switched to full screen)" : "title (windowed, 50 Hz)"},
      {"play", "play"},
      {"complete", "level end"},
      {"gameover", "game over, name entry, wipe"},
      {"title2", "title after a game"}};
  for (auto& [key, label] : screens) {
    std::string k = key;
    bool first = k == "title";
    std::printf("  %s (%.0f frames)\n", label, G(k + ".frames"));
    Row("    CPU time per frame", "ms", first ? B("bare.cpu") : NAN, G(k + ".cpu"));
    Row("    frame interval mean", "ms", first ? B("bare.interval") : NAN, G(k + ".interval"));
    Row("    frame interval p50", "ms", first ? B("bare.p50") : NAN, G(k + ".p50"));
    Row("    frame interval p99", "ms", first ? B("bare.p99") : NAN, G(k + ".p99"));
    Row("    frames presented a second", "", first ? B("bare.fps") : NAN, G(k + ".fps"));
    Row("    peak memory (VmHWM) in this screen", "MB", B("bare.peak"), G(k + ".peak"));
  }
  Row("game over: most particles alive", "", NAN, G("gameover.particles"));
  if (Sized()) return 0;  // those runs end on the title after the game
  std::printf("  pacing (interval mean / deviation)\n");
  Row("    windowed at 50 Hz (title), mean", "ms", B("bare.interval"), G("title.interval"));
  Row("    windowed at 50 Hz (title), deviation", "ms", B("bare.dev"), G("title.dev"));
  Row("    full screen at 60 Hz (title), mean", "ms", NAN, G("fullscreen.interval"));
  Row("    full screen at 60 Hz (title), deviation", "ms", NAN, G("fullscreen.dev"));
  Row("    windowed again at 60 Hz (title), mean", "ms", NAN, G("window60.interval"));
  Row("    windowed again at 60 Hz (title), deviation", "ms", NAN, G("window60.dev"));
  Row("full-screen mode fallbacks taken", "", NAN, G("displayModeFallbacks"));
  return 0;
}
