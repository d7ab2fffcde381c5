#include "drive/EmulatedTransport.h"

#include "drive/Platform.h"
#include "sim/EmulatedDrive.h"
#include "sys/FileLock.h"

#include <mutex>

namespace drive {
namespace {

// Drive i's slot of the INI file's locks is "drive<i>" (byte kDriveLockOffset + i where the
// lock is a range of the file: far past the text, because Windows range locks are mandatory and
// would otherwise stop other processes from reading the file); adapter a's bus is "bus<a>".
constexpr std::uint64_t kDriveLockOffset = 0x40000000;
constexpr std::uint64_t kBusLockOffset = 0x40001000;

sys::LockSlot DriveSlot(std::size_t index) { return {kDriveLockOffset + index, "drive" + std::to_string(index)}; }
sys::LockSlot BusSlot(unsigned adapter) { return {kBusLockOffset + adapter, "bus" + std::to_string(adapter)}; }

// The buses of the drive file's adapters, shared by every process that emulates the file.
class FileBuses final : public sim::BusArbiter {
public:
  explicit FileBuses(std::string driveFile) : driveFile_(std::move(driveFile)) {}
  void Acquire(unsigned adapter) override {
    // The mutex serves this process's threads where the file lock cannot be made; the bus then
    // only orders this process's commands (a drive's update lock, which matters, never degrades).
    processBuses_[adapter].lock();
    std::string error;
    held_[adapter] = sys::FileSlotLock::Lock(driveFile_, BusSlot(adapter), error);
  }
  void Release(unsigned adapter) override {
    held_[adapter].reset();
    processBuses_[adapter].unlock();
  }

private:
  std::string driveFile_;
  std::mutex processBuses_[256];
  std::unique_ptr<sys::FileSlotLock> held_[256];
};

class EmulatedUpdateLock final : public UpdateLock {
public:
  explicit EmulatedUpdateLock(std::unique_ptr<sys::FileSlotLock> lock) : lock_(std::move(lock)) {}

private:
  std::unique_ptr<sys::FileSlotLock> lock_;
};

class EmulatedChannel : public DeviceChannel {
public:
  explicit EmulatedChannel(sim::EmulatedDrive* drive) : drive_(drive) {}

  CommandOutcome Send(const CommandBlock& command) override {
    CommandOutcome outcome;
    if (drive_ == nullptr) return NotReached(outcome);
    std::uint8_t cdb[12];
    for (std::size_t i = 0; i < kCdbLength; ++i) cdb[i] = command.Cdb[i];
    const sim::CommandResult result = drive_->Execute(cdb, command.DataIn, command.Data, command.Length);
    if (!result.Delivered) return NotReached(outcome);
    outcome.Reached = true;
    if (result.TimedOut) {
      outcome.Host = HostOutcome::TimedOut;
      outcome.OsError = PlatformIoErrorCode();
      return outcome;
    }
    outcome.ScsiStatus = outcome.ShownStatus = result.Status;
    outcome.Sense = ParseSense(result.SenseData.data(), result.SenseLength);
    outcome.Residual = command.Length > result.Transferred ? command.Length - result.Transferred : 0;
    outcome.ResidualKnown = true;
    outcome.Result = outcome.Succeeded() ? 1 : 0;
    return outcome;
  }

private:
  // The transport failed the way the platform's device I/O fails.
  static CommandOutcome& NotReached(CommandOutcome& outcome) {
    outcome.OsError = PlatformIoErrorCode();
    return outcome;
  }

  sim::EmulatedDrive* drive_;
};

} // namespace

EmulatedTransport::EmulatedTransport(std::shared_ptr<sim::SimMachine> machine, std::string driveFile)
    : machine_(std::move(machine)), driveFile_(std::move(driveFile)) {
  if (!driveFile_.empty()) machine_->ShareBuses(std::make_unique<FileBuses>(driveFile_));
}

std::size_t EmulatedTransport::DriveIndex(const DriveAddress& address) const {
  return address.Lun == 0 ? machine_->IndexAt(address.Adapter, address.Target) : machine_->Count();
}

DriveAddress EmulatedTransport::LockAddress(const DriveAddress& address) const {
  DriveAddress named;
  named.DevicePath = "sim:Drive" + std::to_string(DriveIndex(address));
  return named;
}

std::unique_ptr<DeviceChannel> EmulatedTransport::Open(const DriveAddress& address, CommandOutcome&) {
  // No drive at the address: the channel fails every command, as an empty ASPI position does.
  const std::size_t index = DriveIndex(address);
  sim::EmulatedDrive* drive = index < machine_->Count() ? &machine_->Drive(index) : nullptr;
  return std::make_unique<EmulatedChannel>(drive);
}

std::vector<DriveAddress> EmulatedTransport::Candidates() {
  std::vector<DriveAddress> candidates;
  for (std::size_t i = 0; i < machine_->Count(); ++i) {
    DriveAddress address;
    address.Letter = machine_->Drive(i).Config().Letter;
    address.Adapter = static_cast<std::uint8_t>(machine_->AdapterOf(i));
    address.Target = static_cast<std::uint8_t>(machine_->TargetOf(i));
    address.DevicePath = "sim:Drive" + std::to_string(i);
    candidates.push_back(address);
  }
  return candidates;
}

std::unique_ptr<UpdateLock> EmulatedTransport::LockForUpdate(const DriveAddress& address,
                                                             std::string& refusal) {
  if (driveFile_.empty()) return Transport::LockForUpdate(LockAddress(address), refusal);
  // A lock only this process sees would let another flasher update the drive at the same time:
  // when the file's lock cannot be made the update is refused.
  bool heldElsewhere = false;
  std::string error;
  auto lock = sys::FileSlotLock::TryLock(driveFile_, DriveSlot(DriveIndex(address)), heldElsewhere, error);
  if (lock) return std::make_unique<EmulatedUpdateLock>(std::move(lock));
  refusal = heldElsewhere ? std::string(kRefusedBeingUpdated) : std::string(kRefusedNoLock) + " (" + error + ")";
  return nullptr;
}

bool EmulatedTransport::IsLockedForUpdate(const DriveAddress& address) {
  if (driveFile_.empty()) return Transport::IsLockedForUpdate(LockAddress(address));
  return sys::FileSlotLock::IsLocked(driveFile_, DriveSlot(DriveIndex(address)));
}

std::optional<std::string> EmulatedTransport::SystemErrorText(std::uint32_t code) {
  return PlatformErrorText(code);
}

} // namespace drive
