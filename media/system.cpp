#include "media/system.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {
std::function<void(int)> endHook;
std::vector<std::function<void()>>& AtEnd() {
  static std::vector<std::function<void()>> fns;
  return fns;
}
}  // namespace

void SetEndProgramHook(std::function<void(int)> hook) { endHook = std::move(hook); }

void AtProgramEnd(std::function<void()> fn) { AtEnd().push_back(std::move(fn)); }

void EndProgram(int status) {
  if (endHook) endHook(status);  // tests throw from here
  auto fns = std::move(AtEnd());
  AtEnd().clear();
  for (auto it = fns.rbegin(); it != fns.rend(); ++it) (*it)();
  std::fflush(stdout);
  std::exit(status);
}

void ReleaseFreeMemory() { malloc_trim(0); }
