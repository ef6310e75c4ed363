#include "framework/format.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(Format, ConvertsTheSystemsConversions) {
  EXPECT_EQ(Format("Runtime: %0.2f secs", 12.345), "Runtime: 12.35 secs");
  EXPECT_EQ(Format("%.2f", 1.0f), "1.00");
  EXPECT_EQ(Format("Unknown stream mode: %d", uint16_t{3}), "Unknown stream mode: 3");
  EXPECT_EQ(Format("'%s' at %d", std::string("x"), int64_t{-5}), "'x' at -5");
  EXPECT_EQ(Format("100%% %s", "done"), "100% done");
}

TEST(Format, MismatchedOrMissingArgumentsNeverReadGarbage) {
  EXPECT_EQ(Format("%d", 2.9), "2");
  EXPECT_EQ(Format("%s", 42), "42");
  EXPECT_EQ(Format("%d and %d", 1), "1 and 0");
  EXPECT_EQ(Format("%s|%s", "a"), "a|");
  EXPECT_EQ(Format("trailing %"), "trailing %");
}
