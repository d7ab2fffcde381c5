#include "drive/Transport.h"

#include <cstdlib>
#include <set>

#include "drive/EmulatedTransport.h"
#include "sim/EmulatedDrive.h"

namespace drive {
namespace {

std::unique_ptr<Transport>& InstalledTransport() {
  static std::unique_ptr<Transport> transport;
  return transport;
}

// The drives locked for update by this process, by their lock key.
std::set<std::string>& InProcessUpdateLocks() {
  static std::set<std::string> held;
  return held;
}

std::string UpdateLockKey(const DriveAddress& address) {
  if (!address.DevicePath.empty()) return address.DevicePath;
  return std::string(1, address.Letter) + ":" + std::to_string(address.Adapter) + "-" +
         std::to_string(address.Target) + "-" + std::to_string(address.Lun);
}

class InProcessUpdateLock final : public UpdateLock {
public:
  explicit InProcessUpdateLock(std::string key) : key_(std::move(key)) {}
  ~InProcessUpdateLock() override { InProcessUpdateLocks().erase(key_); }

private:
  std::string key_;
};

} // namespace

std::unique_ptr<UpdateLock> DeviceChannel::HoldForUpdate(UpdateLock&, std::string&) { return nullptr; }

std::unique_ptr<UpdateLock> Transport::LockForUpdate(const DriveAddress& address, std::string& refusal) {
  std::string key = UpdateLockKey(address);
  if (!InProcessUpdateLocks().insert(key).second) {
    refusal = kRefusedBeingUpdated;
    return nullptr;
  }
  return std::make_unique<InProcessUpdateLock>(std::move(key));
}

bool Transport::IsLockedForUpdate(const DriveAddress& address) {
  return InProcessUpdateLocks().count(UpdateLockKey(address)) != 0;
}

TransportState& State() {
  static TransportState state;
  return state;
}

Transport& CurrentTransport() {
  std::unique_ptr<Transport>& transport = InstalledTransport();
  if (!transport) transport = MakePlatformTransport();
  return *transport;
}

void UseTransport(std::unique_ptr<Transport> transport) {
  InstalledTransport() = std::move(transport);
}

void ResetTransportState() {
  State() = TransportState{};
  InstalledTransport().reset();
}

void UseEmulatedDrives(std::shared_ptr<sim::SimMachine> machine) {
  UseTransport(std::make_unique<EmulatedTransport>(std::move(machine)));
}

bool UseEmulatedDrivesFromFile(const std::string& path, std::string& error) {
  sim::SimConfig config;
  if (!sim::LoadSimConfig(path, config, error)) return false;
  std::shared_ptr<sim::SimMachine> machine = sim::SimMachine::Create(config, error);
  if (!machine) {
    error = path + ": " + error;
    return false;
  }
  UseTransport(std::make_unique<EmulatedTransport>(std::move(machine), path));
  return true;
}

std::string SimFileFromEnvironment() {
#ifdef _WIN32
  return {};
#else
  const char* path = std::getenv("ODFLASH_SIM");
  return path != nullptr ? path : "";
#endif
}

bool IsEmulatedTransport() { return CurrentTransport().ServesEmulatedDrives(); }

std::shared_ptr<sim::SimMachine> EmulatedMachine() {
  auto* emulated = dynamic_cast<EmulatedTransport*>(&CurrentTransport());
  return emulated != nullptr ? emulated->Machine() : nullptr;
}

} // namespace drive
