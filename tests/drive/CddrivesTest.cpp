#include "drive/Cddrives.h"

#include <gtest/gtest.h>

#include "DriveTestSupport.h"

namespace {

using drive::CDDrives;
using drive_test::DriveTest;

class CddrivesTest : public DriveTest {};

TEST_F(CddrivesTest, ListsAnsweringDrivesInProbeOrderAndSelectsTheFirst) {
  // Drive1 does not answer INQUIRY: it is dropped, and the next drive takes its slot.
  auto machine = Emulate(drive_test::ManyDrives(3) + "DropCommand=*:1\n" + "[Drive3]\nVendor=LAST\n");
  // (the fault line belongs to Drive2)
  CDDrives drives;
  ASSERT_EQ(drives.Count(), 3);
  EXPECT_EQ(drives.CurrentIndex(), 0);
  ASSERT_NE(drives.Current(), nullptr);
  EXPECT_EQ(drives.Current()->IdentityText, "0-0-0  : VEND0   PRODUCT 0       R0  ");
  EXPECT_EQ(drives.Drive(1)->IdentityText, "0-1-0  : VEND1   PRODUCT 1       R1  ");
  EXPECT_EQ(drives.Drive(2)->IdentityText, "1-1-0  : LAST    CD-RW EMULATED  1.00");
  EXPECT_EQ(drive::State().OpenCount, 3);
  EXPECT_TRUE(messages_.Shown.empty());
}

TEST_F(CddrivesTest, SelectAcceptsOnlyListedIndexes) {
  Emulate(drive_test::ManyDrives(3));
  CDDrives drives;
  struct Case {
    std::int16_t Index;
    bool Accepted;
    std::int32_t CurrentAfter;
  };
  const Case cases[] = {{2, true, 2}, {-1, false, 2}, {3, false, 2}, {1, true, 1}, {0, true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Index);
    EXPECT_EQ(drives.Select(c.Index), c.Accepted);
    EXPECT_EQ(drives.CurrentIndex(), c.CurrentAfter);
    EXPECT_EQ(drives.Current(), drives.Drive(c.CurrentAfter));
  }
}

TEST_F(CddrivesTest, AFullListStopsProbing) {
  auto machine = Emulate(drive_test::ManyDrives(30));
  {
    CDDrives drives;
    EXPECT_EQ(drives.Count(), CDDrives::kSlotCount);
    EXPECT_EQ(drives.Drive(23)->IdentityText, "11-1-0  : VEND23  PRODUCT 23      R23 ");
    EXPECT_EQ(drives.Drive(24), nullptr);
    EXPECT_EQ(drive::State().OpenCount, 24);
    for (int i = 24; i < 30; ++i) EXPECT_TRUE(machine->Drive(i).Log().empty()) << i;
  }
  EXPECT_EQ(drive::State().OpenCount, 0);
}

TEST_F(CddrivesTest, NoDriveAnsweringGivesAnEmptyListWithNothingSelected) {
  Emulate("[Drive0]\nDropCommand=12:1\n[Drive1]\nFailCommand=12:1:02 3A 00\n");
  CDDrives drives;
  EXPECT_EQ(drives.Count(), 0);
  EXPECT_EQ(drives.Current(), nullptr);
  EXPECT_FALSE(drives.Select(0));
  EXPECT_EQ(drive::State().OpenCount, 0);
}

// Only CD/DVD devices that return the whole identity are listed: a disk would take WRITE BUFFER
// mode 5 as "download microcode and save", and a short answer must not inherit the previous
// device's identity from the INQUIRY buffer.
TEST_F(CddrivesTest, ListsOnlyOpticalDevicesThatAnswerTheWholeIdentity) {
  struct Case {
    const char* Name;
    std::string Second; // keys of Drive1, behind a full answer from Drive0
    std::string SecondIdentity; // empty: not listed
  };
  const Case cases[] = {
      {"disk", "DeviceType=00\n", ""},
      {"no device at this lun", "DeviceType=7F\n", ""},
      {"optical, qualifier 1", "DeviceType=25\n", ""},
      {"5-byte answer", "InquiryLength=5\n", ""},
      {"35-byte answer", "InquiryLength=35\n", ""},
      {"36-byte answer", "InquiryLength=36\n", "0-1-0  : ODSIM   CD-RW EMULATED  1.00"},
      {"control bytes", "Vendor=AB\x1b[2J\nRevision=1\a\n", "0-1-0  : AB?[2J  CD-RW EMULATED  1?  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    drive::ResetTransportState();
    Emulate("[Drive0]\nVendor=FIRST\nProduct=FULL ANSWER\nRevision=9.99\n[Drive1]\n" + c.Second);
    CDDrives drives;
    ASSERT_EQ(drives.Count(), c.SecondIdentity.empty() ? 1 : 2);
    if (!c.SecondIdentity.empty()) {
      EXPECT_EQ(drives.Drive(1)->IdentityText, c.SecondIdentity);
    }
  }
}

} // namespace
