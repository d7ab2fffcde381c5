// The ASPI set-up and request with a faked library: the failure codes of the set-up, and the
// request block and wait that a command produces.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "DriveTestSupport.h"
#include "aspi/AspiInterface.h"
#include "drive/Cddrive.h"
#include "drive/DriveMessages.h"
#include "drive/Win32Calls.h"
#include "drive/Win32Transport.h"

namespace {

using drive::CDDrive;

struct FakeAspi {
  HMODULE Module = reinterpret_cast<HMODULE>(0x4000);
  bool HasSupportInfo = true;
  bool HasSendCommand = true;
  DWORD SupportInfo = 0x0102; // SS_COMP, two adapters
  int Freed = 0;
  bool CompleteAtOnce = false; // else complete while the caller waits
  aspi::SrbExecScsiCmd Seen{};
  DWORD WaitMilliseconds = 0;
  bool ReportsResidual = false; // the adapter inquiry announces residual counts
  DWORD Residual = 0;           // what a request that asks for it gets back in SRB_BufLen
};

FakeAspi* fake = nullptr;

DWORD FakeSupportInfo() { return fake->SupportInfo; }

DWORD FakeSendCommand(void* request) {
  if (static_cast<aspi::SrbHaInquiry*>(request)->SRB_Cmd == aspi::kScHaInquiry) {
    auto* inquiry = static_cast<aspi::SrbHaInquiry*>(request);
    if (fake->ReportsResidual) inquiry->HA_Unique[aspi::kHaUniqueResidualByte] = aspi::kHaUniqueResidualSupported;
    return inquiry->SRB_Status = aspi::kSsComp;
  }
  auto* srb = static_cast<aspi::SrbExecScsiCmd*>(request);
  fake->Seen = *srb;
  if (srb->CDBByte[0] == 0x12 && srb->SRB_BufLen >= 36) {
    srb->SRB_BufPointer[0] = 0x05; // CD/DVD device
    std::memcpy(srb->SRB_BufPointer + 8, "FAKEVNDRFAKE PRODUCT    F1.0", 28);
  }
  if ((srb->SRB_Flags & aspi::kSrbEnableResidualCount) != 0) srb->SRB_BufLen = fake->Residual;
  if (fake->CompleteAtOnce) srb->SRB_Status = aspi::kSsComp;
  return srb->SRB_Status;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE, LPCSTR name) {
  if (std::strcmp(name, aspi::kSupportInfoName) == 0 && fake->HasSupportInfo)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeSupportInfo));
  if (std::strcmp(name, aspi::kSendCommandName) == 0 && fake->HasSendCommand)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(FakeSendCommand));
  return nullptr;
}

class AspiFakeTest : public drive_test::DriveTest {
protected:
  void SetUp() override {
    DriveTest::SetUp();
    fake = &aspi_;
    drive::Win32Calls& calls = drive::Win32();
    calls.GetVersionExA = [](LPOSVERSIONINFOA info) -> BOOL {
      info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
      return TRUE;
    };
    calls.LoadLibraryA = [](LPCSTR name) -> HMODULE {
      EXPECT_STREQ(name, "WNASPI32.DLL");
      return fake->Module;
    };
    calls.GetProcAddress = FakeGetProcAddress;
    calls.FreeLibrary = [](HMODULE) -> BOOL {
      ++fake->Freed;
      return TRUE;
    };
  }
  void TearDown() override {
    drive::Win32() = drive::RealWin32Calls();
    fake = nullptr;
    DriveTest::TearDown();
  }
  FakeAspi aspi_;
};

