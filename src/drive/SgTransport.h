#pragma once
// The Linux transport: SG_IO on the /dev/srN nodes that sysfs lists. Drives have no letter
// (their identity text shows a space in its place) and take the SCSI host number as adapter.

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

  void SetLastError(std::uint32_t code) { lastError_ = code; }

private:
  std::string sysfsRoot_;
  std::string devRoot_;
  std::uint32_t lastError_ = 0;
};

} // namespace drive
