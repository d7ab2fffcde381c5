// The sense table as data: a row out of order, a duplicate or an overlapping range would make
// the binary search miss codes; every row must be found through the one lookup.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "drive/SenseTexts.h"

namespace {

TEST(SenseTextsTest, TableIsSortedCompleteAndFoundByTheLookup) {
  const auto table = drive::AdditionalSenseTable();
  ASSERT_GT(table.size(), 300u);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const drive::AdditionalSense& row = table[i];
    char code[16];
    std::snprintf(code, sizeof code, "%02X/%02X", row.Asc, row.AscqFirst);
    SCOPED_TRACE(code);
    ASSERT_NE(row.Text, nullptr);
    EXPECT_NE(std::string(row.Text), "");
    EXPECT_LE(row.AscqFirst, row.AscqLast);
    if (i > 0) {
      const drive::AdditionalSense& before = table[i - 1];
      EXPECT_TRUE(before.Asc < row.Asc || (before.Asc == row.Asc && before.AscqLast < row.AscqFirst))
          << "out of order or overlapping the row before";
    }
    // A range names its ASCQ; the lookup puts the code in its place.
    if (row.AscqFirst != row.AscqLast) {
      EXPECT_NE(std::string(row.Text).find("NN"), std::string::npos);
    } else {
      EXPECT_EQ(drive::DescribeSense(0x05, row.Asc, row.AscqFirst), std::string("ILLEGAL REQUEST: ") + row.Text);
    }
  }
  for (unsigned key = 0; key < 16; ++key)
    EXPECT_NE(std::string(drive::SenseKeyName(static_cast<std::uint8_t>(key))), "") << key;

  struct Case {
    std::uint8_t Key, Asc, Ascq;
    const char* Described;
  };
  const Case cases[] = {
      {0x02, 0x04, 0x01, "NOT READY: LOGICAL UNIT IS IN PROCESS OF BECOMING READY"},
      {0x02, 0x3A, 0x00, "NOT READY: MEDIUM NOT PRESENT"},
      {0x04, 0x08, 0x00, "HARDWARE ERROR: LOGICAL UNIT COMMUNICATION FAILURE"},
      {0x26, 0x29, 0x00, "UNIT ATTENTION: POWER ON, RESET, OR BUS DEVICE RESET OCCURRED"}, // flags ignored
      {0x04, 0x40, 0x80, "HARDWARE ERROR: DIAGNOSTIC FAILURE ON COMPONENT 80 (80H-FFH)"},
      {0x04, 0x40, 0xFF, "HARDWARE ERROR: DIAGNOSTIC FAILURE ON COMPONENT FF (80H-FFH)"},
      {0x04, 0x40, 0x7F, "HARDWARE ERROR"},                        // below the range
      {0x05, 0x20, 0x05, "ILLEGAL REQUEST"},                       // a gap within an ASC
      {0x05, 0x00, 0x00, "ILLEGAL REQUEST: NO ADDITIONAL SENSE INFORMATION"}, // first row
      {0x03, 0x73, 0x17, "MEDIUM ERROR: RDZ IS FULL"},             // last row
      {0x03, 0x73, 0x18, "MEDIUM ERROR"},                          // past the last row
      {0x0B, 0xB0, 0x00, "ABORTED COMMAND: VENDOR SPECIFIC"},
      {0x02, 0x04, 0x81, "NOT READY: VENDOR SPECIFIC"},
  };
  for (const Case& c : cases) EXPECT_EQ(drive::DescribeSense(c.Key, c.Asc, c.Ascq), c.Described);
}

} // namespace
