// The Windows transport's pass-through path with every Win32 call faked: the block it builds,
// the handles it opens and closes, and its messages.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>

#include "DriveTestSupport.h"
#include "drive/Cddrives.h"
#include "drive/Win32Calls.h"
#include "drive/Win32Transport.h"

namespace {

using drive::CDDrive;
using drive::CDDrives;
using drive::PassThroughBlock;
using drive_test::RecordedMessage;

// What the fake machine has and what the transport did to it.
struct FakeMachine {
  DWORD PlatformId = VER_PLATFORM_WIN32_NT;
  std::string Roots;                    // root strings with their zero bytes
  std::map<char, UINT> Types;           // drive type per letter (default: fixed)
  std::map<char, DWORD> OpenErrors;     // letters that cannot be opened, with the error
  std::vector<std::string> Opened;      // paths given to CreateFileA
  std::vector<DWORD> Access, Share, Disposition;
  std::vector<HANDLE> Closed;
  std::vector<PassThroughBlock> Blocks; // every block as DeviceIoControl received it
  std::vector<DWORD> InSizes, OutSizes, Codes;
  BOOL IoctlResult = TRUE;
  std::uint8_t SenseKey = 0, Asc = 0, Ascq = 0, ScsiStatus = 0;
  DWORD LastError = 0;
  std::string ErrorText = "Access is denied.\r\n"; // empty: FormatMessageA fails
  std::vector<DWORD> RootBufferSizes;
  std::map<std::string, int> Mutexes; // named mutexes and their open handles
  std::vector<std::string> MutexNames; // names given to CreateMutexA and OpenMutexA
  // The cdrom driver's exclusive access: the error a lock request fails with (0: granted), the
  // name the current holder gave, and every request with its handle.
  DWORD ExclusiveLockError = 0;
  std::string ExclusiveHolder;
  struct ExclusiveRequest {
    HANDLE Handle;
    ULONG RequestType, Flags;
    std::string CallerName;
    bool operator==(const ExclusiveRequest&) const = default;
  };
  std::vector<ExclusiveRequest> ExclusiveRequests;
};

FakeMachine* fake = nullptr;

BOOL WINAPI FakeGetVersionExA(LPOSVERSIONINFOA info) {
  EXPECT_EQ(info->dwOSVersionInfoSize, 148u);
  info->dwPlatformId = fake->PlatformId;
  return TRUE;
}

HANDLE WINAPI FakeCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile) {
  EXPECT_EQ(security, nullptr);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(templateFile, nullptr);
  fake->Opened.push_back(name);
  fake->Access.push_back(access);
  fake->Share.push_back(share);
  fake->Disposition.push_back(disposition);
  const char letter = name[4];
  if (fake->OpenErrors.count(letter) != 0) {
    fake->LastError = fake->OpenErrors[letter];
    return INVALID_HANDLE_VALUE;
  }
  fake->LastError = 0;
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000 + letter));
}

