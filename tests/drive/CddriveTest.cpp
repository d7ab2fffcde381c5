#include "drive/Cddrive.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "DriveTestSupport.h"
#include "drive/Platform.h"

namespace {

using drive::CDDrive;
using drive_test::DriveTest;
using drive_test::RecordedMessage;

class CddriveTest : public DriveTest {};

constexpr const char* kOneDrive = R"([Drive0]
Vendor=ODSIM
Product=CDRW 40X
Revision=1.10
Medium=0
)";

TEST_F(CddriveTest, ConstructionOpensIdentifiesAndCountsTheDrive) {
  auto machine = Emulate(kOneDrive);
  {
    CDDrive drive(' ', 0, 0, 0);
    EXPECT_EQ(CDDrive::LastResult(), drive::kResultOpened);
    EXPECT_EQ(drive::State().OpenCount, 1);
    EXPECT_EQ(drive.IdentityText, "0-0-0  : ODSIM   CDRW 40X        1.10");
    EXPECT_EQ(drive.IdentityText.size(), 37u);
    EXPECT_EQ(drive.VendorProductText(), "ODSIM   CDRW 40X        ");
    EXPECT_EQ(drive.RevisionText(), "1.10");
    EXPECT_EQ(CDDrive::GetBuffer(), drive::State().DefaultBuffer.data());
    EXPECT_EQ(CDDrive::IoBufferLength(), 2352u);
  }
  EXPECT_EQ(drive::State().OpenCount, 0);
  EXPECT_THAT(machine->Drive(0).Log(),
              ::testing::ElementsAre("12 00 00 00 80 00 00 00 00 00 00 00 in 128"));
  EXPECT_TRUE(messages_.Shown.empty());
}

