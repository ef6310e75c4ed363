#pragma once
// The process-wide pseudo-random generator (the one the show seeds once at start-up and the
// firework effect, effect manager and critical sections draw from). Safe to call from any thread.
#include <cstdint>

// A real number in [0, 1).
double Random();
// An integer in [0, range); 0 when range <= 0.
int32_t Random(int32_t range);
// Seeds the generator from the clock.
void Randomize();
// Seeds the generator with a fixed value (tests, reproducible runs).
void RandSeed(uint32_t seed);