TEST_F(AspiFakeTest, SetUpFailuresLeaveTheirCodeAndUnloadTheLibrary) {
  struct Case {
    const char* Name;
    std::uintptr_t Module;
    bool HasSupportInfo, HasSendCommand;
    DWORD SupportInfo;
    std::uint8_t LastResult;
    int Freed;
    std::size_t Messages;
  };
  const Case cases[] = {
      {"handle below 32", 31, true, true, 0x0101, drive::kResultAspiNotLoaded, 0, 1},
      {"no GetASPI32SupportInfo", 0x4000, false, true, 0x0101, drive::kResultAspiNoEntry, 1, 0},
      {"status not SS_COMP", 0x4000, true, true, 0xE800, drive::kResultAspiNotReady, 1, 0},
      {"adapter count alone", 0x4000, true, true, 0x0001, drive::kResultAspiNotReady, 1, 0},
      {"no SendASPI32Command", 0x4000, true, false, 0x0101, drive::kResultAspiNoEntry, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    drive::ResetTransportState();
    messages_.Shown.clear();
    aspi_.Module = reinterpret_cast<HMODULE>(c.Module);
    aspi_.HasSupportInfo = c.HasSupportInfo;
    aspi_.HasSendCommand = c.HasSendCommand;
    aspi_.SupportInfo = c.SupportInfo;
    aspi_.Freed = 0;
    CDDrive drive(' ', 0, 0, 0);
    EXPECT_EQ(CDDrive::LastResult(), c.LastResult);
    EXPECT_FALSE(drive.IsOpen());
    EXPECT_EQ(aspi_.Freed, c.Freed);
    EXPECT_EQ(messages_.Shown.size(), c.Messages);
    EXPECT_EQ(drive::State().OpenCount, 0);
  }
}

TEST_F(AspiFakeTest, TheRequestBlockCarriesTheCommandAndTheWaitTheTimeOut) {
  aspi_.CompleteAtOnce = true;
  drive::Win32().WaitForSingleObject = [](HANDLE, DWORD) -> DWORD {
    ADD_FAILURE() << "a request completed at once needs no wait";
    return WAIT_OBJECT_0;
  };
  CDDrive drive(' ', 3, 1, 0);
  ASSERT_TRUE(drive.IsOpen());
  std::uint8_t buffer[64] = {};
  CDDrive::SetBuffer(buffer, sizeof buffer);
  struct Case {
    std::uint8_t Direction;
    std::uint32_t Length;
    std::uint8_t Flags;
    int Result;
  };
  const Case cases[] = {{1, 36, 0x48, 36}, {0, 16, 0x50, 16}, {2, 0, 0x50, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Direction));
    EXPECT_EQ(drive.Execute({0x12, 0, 0, 0, 36}, c.Direction, c.Length), c.Result);
    const aspi::SrbExecScsiCmd& srb = aspi_.Seen;
    EXPECT_EQ(srb.SRB_Cmd, aspi::kScExecScsiCmd);
    EXPECT_EQ(srb.SRB_HaId, 3);
    EXPECT_EQ(srb.SRB_Target, 1);
    EXPECT_EQ(srb.SRB_Lun, 0);
    EXPECT_EQ(srb.SRB_Flags, c.Flags);
    EXPECT_EQ(srb.SRB_BufLen, c.Length);
    EXPECT_EQ(srb.SRB_SenseLen, 14);
    EXPECT_EQ(srb.SRB_CDBLen, 12);
    EXPECT_NE(srb.SRB_PostProc, nullptr);
    EXPECT_EQ(srb.CDBByte[0], 0x12);
    EXPECT_EQ(srb.CDBByte[4], 36);
  }

  // A request left pending is waited for TimeoutSeconds x 1000 milliseconds.
  aspi_.CompleteAtOnce = false;
  drive::Win32().WaitForSingleObject = [](HANDLE, DWORD milliseconds) -> DWORD {
    fake->WaitMilliseconds = milliseconds;
    return WAIT_TIMEOUT;
  };
  CDDrive::SetTimeout(180);
  EXPECT_EQ(drive.Execute({0x00}, 1, 0), 0);
  EXPECT_EQ(aspi_.WaitMilliseconds, 180000u);
  EXPECT_EQ(drive.Status(), aspi::kSsPending);
}

