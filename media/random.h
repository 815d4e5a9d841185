// The game's one random generator: multiplier 48271 modulo 2^31 - 1 by
// Schrage's method, seeded from the clock.
#pragma once

void SeedRandom(int seed);              // 0 and 0x7FFFFFFF (after masking) become 4660
double RandomUnit();                    // [0, 1), two steps per call
double RandomReal(double a, double b);  // uniform between a and b, in either order
int RandomInt(int a, int b);            // both ends inclusive, in either order
int RandomState();                      // the raw state, for tests
// Moves the generator on as `calls` calls of RandomInt would, whose results
// nobody reads, at the cost of one call or so whatever their number.
void SkipRandomInts(long long calls);

// Bytes from the system's secure source, for what must not be guessed (the
// player's key on the score server). False when the system gave none.
bool SystemRandomBytes(void* buf, int count);
