// mediagen: writes the game's pictures and sounds into a folder, or checks the
// sounds already there.
//   mediagen OUTDIR           all PNG and OGG files
//   mediagen --check DIR      peak and RMS level of every sound, loop seams of the music
//   mediagen --icons DIR NAME the application icon in every hicolor size
#include <cstdio>
#include <cstring>
#include <string>

#include "check.h"
#include "effects.h"
#include "music.h"
#include "pictures.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--check") == 0) return CheckMedia(argv[2]) ? 0 : 1;
  if (argc == 4 && std::strcmp(argv[1], "--icons") == 0) return WriteIcons(argv[2], argv[3]) ? 0 : 1;
  if (argc != 2) {
    std::fprintf(stderr, "usage: mediagen OUTDIR | mediagen --check DIR | mediagen --icons DIR NAME\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = WritePictures(dir);
  ok &= WriteEffects(dir);
  ok &= WriteMusic(dir);
  return ok ? 0 : 1;
}
