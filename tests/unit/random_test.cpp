#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "media/random.h"

namespace {
// The generator's step, done the slow and obvious way in 64 bits.
int64_t Lehmer(int64_t x) { return x * 48271 % 2147483647; }
}  // namespace

TEST(Random, FirstStepsFromTheInitialState) {
  SeedRandom(4660);
  int64_t s1 = Lehmer(4660), s2 = Lehmer(s1);
  EXPECT_EQ(s1, 224942860);
  double expect = ((s1 & 0x1FFFFFFC) + (s2 & 0x1FFFFFF8) / 134217728.0) / 536870912.0;
  EXPECT_DOUBLE_EQ(RandomUnit(), expect);
  EXPECT_EQ(RandomState(), s2);
}

TEST(Random, SchrageMatchesTheDirectProductOverManySteps) {
  SeedRandom(123456789);
  int64_t x = 123456789;
  for (int i = 0; i < 10000; ++i) {
    RandomUnit();
    x = Lehmer(Lehmer(x));
    ASSERT_EQ(RandomState(), x) << "after " << i + 1 << " calls";
  }
}

TEST(Random, SkippingCallsLeavesTheStateTheCallsWould) {
  for (long long calls : {0, 1, 7, 704, 100000}) {
    SeedRandom(987654321);
    for (long long i = 0; i < calls; ++i) RandomInt(0, 7);
    int walked = RandomState();
    SeedRandom(987654321);
    SkipRandomInts(calls);
    EXPECT_EQ(RandomState(), walked) << calls;
  }
}

TEST(Random, DegenerateSeedsFallBackTo4660) {
  for (int seed : {0, -1, 0x7FFFFFFF}) {
    SeedRandom(seed);
    EXPECT_EQ(RandomState(), 4660) << seed;
  }
  SeedRandom(-5);  // the sign bit is masked off
  EXPECT_EQ(RandomState(), 0x7FFFFFFB);
}

TEST(Random, IntReachesBothEndsInEitherOrder) {
  SeedRandom(99);
  std::set<int> seen;
  for (int i = 0; i < 300; ++i) {
    int v = RandomInt(3, 1);
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 3);
    seen.insert(v);
  }
  EXPECT_EQ(seen, (std::set<int>{1, 2, 3}));
  for (int i = 0; i < 20; ++i) EXPECT_EQ(RandomInt(5, 5), 5);
  std::set<int> percent;
  for (int i = 0; i < 5000; ++i) percent.insert(RandomInt(1, 100));
  EXPECT_EQ(percent.size(), 100u);
  EXPECT_EQ(*percent.begin(), 1);
  EXPECT_EQ(*percent.rbegin(), 100);
}

TEST(Random, UnitAndRealStayInRange) {
  SeedRandom(7);
  for (int i = 0; i < 10000; ++i) {
    double u = RandomUnit();
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    double r = RandomReal(1, -1);
    ASSERT_GE(r, -1.0);
    ASSERT_LE(r, 1.0);
  }
}