BOOL FakeExclusiveAccess(HANDLE handle, const void* in, DWORD inSize, void* out, DWORD outSize) {
  const auto* access = static_cast<const drive::CdromExclusiveAccess*>(in);
  std::string caller;
  if (access->RequestType == drive::kExclusiveAccessLockDevice) {
    EXPECT_EQ(inSize, sizeof(drive::CdromExclusiveLock));
    const auto* name = static_cast<const drive::CdromExclusiveLock*>(in)->CallerName;
    caller.assign(reinterpret_cast<const char*>(name), strnlen(reinterpret_cast<const char*>(name), 64));
  } else {
    EXPECT_EQ(inSize, sizeof(drive::CdromExclusiveAccess));
  }
  fake->ExclusiveRequests.push_back({handle, access->RequestType, access->Flags, caller});
  fake->LastError = 0;
  switch (access->RequestType) {
  case drive::kExclusiveAccessLockDevice:
    fake->LastError = fake->ExclusiveLockError;
    break;
  case drive::kExclusiveAccessQueryState: {
    EXPECT_EQ(outSize, sizeof(drive::CdromExclusiveLockState));
    auto* state = static_cast<drive::CdromExclusiveLockState*>(out);
    state->LockState = !fake->ExclusiveHolder.empty();
    std::memcpy(state->CallerName, fake->ExclusiveHolder.c_str(), fake->ExclusiveHolder.size() + 1);
    break;
  }
  default:
    break;
  }
  return fake->LastError == 0;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED overlapped) {
  if (code == drive::kIoctlCdromExclusiveAccess) return FakeExclusiveAccess(handle, in, inSize, out, outSize);
  EXPECT_EQ(in, out);
  EXPECT_NE(returned, nullptr);
  EXPECT_EQ(overlapped, nullptr);
  auto* block = static_cast<PassThroughBlock*>(in);
  fake->Blocks.push_back(*block);
  fake->Codes.push_back(code);
  fake->InSizes.push_back(inSize);
  fake->OutSizes.push_back(outSize);
  SCSI_PASS_THROUGH_DIRECT& request = block->Request;
  if (request.Cdb[0] == 0x12) {
    auto* data = static_cast<std::uint8_t*>(request.DataBuffer);
    data[0] = 0x05; // CD/DVD device
    std::memcpy(data + 8, "FAKEVNDRFAKE PRODUCT    F1.0", 28);
  }
  request.ScsiStatus = fake->ScsiStatus;
  block->SenseBuffer[2] = fake->SenseKey;
  block->SenseBuffer[12] = fake->Asc;
  block->SenseBuffer[13] = fake->Ascq;
  fake->LastError = fake->IoctlResult ? 0 : ERROR_INVALID_FUNCTION;
  return fake->IoctlResult;
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  fake->Closed.push_back(handle);
  return TRUE;
}

DWORD WINAPI FakeGetLastError() { return fake->LastError; }

DWORD WINAPI FakeFormatMessageA(DWORD flags, LPCVOID source, DWORD, DWORD language, LPSTR buffer,
                                DWORD size, va_list* arguments) {
  EXPECT_EQ(flags, static_cast<DWORD>(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS));
  EXPECT_EQ(source, nullptr);
  EXPECT_EQ(language, 0u);
  EXPECT_EQ(size, 80u);
  EXPECT_EQ(arguments, nullptr);
  if (fake->ErrorText.empty() || fake->ErrorText.size() + 1 > size) return 0;
  std::memcpy(buffer, fake->ErrorText.c_str(), fake->ErrorText.size() + 1);
  return static_cast<DWORD>(fake->ErrorText.size());
}

DWORD WINAPI FakeGetLogicalDriveStringsA(DWORD length, LPSTR buffer) {
  fake->RootBufferSizes.push_back(length);
  if (fake->Roots.size() + 1 > length) return static_cast<DWORD>(fake->Roots.size() + 1);
  std::memcpy(buffer, fake->Roots.data(), fake->Roots.size());
  buffer[fake->Roots.size()] = '\0';
  return static_cast<DWORD>(fake->Roots.size());
}

UINT WINAPI FakeGetDriveTypeA(LPCSTR root) {
  auto type = fake->Types.find(root[0]);
  return type == fake->Types.end() ? DRIVE_FIXED : type->second;
}

// Mutex handles are 0x2000 + a serial number; closing one drops its name's count.
std::map<HANDLE, std::string> mutexHandles;

HANDLE NewMutexHandle(const std::string& name) {
  static std::uintptr_t serial = 0;
  HANDLE handle = reinterpret_cast<HANDLE>(0x2000 + ++serial);
  mutexHandles[handle] = name;
  ++fake->Mutexes[name];
  return handle;
}

HANDLE WINAPI FakeCreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCSTR name) {
  EXPECT_EQ(security, nullptr);
  EXPECT_FALSE(initialOwner);
  fake->MutexNames.push_back(name);
  fake->LastError = fake->Mutexes[name] > 0 ? ERROR_ALREADY_EXISTS : 0;
  return NewMutexHandle(name);
}

