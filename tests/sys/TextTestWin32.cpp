#include <gtest/gtest.h>

#include "sys/Text.h"

namespace {

// The ANSI code page's own letters are upper-cased too (the Vendor field and the new revision).
TEST(UpperCase, FollowsTheAnsiCodePage) {
  EXPECT_EQ(sys::UpperCase("hbq k4p5.bin"), "HBQ K4P5.BIN");
  EXPECT_EQ(sys::UpperCase("\xE9t\xE9"), "\xC9T\xC9"); // cp1252, Wine's default ANSI code page
  EXPECT_EQ(sys::UpperCase(""), "");
}

} // namespace
