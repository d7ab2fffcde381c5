#include "drive/Transport.h"

#include <cstdlib>

#include "drive/EmulatedTransport.h"
#include "sim/EmulatedDrive.h"
#include "sys/Files.h"

namespace drive {
namespace {

constexpr std::uint64_t kMaxDriveFileBytes = 1u << 20;

std::unique_ptr<Transport>& InstalledTransport() {
  static std::unique_ptr<Transport> transport;
  return transport;
}

} // namespace

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
  // Only a regular file of sane size: a FIFO would block, /dev/zero never end.
  std::string text;
  if (!sys::ReadRegularFile(path, kMaxDriveFileBytes, text, error)) return false;
  try {
    UseEmulatedDrives(sim::SimMachine::FromIni(text));
  } catch (const std::exception& e) {
    error = path + ": " + e.what();
    return false;
  }
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