HANDLE WINAPI FakeOpenMutexA(DWORD, BOOL, LPCSTR name) {
  fake->MutexNames.push_back(name);
  if (fake->Mutexes[name] == 0) {
    fake->LastError = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  return NewMutexHandle(name);
}

BOOL WINAPI FakeCloseHandleOfMutex(HANDLE handle) {
  auto mutex = mutexHandles.find(handle);
  if (mutex == mutexHandles.end()) return FakeCloseHandle(handle);
  --fake->Mutexes[mutex->second];
  mutexHandles.erase(mutex);
  return TRUE;
}

std::string Roots(const std::string& letters) {
  std::string roots;
  for (char letter : letters) roots += std::string(1, letter) + ":\\" + std::string(1, '\0');
  return roots;
}

class PassThroughTest : public drive_test::DriveTest {
protected:
  void SetUp() override {
    DriveTest::SetUp();
    fake = &machine_;
    drive::Win32Calls& calls = drive::Win32();
    calls.GetVersionExA = FakeGetVersionExA;
    calls.CreateFileA = FakeCreateFileA;
    calls.DeviceIoControl = FakeDeviceIoControl;
    calls.CloseHandle = FakeCloseHandleOfMutex;
    calls.CreateMutexA = FakeCreateMutexA;
    calls.OpenMutexA = FakeOpenMutexA;
    calls.GetLastError = FakeGetLastError;
    calls.FormatMessageA = FakeFormatMessageA;
    calls.GetLogicalDriveStringsA = FakeGetLogicalDriveStringsA;
    calls.GetDriveTypeA = FakeGetDriveTypeA;
    calls.LoadLibraryA = [](LPCSTR) -> HMODULE {
      ADD_FAILURE() << "no library is loaded on the NT family";
      return nullptr;
    };
    machine_.Roots = Roots("ACEF");
    machine_.Types = {{'A', DRIVE_REMOVABLE}, {'E', DRIVE_CDROM}, {'F', DRIVE_CDROM}};
  }
  void TearDown() override {
    drive::Win32() = drive::RealWin32Calls();
    fake = nullptr;
    DriveTest::TearDown();
  }
  FakeMachine machine_;
};

TEST_F(PassThroughTest, OnlyCdromLettersAreProbedAndEveryHandleIsClosed) {
  {
    CDDrives drives;
    ASSERT_EQ(drives.Count(), 2);
    EXPECT_EQ(drives.Drive(0)->IdentityText, "0-0-0 E: FAKEVNDRFAKE PRODUCT    F1.0");
    EXPECT_EQ(drives.Drive(1)->IdentityText, "0-0-0 F: FAKEVNDRFAKE PRODUCT    F1.0");
    EXPECT_EQ(drives.Drive(1)->DevicePath(), "\\\\.\\F:");
    EXPECT_EQ(drive::State().OpenCount, 2);
    EXPECT_TRUE(drive::State().UsePassThrough);
    EXPECT_FALSE(drive::IsEmulatedTransport());
  }
  EXPECT_THAT(machine_.Opened, ::testing::ElementsAre("\\\\.\\E:", "\\\\.\\F:"));
  EXPECT_THAT(machine_.Access, ::testing::Each(GENERIC_READ | GENERIC_WRITE));
  EXPECT_THAT(machine_.Share, ::testing::Each(static_cast<DWORD>(FILE_SHARE_READ)));
  EXPECT_THAT(machine_.Disposition, ::testing::Each(static_cast<DWORD>(OPEN_EXISTING)));
  // Released last to first.
  EXPECT_THAT(machine_.Closed, ::testing::ElementsAre(reinterpret_cast<HANDLE>(0x1000 + 'F'),
                                                      reinterpret_cast<HANDLE>(0x1000 + 'E')));
  EXPECT_EQ(drive::State().OpenCount, 0);
  EXPECT_TRUE(messages_.Shown.empty());
}

TEST_F(PassThroughTest, TheBlockCarriesTheCommand) {
  CDDrive drive('E', 0, 0, 0);
  std::uint8_t buffer[16384];
  CDDrive::SetBuffer(buffer, sizeof buffer);
  CDDrive::SetTimeout(180);
  struct Case {
    std::uint8_t Direction;
    std::uint32_t Length;
    UCHAR DataIn;
  };
  const Case cases[] = {{1, 16, SCSI_IOCTL_DATA_IN}, {0, 16384, SCSI_IOCTL_DATA_OUT}, {2, 0, SCSI_IOCTL_DATA_OUT}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Direction));
    // A successful pass-through command returns 1 whatever the length.
    EXPECT_EQ(drive.Execute(0x3B, 0x05, 0x01, 0, 0x40, 0, 0, 0x40, 0, 0x7F, 0, 0, c.Direction, c.Length), 1);
    const PassThroughBlock& block = machine_.Blocks.back();
    const SCSI_PASS_THROUGH_DIRECT& request = block.Request;
    EXPECT_EQ(machine_.Codes.back(), 0x4D014u);
    EXPECT_EQ(machine_.InSizes.back(), sizeof(PassThroughBlock));
    EXPECT_EQ(machine_.OutSizes.back(), sizeof(PassThroughBlock));
    EXPECT_EQ(request.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(request.SenseInfoOffset, offsetof(PassThroughBlock, SenseBuffer));
    EXPECT_EQ(request.SenseInfoLength, 24);
    EXPECT_EQ(request.CdbLength, 12);
    EXPECT_EQ(request.DataIn, c.DataIn);
    EXPECT_EQ(request.DataTransferLength, c.Length);
    EXPECT_EQ(request.TimeOutValue, 180u);
    EXPECT_EQ(request.DataBuffer, buffer);
    EXPECT_THAT(std::vector<UCHAR>(request.Cdb, request.Cdb + 16),
                ::testing::ElementsAre(0x3B, 0x05, 0x01, 0, 0x40, 0, 0, 0x40, 0, 0x7F, 0, 0, 0, 0, 0, 0));
  }
  // On a 32-bit build the layout is the classic one.
  if (sizeof(void*) == 4) {
    EXPECT_EQ(sizeof(PassThroughBlock), 80u);
    EXPECT_EQ(offsetof(PassThroughBlock, SenseBuffer), 48u);
  }
}