// SRB_Status, SRB_HaStat and SRB_TargStat as real layers report them. A data underrun with GOOD
// target status is how some layers report a short data-in answer (INQUIRY's 128 bytes): it must
// not lose the drive, while the same on a data-out command, and every time-out, reset or
// selection time-out, stays a failure.
TEST(AspiStatus, DecodesStatusHostStatusAndTargetStatus) {
  using drive::HostOutcome;
  const struct {
    const char* name;
    std::uint8_t status, haStat, targStat;
    bool dataIn;
    bool reached;
    HostOutcome host;
    bool succeeded;
  } cases[] = {
      {"complete", aspi::kSsComp, 0x00, 0x00, true, true, HostOutcome::Ok, true},
      {"check condition", aspi::kSsErr, 0x00, 0x02, true, true, HostOutcome::Ok, false},
      {"error without target status", aspi::kSsErr, 0x00, 0x00, true, true, HostOutcome::HostError, false},
      {"underrun in, error", aspi::kSsErr, 0x12, 0x00, true, true, HostOutcome::Ok, true},
      {"underrun in, complete", aspi::kSsComp, 0x12, 0x00, true, true, HostOutcome::Ok, true},
      {"underrun in, check condition", aspi::kSsErr, 0x12, 0x02, true, true, HostOutcome::Ok, false},
      {"underrun out", aspi::kSsErr, 0x12, 0x00, false, true, HostOutcome::HostError, false},
      {"underrun out, complete", aspi::kSsComp, 0x12, 0x00, false, true, HostOutcome::HostError, false},
      {"selection time-out", aspi::kSsErr, 0x11, 0x00, true, true, HostOutcome::NoDevice, false},
      {"time-out waiting", aspi::kSsErr, 0x09, 0x00, true, true, HostOutcome::TimedOut, false},
      {"command time-out", aspi::kSsErr, 0x0B, 0x00, true, true, HostOutcome::TimedOut, false},
      {"bus reset", aspi::kSsErr, 0x0E, 0x00, true, true, HostOutcome::Aborted, false},
      {"other host error", aspi::kSsErr, 0x14, 0x00, true, true, HostOutcome::HostError, false},
      {"aborted", aspi::kSsAborted, 0x00, 0x00, true, true, HostOutcome::Aborted, false},
      {"no device", aspi::kSsNoDevice, 0x00, 0x00, true, false, HostOutcome::Ok, false},
      {"invalid request", aspi::kSsInvalidSrb, 0x00, 0x00, false, false, HostOutcome::Ok, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const drive::CommandOutcome outcome = drive::DecodeAspiStatus(c.status, c.haStat, c.targStat, c.dataIn);
    EXPECT_EQ(outcome.Reached, c.reached);
    EXPECT_EQ(outcome.Host, c.host);
    EXPECT_EQ(outcome.Succeeded(), c.succeeded);
    EXPECT_EQ(outcome.ShownStatus, c.status);
  }
}

// Where the adapter reports residual counts, the request asks for them and the residual decides
// whether the bytes a caller reads arrived.
TEST_F(AspiFakeTest, TheResidualIsAskedForWhereTheAdapterReportsIt) {
  aspi_.CompleteAtOnce = true;
  aspi_.ReportsResidual = true;
  aspi_.Residual = 92; // INQUIRY: 36 of 128 bytes
  CDDrive drive(' ', 0, 0, 0);
  ASSERT_TRUE(drive.IsOpen());
  EXPECT_EQ(aspi_.Seen.SRB_Flags, 0x48 | aspi::kSrbEnableResidualCount);
  EXPECT_TRUE(drive.LastOutcome().ResidualKnown);
  EXPECT_EQ(drive.LastOutcome().Residual, 92u);

  std::uint8_t buffer[64] = {};
  CDDrive::SetBuffer(buffer, sizeof buffer);
  const std::uint8_t fill[16] = {};
  aspi_.Residual = 60; // 4 of the 16 bytes needed
  EXPECT_EQ(drive.ExecuteDataIn({0x3C}, 64, fill), 0);
  EXPECT_EQ(drive::DescribeOutcome(drive.LastOutcome()), "GOOD, but the drive returned 4 of 64 bytes (16 needed)");
  aspi_.Residual = 48;
  EXPECT_EQ(drive.ExecuteDataIn({0x3C}, 64, fill), 64);
}

} // namespace
