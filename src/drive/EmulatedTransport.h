#pragma once
// The transport to emulated drives in this process. Drive i sits at adapter i / 2, target i % 2,
// lun 0 (the ASPI positions), with the letter its configuration gives (a space by default).

#include <memory>

#include "drive/Transport.h"

namespace sim {
class SimMachine;
}

namespace drive {

class EmulatedTransport : public Transport {
public:
  explicit EmulatedTransport(std::shared_ptr<sim::SimMachine> machine);
  TransportKind Kind() const override { return TransportKind::Emulated; }
  std::uint8_t SetUp() override { return kResultOpened; }
  std::unique_ptr<DeviceChannel> Open(const DriveAddress& address) override;
  std::vector<DriveAddress> Candidates() override;
  std::uint32_t LastSystemError() override { return lastError_; }
  std::optional<std::string> SystemErrorText(std::uint32_t code) override;

  const std::shared_ptr<sim::SimMachine>& Machine() const { return machine_; }

private:
  friend class EmulatedChannel;
  std::shared_ptr<sim::SimMachine> machine_;
  std::uint32_t lastError_ = 0;
};

} // namespace drive
