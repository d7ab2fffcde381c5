#pragma once
// The Windows transport: NT pass-through (IOCTL_SCSI_PASS_THROUGH_DIRECT on \\.\X:) on the NT
// family, the ASPI layer WNASPI32.DLL on every other platform; GetVersionExA decides at set-up.
//
// A drive's update lock is a named mutex that exists while an odflash process holds it: by drive
// letter in the machine-wide "Global\" namespace on the NT family, by adapter and target (no
// namespaces there) on the ASPI path. On the NT family the update also takes the cdrom class
// driver's exclusive access on the drive's own handle, where the system offers it.

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstddef>
#include <memory>

#include "aspi/AspiInterface.h"
#include "drive/Transport.h"

namespace drive {

// The pass-through block: the structure, a 32-bit filler and a 32-byte sense buffer. In a 32-bit
// build the sense buffer starts 48 bytes in and the block is 80 bytes; sizes come from the type.
struct PassThroughBlock {
  SCSI_PASS_THROUGH_DIRECT Request;
  ULONG Filler;
  UCHAR SenseBuffer[32];
};

inline constexpr DWORD kPassThroughSenseLength = 24;

static_assert(sizeof(void*) != 4 ||
                  (sizeof(PassThroughBlock) == 80 && offsetof(PassThroughBlock, SenseBuffer) == 48),
              "the 32-bit pass-through block is 80 bytes with the sense buffer at 48");

// What an ASPI request's SRB_Status, SRB_HaStat and SRB_TargStat say of a finished command
// (sense and residual apart). A data over/underrun with GOOD target status leaves a data-in
// command's length unknown, for the data check to decide; a data-out command then failed.
CommandOutcome DecodeAspiStatus(std::uint8_t srbStatus, std::uint8_t haStat, std::uint8_t targStat, bool dataIn);

// The cdrom class driver's exclusive access (Vista and later), declared here because MinGW's
// headers lack it. While one handle holds the lock, the driver fails every other handle's I/O
// and stops its media change notification; closing the handle gives the lock back.
inline constexpr DWORD kIoctlCdromExclusiveAccess =
    CTL_CODE(FILE_DEVICE_CD_ROM, 0x0017, METHOD_BUFFERED, FILE_READ_ACCESS);
enum CdromExclusiveRequest : ULONG {
  kExclusiveAccessQueryState = 0,
  kExclusiveAccessLockDevice = 1,
  kExclusiveAccessUnlockDevice = 2,
};
// The lock is granted while a file system is mounted on the disc.
inline constexpr ULONG kCdromLockIgnoreVolume = 1;
inline constexpr std::size_t kCdromExclusiveCallerLength = 64;
struct CdromExclusiveAccess {
  ULONG RequestType;
  ULONG Flags;
};
struct CdromExclusiveLock {
  CdromExclusiveAccess Access;
  UCHAR CallerName[kCdromExclusiveCallerLength];
};
struct CdromExclusiveLockState {
  BOOLEAN LockState;
  UCHAR CallerName[kCdromExclusiveCallerLength];
};
// How odflash names itself as the lock's holder: fewer than 64 bytes of letters, digits, space
// and ".,:;-_", as the driver demands.
inline constexpr char kExclusiveCallerName[] = "odflash firmware update";

class Win32Transport : public Transport {
public:
  Win32Transport();
  TransportKind Kind() const override;
  std::uint8_t SetUp() override;
  std::unique_ptr<DeviceChannel> Open(const DriveAddress& address, CommandOutcome& failure) override;
  std::vector<DriveAddress> Candidates() override;
  std::optional<std::string> SystemErrorText(std::uint32_t code) override;
  bool ServesEmulatedDrives() const override { return !usePassThrough_ && standIn_; }
  std::unique_ptr<UpdateLock> LockForUpdate(const DriveAddress& address, std::string& refusal) override;
  bool IsLockedForUpdate(const DriveAddress& address) override;
  // The name of the drive's update mutex.
  std::string UpdateMutexName(const DriveAddress& address) const;

  HMODULE AspiLibrary() const { return aspiLibrary_; }
  aspi::SendCommandFunction SendCommand() const { return sendCommand_; }

private:
  bool QueryPassThrough();

  bool usePassThrough_ = false;
  HMODULE aspiLibrary_ = nullptr;
  aspi::SendCommandFunction sendCommand_ = nullptr;
  bool standIn_ = false; // the loaded library is the stand-in serving emulated drives
};

} // namespace drive
