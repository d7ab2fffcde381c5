#include <gtest/gtest.h>

#include "sys/Directory.h"

namespace {

TEST(MatchesMask, WildcardsIgnoreLetterCase) {
  const struct {
    const char* name;
    const char* mask;
    bool matches;
  } cases[] = {
      {"K4P5.BIN", "*.BIN", true},     {"k4p5.bin", "*.BIN", true},     {"K4P5.BIN", "*.bin", true},
      {"K4P5.BINX", "*.BIN", false},   {"K4P5.BIN", "K4P?.BIN", true},  {"K4P.BIN", "K4P?.BIN", false},
      {"K4P5.BIN", "*", true},         {"README", "*.*", true},          {".BIN", "*.BIN", true},
      {"A.B.BIN", "*.BIN", true},      {"K4P5.BIN", "K4*5*.B?N", true}, {"K4P5.BIN", "", false},
      {"BIN", "*.BIN", false},         {"1.10.BIN", "1.*.BIN", true},   {"2.10.BIN", "1.*.BIN", false},
  };
  for (const auto& c : cases) EXPECT_EQ(sys::MatchesMask(c.name, c.mask), c.matches) << c.name << " " << c.mask;
}

} // namespace