TEST_F(PassThroughTest, FailedCommandsAndTheirOutcome) {
  struct Case {
    const char* Name;
    BOOL IoctlResult;
    std::uint8_t Key, Asc, Ascq, ScsiStatus;
    int Result;
    const char* SenseText;
  };
  const Case cases[] = {
      {"call failed", FALSE, 0, 0, 0, 0, 0, "00 00 00. 00, 0001"},
      {"sense key", TRUE, 0x02, 0x3A, 0x00, 0x02, 0, "02 3A 00. 02, 0000"},
      {"ILI flag counts", TRUE, 0x20, 0x00, 0x00, 0x02, 0, "20 00 00. 02, 0000"},
      {"CHECK CONDITION without sense fails", TRUE, 0x00, 0x00, 0x00, 0x02, 0, "00 00 00. 02, 0000"},
      {"BUSY fails", TRUE, 0x00, 0x00, 0x00, 0x08, 0, "00 00 00. 08, 0000"},
      {"GOOD passes", TRUE, 0x00, 0x00, 0x00, 0x00, 1, "00 00 00. 00, 0000"},
  };
  CDDrive drive('E', 0, 0, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    machine_.IoctlResult = c.IoctlResult;
    machine_.SenseKey = c.Key;
    machine_.Asc = c.Asc;
    machine_.Ascq = c.Ascq;
    machine_.ScsiStatus = c.ScsiStatus;
    EXPECT_EQ(drive.Execute({0x00}, 1, 0), c.Result);
    EXPECT_EQ(drive.LastOutcome().SenseText(), c.SenseText);
  }
  EXPECT_TRUE(messages_.Shown.empty());
}

