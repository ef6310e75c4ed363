#pragma once
// Compares the three components of a vector with a small tolerance.
#include <gtest/gtest.h>

#define EXPECT_VEC(v, x, y, z)      \
  do {                              \
    EXPECT_NEAR((v)[0], (x), 1e-5); \
    EXPECT_NEAR((v)[1], (y), 1e-5); \
    EXPECT_NEAR((v)[2], (z), 1e-5); \
  } while (0)
