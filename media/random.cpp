#include "media/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cmath>
#include <cstdint>

namespace {
constexpr int RND_INITIAL = 4660;  // 0x1234
int rndState = RND_INITIAL;

// One step of x * 48271 mod (2^31 - 1), by Schrage's method so nothing overflows.
void Step() {
  rndState = (rndState % 44488) * 48271 - (rndState / 44488) * 3399;
  if (rndState < 0) rndState += 2147483647;
}
}  // namespace

void SeedRandom(int seed) {
  rndState = seed & 0x7FFFFFFF;
  if (rndState == 0 || rndState == 0x7FFFFFFF) rndState = RND_INITIAL;
}

double RandomUnit() {
  Step();
  double a = rndState & 0x1FFFFFFC;
  Step();
  double b = rndState & 0x1FFFFFF8;
  return (a + b / 134217728.0) / 536870912.0;
}

double RandomReal(double a, double b) {
  if (b > a) return a + RandomUnit() * (b - a);
  return b + RandomUnit() * (a - b);
}

int RandomInt(int a, int b) {
  int range = b - a;
  if (range > 0) return a + static_cast<int>(std::trunc(RandomUnit() * (range + 1.0)));
  return b + static_cast<int>(std::trunc(RandomUnit() * (1.0 - range)));
}

int RandomState() { return rndState; }

void SkipRandomInts(long long calls) {
  // Each call makes two steps, and a step multiplies by 48271 modulo
  // 2^31 - 1: so many steps multiply once by that power of 48271.
  constexpr uint64_t MOD = 2147483647;
  uint64_t factor = 1, base = 48271;
  for (uint64_t steps = uint64_t(calls > 0 ? calls : 0) * 2; steps; steps >>= 1) {
    if (steps & 1) factor = factor * base % MOD;
    base = base * base % MOD;
  }
  rndState = int(uint64_t(rndState) * factor % MOD);
}

bool SystemRandomBytes(void* buf, int count) {
  auto* p = static_cast<unsigned char*>(buf);
  while (count > 0) {
    ssize_t n = getrandom(p, static_cast<size_t>(count), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<int>(n);
  }
  return true;
}