TEST_F(PassThroughTest, ALetterThatCannotBeOpenedShowsBothBoxesAndTurnsReportingOn) {
  struct Case {
    std::string ErrorText;
    std::string SenseMessage;
  };
  const Case cases[] = {
      {"Access is denied.\r\n", "SenseCode: 00 00 00, 00, Error: 5, Access is denied.\r\n"},
      {std::string(80, 'x'), "SenseCode: 00 00 00, 00, Error: 5, Format message failed."},
  };
  for (const Case& c : cases) {
    drive::ResetTransportState();
    messages_.Shown.clear();
    machine_.ErrorText = c.ErrorText;
    machine_.OpenErrors = {{'E', ERROR_ACCESS_DENIED}};
    CDDrives drives;
    ASSERT_EQ(drives.Count(), 1);
    EXPECT_EQ(drives.Current()->Letter, 'F');
    EXPECT_TRUE(drive::State().ReportErrors);
    EXPECT_EQ(messages_.Shown, (std::vector<RecordedMessage>{
                                   {"Error opening: 5, Drive: \\\\.\\E:", sys::MessageKind::Plain},
                                   {c.SenseMessage, sys::MessageKind::Plain}}));
    // From now on every failed command shows the sense message.
    machine_.ScsiStatus = 0x02;
    machine_.SenseKey = 0x05;
    machine_.Asc = 0x20;
    machine_.ErrorText = "The operation completed successfully.\r\n";
    drives.Current()->Execute({0xEE}, 1, 0);
    EXPECT_EQ(messages_.Shown.back().Text,
              "SenseCode: 05 20 00, 02, Error: 0, The operation completed successfully.\r\n");
    machine_.ScsiStatus = 0;
    machine_.SenseKey = 0;
    machine_.Asc = 0;
  }
}

TEST_F(PassThroughTest, RootStringsLongerThanEightyCharactersAreAllWalked) {
  machine_.Roots = Roots("CDEFGHIJKLMNOPQRSTUVWXYZ"); // 24 roots: 97 characters
  machine_.Types = {{'D', DRIVE_CDROM}, {'Z', DRIVE_CDROM}};
  CDDrives drives;
  ASSERT_EQ(drives.Count(), 2);
  EXPECT_EQ(drives.Drive(1)->Letter, 'Z');
  EXPECT_THAT(machine_.RootBufferSizes, ::testing::ElementsAre(80u, 98u));
}

TEST_F(PassThroughTest, TheUpdateMutexKeepsOtherProcessesAwayFromTheDrive) {
  std::unique_ptr<drive::UpdateLock> lock;
  {
    CDDrives drives;
    ASSERT_EQ(drives.Count(), 2);
    std::string refusal;
    lock = drives.Drive(0)->LockForUpdate(refusal);
    ASSERT_NE(lock, nullptr) << refusal;
    EXPECT_EQ(machine_.Mutexes["Global\\odflash-update-E"], 1);
    // Another process finds the mutex existing: refused, and its handle is given back.
    EXPECT_EQ(drives.Drive(0)->LockForUpdate(refusal), nullptr);
    EXPECT_EQ(refusal, drive::kRefusedBeingUpdated);
    EXPECT_EQ(machine_.Mutexes["Global\\odflash-update-E"], 1);
  }
  // Enumeration while E is held: E is not even opened, F is listed.
  machine_.Opened.clear();
  {
    CDDrives drives;
    ASSERT_EQ(drives.Count(), 1);
    EXPECT_EQ(drives.Current()->Letter, 'F');
    EXPECT_EQ(drives.BusyDevicePaths(), std::vector<std::string>{"\\\\.\\E:"});
    EXPECT_THAT(machine_.Opened, ::testing::ElementsAre("\\\\.\\F:"));
  }
  lock.reset();
  EXPECT_EQ(machine_.Mutexes["Global\\odflash-update-E"], 0);
  // On the ASPI path (Windows 9x) there are no namespaces: the name is by adapter and target.
  drive::Win32Transport aspi;
  drive::DriveAddress address;
  address.Adapter = 3;
  address.Target = 1;
  EXPECT_EQ(aspi.UpdateMutexName(address), "odflash-update-aspi-3-1");
  EXPECT_TRUE(messages_.Shown.empty());
}

