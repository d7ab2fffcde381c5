#pragma once
// The Linux transport: SG_IO on the /dev/srN nodes that sysfs lists. Drives have no letter
// (their identity text shows a space in its place) and take the SCSI host number as adapter.
//
// The update lock holds the block device open exclusively (O_EXCL: refused while the disc is
// mounted or another program holds the device so) and flock()s it, the mark that other odflash
// processes test before they probe a drive.

#include <string>

#include "drive/Transport.h"

namespace drive {

class SgTransport : public Transport {
public:
  explicit SgTransport(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");
  TransportKind Kind() const override { return TransportKind::SgIo; }
  std::uint8_t SetUp() override { return kResultOpened; }
  // Opens the node read-write, non-blocking; shows "Error opening: ..." on failure.
  std::unique_ptr<DeviceChannel> Open(const DriveAddress& address) override;
  std::vector<DriveAddress> Candidates() override;
  std::uint32_t LastSystemError() override { return lastError_; }
  std::optional<std::string> SystemErrorText(std::uint32_t code) override;
  std::unique_ptr<UpdateLock> LockForUpdate(const DriveAddress& address, std::string& refusal) override;
  bool IsLockedForUpdate(const DriveAddress& address) override;

  void SetLastError(std::uint32_t code) { lastError_ = code; }

private:
  // The device node of the address: its DevicePath, else the sysfs drive at its numbers; empty
  // when there is none.
  std::string DevicePathOf(const DriveAddress& address);

  std::string sysfsRoot_;
  std::string devRoot_;
  std::uint32_t lastError_ = 0;
};

} // namespace drive
