#pragma once
// The transport to emulated drives in this process. Each drive sits at the adapter and target its
// configuration gives (drive i: adapter i / 2, target i % 2 by default), lun 0, with its letter
// (a space by default).
//
// The update lock of drive i is one of the locks of the drive INI file the machine was loaded
// from (sys::FileSlotLock, which needs only read access to the file), so that processes
// emulating the same file exclude each other as they would on one real drive; the adapters'
// buses are shared the same way. When the file's lock cannot be made the update is refused.
// A machine built in memory locks within the process only.

#include <memory>
#include <string>

#include "drive/Transport.h"

namespace sim {
class SimMachine;
}

namespace drive {

class EmulatedTransport : public Transport {
public:
  // driveFile: the drive INI file the machine was loaded from; empty for a machine built in
  // memory.
  explicit EmulatedTransport(std::shared_ptr<sim::SimMachine> machine, std::string driveFile = {});
  TransportKind Kind() const override { return TransportKind::Emulated; }
  std::uint8_t SetUp() override { return kResultOpened; }
  std::unique_ptr<DeviceChannel> Open(const DriveAddress& address, CommandOutcome& failure) override;
  std::vector<DriveAddress> Candidates() override;
  std::optional<std::string> SystemErrorText(std::uint32_t code) override;
  std::unique_ptr<UpdateLock> LockForUpdate(const DriveAddress& address, std::string& refusal) override;
  bool IsLockedForUpdate(const DriveAddress& address) override;

  const std::shared_ptr<sim::SimMachine>& Machine() const { return machine_; }

private:
  // The machine's index of the drive at the address; Count() when none is there.
  std::size_t DriveIndex(const DriveAddress& address) const;
  // The address as the in-process lock knows it, however the caller spelled it.
  DriveAddress LockAddress(const DriveAddress& address) const;
  std::shared_ptr<sim::SimMachine> machine_;
  std::string driveFile_;
};

} // namespace drive
