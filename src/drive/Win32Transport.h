#pragma once
// The Windows transport: NT pass-through (IOCTL_SCSI_PASS_THROUGH_DIRECT on \\.\X:) on the NT
// family, the ASPI layer WNASPI32.DLL on every other platform; GetVersionExA decides at set-up.

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <memory>

#include "drive/AspiInterface.h"
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

class Win32Transport : public Transport {
public:
  Win32Transport();
  TransportKind Kind() const override;
  std::uint8_t SetUp() override;
  std::unique_ptr<DeviceChannel> Open(const DriveAddress& address) override;
  std::vector<DriveAddress> Candidates() override;
  std::uint32_t LastSystemError() override { return lastError_; }
  std::optional<std::string> SystemErrorText(std::uint32_t code) override;

  // Called by the channels right after each system call: the one place GetLastError is read.
  void CaptureLastError();
  void SetLastError(std::uint32_t code) { lastError_ = code; }
  HMODULE AspiLibrary() const { return aspiLibrary_; }
  aspi::SendCommandFunction SendCommand() const { return sendCommand_; }

private:
  bool QueryPassThrough();

  bool usePassThrough_ = false;
  HMODULE aspiLibrary_ = nullptr;
  aspi::SendCommandFunction sendCommand_ = nullptr;
  std::uint32_t lastError_ = 0;
};

} // namespace drive