// The cdrom driver's exclusive access on the handle the update's commands use, for each answer
// the systems give: granted (Vista and later), held by another program, not offered (XP's and
// Wine's driver, a letter whose handle reaches a file system), and an answer nobody expects.
TEST_F(PassThroughTest, TheUpdateHoldsTheDriveExclusivelyWhereTheSystemOffersIt) {
  using Request = FakeMachine::ExclusiveRequest;
  const HANDLE handleE = reinterpret_cast<HANDLE>(0x1000 + 'E');
  const Request lockE{handleE, drive::kExclusiveAccessLockDevice, drive::kCdromLockIgnoreVolume,
                      "odflash firmware update"};
  const Request queryE{handleE, drive::kExclusiveAccessQueryState, 0, ""};
  const Request unlockE{handleE, drive::kExclusiveAccessUnlockDevice, 0, ""};
  const std::string notOffered = "the system offers no exclusive access to \\\\.\\E: (error ";
  const std::string mayReach = "); other programs' commands may still reach the drive";
  struct Case {
    const char* Name;
    DWORD LockError;
    std::string Holder;
    std::string Refusal;  // empty: the update lock is taken
    std::vector<std::string> Notes, Warnings;
    std::vector<Request> Requests; // through the lock's release
  };
  const Case cases[] = {
      {"Vista and later: granted", 0, "", "", {}, {}, {lockE, unlockE}},
      {"held by a burner", ERROR_ACCESS_DENIED, "Burner 7", std::string(drive::kRefusedHeldByProgram) + ": Burner 7",
       {}, {}, {lockE, queryE}},
      {"held, holder unnamed", ERROR_ACCESS_DENIED, "", drive::kRefusedHeldByProgram, {}, {}, {lockE, queryE}},
      {"Windows XP", ERROR_INVALID_FUNCTION, "", "", {notOffered + "1" + mayReach}, {}, {lockE}},
      {"Wine", ERROR_NOT_SUPPORTED, "", "", {notOffered + "50" + mayReach}, {}, {lockE}},
      {"letter reaching a file system", ERROR_INVALID_HANDLE, "", "", {notOffered + "6" + mayReach}, {}, {lockE}},
      {"unexpected answer", ERROR_GEN_FAILURE, "", "", {},
       {"exclusive access to \\\\.\\E: was not granted (error 31" + mayReach}, {lockE}},
  };
  CDDrives drives;
  ASSERT_EQ(drives.Count(), 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    machine_.ExclusiveLockError = c.LockError;
    machine_.ExclusiveHolder = c.Holder;
    machine_.ExclusiveRequests.clear();
    std::string refusal;
    auto lock = drives.Drive(0)->LockForUpdate(refusal);
    EXPECT_EQ(refusal, c.Refusal);
    EXPECT_EQ(lock == nullptr, !c.Refusal.empty());
    if (lock) {
      EXPECT_EQ(lock->Notes, c.Notes);
      EXPECT_EQ(lock->Warnings, c.Warnings);
    }
    lock.reset();
    EXPECT_EQ(machine_.ExclusiveRequests, c.Requests);
    // The update mutex went with the lock, or with the refusal.
    EXPECT_EQ(machine_.Mutexes["Global\\odflash-update-E"], 0);
  }
  // A lock that outlives its drive is not unlocked on the closed handle: closing gave it back.
  machine_.ExclusiveLockError = 0;
  machine_.ExclusiveRequests.clear();
  std::string refusal;
  std::unique_ptr<drive::UpdateLock> lock;
  {
    CDDrives other;
    lock = other.Drive(0)->LockForUpdate(refusal);
    ASSERT_NE(lock, nullptr) << refusal;
  }
  lock.reset();
  EXPECT_EQ(machine_.ExclusiveRequests, std::vector<Request>{lockE});
  EXPECT_TRUE(messages_.Shown.empty());
}

} // namespace