// The cuts take the INQUIRY fields themselves, whatever the width of the address prefix.
TEST_F(CddriveTest, IdentityTextsForEveryAddressAndFieldWidth) {
  struct Case {
    std::string Ini;
    char Letter;
    int Index; // emulated drive i sits at adapter i / 2, target i % 2
    std::string Identity, VendorProduct, Revision;
  };
  const std::string wide = drive_test::ManyDrives(22);
  const Case cases[] = {
      {"[Drive0]\nVendor=AB\nProduct=X\nRevision=9\n", 'E', 0,
       "0-0-0 E: AB      X               9   ", "AB      X               ", "9   "},
      {"[Drive0]\nVendor=VENDOR12\nProduct=PRODUCT-SIXTEEN!\nRevision=ABCD\n", ' ', 0,
       "0-0-0  : VENDOR12PRODUCT-SIXTEEN!ABCD", "VENDOR12PRODUCT-SIXTEEN!", "ABCD"},
      {wide, ' ', 21, "10-1-0  : VEND21  PRODUCT 21      R21 ", "VEND21  PRODUCT 21      ", "R21 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Identity);
    drive::ResetTransportState();
    Emulate(c.Ini);
    CDDrive drive(c.Letter, static_cast<std::uint8_t>(c.Index / 2),
                  static_cast<std::uint8_t>(c.Index % 2), 0);
    EXPECT_EQ(drive.IdentityText, c.Identity);
    EXPECT_EQ(drive.VendorProductText(), c.VendorProduct);
    EXPECT_EQ(drive.RevisionText(), c.Revision);
  }
}

TEST_F(CddriveTest, GetIdentityOfADriveThatStoppedAnsweringIsZeroAndTheCutsAreEmpty) {
  Emulate("[Drive0]\nDropCommand=12:2\n");
  CDDrive drive(' ', 0, 0, 0);
  ASSERT_EQ(CDDrive::LastResult(), drive::kResultOpened);
  EXPECT_EQ(drive.GetIdentity(), "0");
  EXPECT_EQ(drive.IdentityText, "0");
  EXPECT_EQ(drive.VendorProductText(), "");
  EXPECT_EQ(drive.RevisionText(), "");
  // A later answer restores the identity.
  EXPECT_EQ(drive.GetIdentity(), "0-0-0  : ODSIM   CD-RW EMULATED  1.00");
}

TEST_F(CddriveTest, ExecuteOutcomesAndSenseTexts) {
  struct Case {
    const char* Name;
    std::array<std::uint8_t, 12> Cdb;
    std::uint8_t Direction;
    std::uint32_t Length;
    int Result;
    std::uint8_t Key, Asc, Ascq;
    const char* SenseText;
  };
  const Case cases[] = {
      {"unknown opcode", {0xEE}, 1, 0, 0, 0x05, 0x20, 0x00, "05 20 00. 02, 0000"},
      {"no medium", {0x00}, 1, 0, 0, 0x02, 0x3A, 0x00, "02 3A 00. 02, 0000"},
      {"offset beyond memory", {0x3C, 0x01, 0x01, 0x09, 0x00, 0x00, 0x00, 0x00, 0x10}, 1, 16, 0,
       0x05, 0x24, 0x00, "05 24 00. 02, 0000"},
      {"read buffer", {0x3C, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10}, 1, 16, 1, 0, 0, 0,
       "00 00 00. 00, 0000"},
      {"start stop, length 0", {0x1B, 0, 0, 0, 0x03}, 1, 0, 1, 0, 0, 0, "00 00 00. 00, 0000"},
      // Direction 2 means data out: a READ BUFFER sent that way moves nothing and is refused.
      {"direction 2 is data out", {0x3C, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10}, 2, 16, 0,
       0x05, 0x24, 0x00, "05 24 00. 02, 0000"},
  };
  auto machine = Emulate(kOneDrive);
  CDDrive drive(' ', 0, 0, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(drive.Execute(c.Cdb, c.Direction, c.Length), c.Result);
    EXPECT_TRUE(drive.LastOutcome().SenseMatches(c.Key, c.Asc, c.Ascq));
    EXPECT_EQ(drive.LastOutcome().SenseText(), c.SenseText);
  }
  EXPECT_EQ(machine->Drive(0).Log().back(), "3C 01 01 00 00 00 00 00 10 00 00 00 out 16");
  // Error reporting is off until a device open fails: nothing was shown.
  EXPECT_TRUE(messages_.Shown.empty());
}

TEST_F(CddriveTest, SenseMessageOnceReportingIsOn) {
  Emulate("[Drive0]\nDropCommand=3B:1\n");
  CDDrive drive(' ', 0, 0, 0);
  drive::State().ReportErrors = true;
  EXPECT_EQ(drive.Execute(0xEE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0), 0);
  // A transport failure: no sense at all, the system's I/O error code.
  EXPECT_EQ(drive.Execute(0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x7F, 0, 0, 1, 0), 0);
  EXPECT_TRUE(drive.LastOutcome().SenseMatches(0, 0, 0));
  // The emulated transport fails the way the platform's device I/O fails.
  const std::uint32_t ioError = drive::PlatformIoErrorCode();
  EXPECT_EQ(drive.OsError(), ioError);
  char senseText[32];
  std::snprintf(senseText, sizeof senseText, "00 00 00. 00, %04X", static_cast<unsigned>(ioError));
  EXPECT_EQ(drive.LastOutcome().SenseText(), senseText);
  const std::string ok = drive::PlatformErrorText(0).value_or("");
  const std::string io = drive::PlatformErrorText(ioError).value_or("");
  EXPECT_EQ(messages_.Shown,
            (std::vector<RecordedMessage>{
                {"SenseCode: 05 20 00, 02, Error: 0, " + ok, sys::MessageKind::Plain},
                {"SenseCode: 00 00 00, 00, Error: " + std::to_string(ioError) + ", " + io,
                 sys::MessageKind::Plain}}));
}

// Success is GOOD status and nothing else, whatever the sense bytes say.
TEST_F(CddriveTest, OnlyGoodStatusSucceeds) {
  struct Case {
    const char* Fault;
    int Result;
    const char* SenseText;
    const char* Described;
  };
  const Case cases[] = {
      {"", 1, "00 00 00. 00, 0000", "GOOD"},
      {"FailCommand=00:1:20 00 00", 0, "20 00 00. 02, 0000", // ILI, key 0
       "CHECK CONDITION, sense 00/00/00 NO SENSE: NO ADDITIONAL SENSE INFORMATION"},
      {"FailCommand=00:1:00 5E 00", 0, "00 5E 00. 02, 0000",
       "CHECK CONDITION, sense 00/5E/00 NO SENSE: LOW POWER CONDITION ON"},
      {"FailCommand=00:1:00 00 00", 0, "00 00 00. 02, 0000",
       "CHECK CONDITION, sense 00/00/00 NO SENSE: NO ADDITIONAL SENSE INFORMATION"},
      {"SenseFormat=descriptor\nFailCommand=00:1:03 11 00", 0, "03 11 00. 02, 0000",
       "CHECK CONDITION, sense 03/11/00 MEDIUM ERROR: UNRECOVERED READ ERROR"},
      {"StatusCommand=00:1:02", 0, "00 00 00. 02, 0000", "CHECK CONDITION without sense data"},
      {"StatusCommand=00:1:08", 0, "00 00 00. 08, 0000", "BUSY"},
      {"StatusCommand=00:1:18", 0, "00 00 00. 18, 0000", "RESERVATION CONFLICT"},
      {"StatusCommand=00:1:28", 0, "00 00 00. 28, 0000", "TASK SET FULL"},
      {"StatusCommand=00:1:04", 0, "00 00 00. 04, 0000", "CONDITION MET"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Fault);
    drive::ResetTransportState();
    Emulate(std::string("[Drive0]\nMedium=1\n") + c.Fault + "\n");
    CDDrive drive(' ', 0, 0, 0);
    EXPECT_EQ(drive.Execute({0x00}, 1, 0), c.Result);
    EXPECT_EQ(drive.LastOutcome().Succeeded(), c.Result != 0);
    EXPECT_EQ(drive.LastOutcome().SenseText(), c.SenseText);
    EXPECT_EQ(drive::DescribeOutcome(drive.LastOutcome()), c.Described);
  }
}

TEST_F(CddriveTest, BufferSelectionAndTimeout) {
  Emulate(kOneDrive);
  CDDrive drive(' ', 0, 0, 0);
  std::uint8_t own[16384] = {};
  CDDrive::SetBuffer(own, sizeof own);
  EXPECT_EQ(CDDrive::GetBuffer(), own);
  EXPECT_EQ(CDDrive::IoBufferLength(), 16384u);
  CDDrive::SetBuffer(nullptr, 99);
  EXPECT_EQ(CDDrive::GetBuffer(), drive::State().DefaultBuffer.data());
  EXPECT_EQ(CDDrive::IoBufferLength(), 2352u);
  // More than the buffer holds is refused before it reaches the drive.
  EXPECT_EQ(drive.Execute({0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x40, 0x00}, 1, 16384), 0);
  EXPECT_TRUE(drive.LastOutcome().SenseMatches(0x05, 0x24, 0x00));
  CDDrive::SetTimeout(180);
  EXPECT_EQ(drive::State().TimeoutSeconds, 180);
}

TEST_F(CddriveTest, InquiryFailureDropsTheProbeWithoutCountingIt) {
  auto machine = Emulate("[Drive0]\nFailCommand=12:1:05 24 00\n");
  {
    CDDrive drive(' ', 0, 0, 0);
    EXPECT_EQ(CDDrive::LastResult(), drive::kResultOpenFailed);
    EXPECT_FALSE(drive.IsOpen());
    EXPECT_EQ(drive.IdentityText, "0");
    EXPECT_EQ(drive::State().OpenCount, 0);
  }
  EXPECT_EQ(drive::State().OpenCount, 0);
  EXPECT_TRUE(messages_.Shown.empty());
}

} // namespace
