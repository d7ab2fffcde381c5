// The ASPI path with the real LoadLibraryA and the stand-in WNASPI32.DLL serving emulated drives.
// Only the platform query is faked (a Windows 9x platform id); the library is found through
// SetDllDirectoryA, and Wine is told to take only a native WNASPI32.DLL.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "DriveTestSupport.h"
#include "drive/Cddrives.h"
#include "drive/DriveMessages.h"
#include "drive/Win32Calls.h"

namespace {

using drive::CDDrive;
using drive::CDDrives;
using drive_test::RecordedMessage;

BOOL WINAPI Windows98(LPOSVERSIONINFOA info) {
  info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  return TRUE;
}

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

class AspiTest : public drive_test::DriveTest {
protected:
  void SetUp() override {
    DriveTest::SetUp();
    drive::Win32().GetVersionExA = Windows98;
  }
  void TearDown() override {
    drive::Win32() = drive::RealWin32Calls();
    SetDllDirectoryA(nullptr);
    DriveTest::TearDown();
  }
  static std::string WriteDriveFile(const std::string& name, const std::string& text) {
    const std::string path = std::string(ODFLASH_BINARY_DIR) + "/tests/drive/" + name;
    std::ofstream(path) << text;
    return WindowsPath(path);
  }
};

// One test, in this order: the library stays loaded once it has served a request, so the
// missing-library case must come first.
TEST_F(AspiTest, MissingLibraryThenEmulatedDrivesThroughTheStandIn) {
  const std::string emptyDir = WindowsPath(std::string(ODFLASH_BINARY_DIR) + "/tests/drive");
  ASSERT_TRUE(SetDllDirectoryA(emptyDir.c_str()));
  {
    CDDrives drives;
    EXPECT_EQ(drives.Count(), 0);
    EXPECT_EQ(CDDrive::LastResult(), drive::kResultAspiNotLoaded);
    EXPECT_EQ(drive::State().OpenCount, 0);
    // Every one of the 40 probes runs the set-up again and shows the library message.
    ASSERT_EQ(messages_.Shown.size(), 40u);
    EXPECT_THAT(messages_.Shown, ::testing::Each(RecordedMessage{
                                     "Unable to load WNASPI32.DLL !\n"
                                     "You can down the DLL from http://aspi.example.com/\n"
                                     " and copy the DLL to system directory.\n\n",
                                     sys::MessageKind::Error}));
  }

  messages_.Shown.clear();
  drive::ResetTransportState();
  drive::Win32().GetVersionExA = Windows98;
  const std::string dllDir = WindowsPath(std::string(ODFLASH_BINARY_DIR) + "/src/sim/aspi");
  ASSERT_TRUE(SetDllDirectoryA(dllDir.c_str()));
  const std::string ini = WriteDriveFile("aspi-drives.ini",
                                         "[Drive0]\nVendor=ODSIM\nProduct=ASPI ZERO\nRevision=1.00\n"
                                         "ShortCommand=3C:2:0\n"
                                         "[Drive1]\nVendor=ODSIM\nProduct=ASPI ONE\nRevision=1.01\n"
                                         "[Drive2]\nVendor=OTHER\nProduct=ASPI TWO\nRevision=2.00\n"
                                         "LatencyMicroseconds=1500000\n"
                                         // a disk, and a device with a short answer: never listed
                                         "[Drive3]\nDeviceType=00\n[Drive4]\nInquiryLength=5\n");
  // Short data-in answers come back as a data underrun (SS_ERR, host status 12h), as some real
  // layers report them: every INQUIRY here is one (36 of 128 bytes), and must list the drive.
  ASSERT_TRUE(SetEnvironmentVariableA("ODFLASH_ASPI_SHORT", "underrun"));
  ASSERT_TRUE(SetEnvironmentVariableA("ODFLASH_SIM", ini.c_str()));
  CDDrive::SetTimeout(10);
  CDDrives drives;
  ASSERT_EQ(drives.Count(), 3);
  EXPECT_FALSE(drive::State().UsePassThrough);
  EXPECT_TRUE(drive::IsEmulatedTransport()); // the stand-in says so
  EXPECT_EQ(drives.Drive(0)->IdentityText, "0-0-0  : ODSIM   ASPI ZERO       1.00");
  EXPECT_EQ(drives.Drive(1)->IdentityText, "0-1-0  : ODSIM   ASPI ONE        1.01");
  EXPECT_EQ(drives.Drive(2)->IdentityText, "1-0-0  : OTHER   ASPI TWO        2.00");
  EXPECT_TRUE(messages_.Shown.empty());

  // ASPI returns the transfer length: 0 for a command without data.
  CDDrive& first = *drives.Drive(0);
  std::uint8_t buffer[16384] = {};
  CDDrive::SetBuffer(buffer, sizeof buffer);
  EXPECT_EQ(first.Execute({0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x40, 0x00}, 1, 16384), 16384);
  EXPECT_EQ(first.Execute({0x1B, 0, 0, 0, 0x03}, 1, 0), 0);
  EXPECT_TRUE(first.LastOutcome().SenseMatches(0, 0, 0));
  EXPECT_EQ(first.Execute({0x28}, 1, 0), 0);
  EXPECT_EQ(first.LastOutcome().SenseText(), "05 20 00. 04, 0000");

  // A READ BUFFER answered GOOD without its data: the layer says underrun and no length, so
  // the fill left in the buffer shows that nothing arrived.
  const std::uint8_t expectedComplement[16] = {0x11, 0x22};
  EXPECT_EQ(first.ExecuteDataIn({0x3C, 0x01, 0x01, 0, 0, 0, 0, 0, 16}, 16, expectedComplement), 0);
  EXPECT_EQ(first.LastOutcome().HostCode, 0x12);
  EXPECT_EQ(drive::DescribeOutcome(first.LastOutcome()), "GOOD, but the data did not arrive (no residual reported)");

  // A request still pending at its time-out: the drive answers nothing new until it finished,
  // and its late completion lands in the request's own memory.
  CDDrive& slow = *drives.Drive(2);
  CDDrive::SetTimeout(1);
  EXPECT_EQ(slow.Execute({0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x40, 0x00}, 1, 16384), 0);
  EXPECT_EQ(slow.Status(), 0);
  EXPECT_EQ(slow.Execute({0x00}, 1, 0), 0);
  EXPECT_EQ(slow.OsError(), static_cast<std::uint32_t>(ERROR_BUSY));
  // Busy until the late completion arrives; then the next command goes to the drive.
  CDDrive::SetTimeout(10);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int length = 0;
  while ((length = slow.Execute({0x12, 0, 0, 0, 36}, 1, 36)) == 0 &&
         slow.OsError() == static_cast<std::uint32_t>(ERROR_BUSY) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(length, 36);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 8, 8), "OTHER   ");
}

} // namespace
