#include "tests/support/harness.h"

#include <cstdlib>
#include <filesystem>

void PressKey(int code) { InjectInputEvent({InputEventKind::KeyDown, code}); }
void ReleaseKey(int code) { InjectInputEvent({InputEventKind::KeyUp, code}); }
void TapKey(int code) {
  PressKey(code);
  ReleaseKey(code);
}
void TypeText(const std::string& ascii) {
  for (unsigned char c : ascii) InjectInputEvent({InputEventKind::Char, c});
}

std::string MakeTempDir(const std::string& tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / ("zephrant-" + tag + "-XXXXXX")).string();
  char* made = mkdtemp(pattern.data());
  return made ? std::string(made) : std::string();
}

