#include "drive/EmulatedTransport.h"

#include "drive/Platform.h"
#include "sim/EmulatedDrive.h"

namespace drive {

class EmulatedChannel : public DeviceChannel {
public:
  EmulatedChannel(EmulatedTransport& transport, sim::EmulatedDrive* drive)
      : transport_(transport), drive_(drive) {}

  CommandOutcome Send(const CommandBlock& command) override {
    CommandOutcome outcome;
    if (drive_ == nullptr) return NotReached(outcome);
    std::uint8_t cdb[12];
    for (std::size_t i = 0; i < kCdbLength; ++i) cdb[i] = command.Cdb[i];
    const sim::CommandResult result = drive_->Execute(cdb, command.DataIn, command.Data, command.Length);
    if (!result.Delivered) return NotReached(outcome);
    transport_.lastError_ = 0;
    outcome.Reached = true;
    if (result.TimedOut) {
      outcome.Host = HostOutcome::TimedOut;
      outcome.OsError = transport_.lastError_ = PlatformIoErrorCode();
      return outcome;
    }
    outcome.ScsiStatus = outcome.ShownStatus = result.Status;
    outcome.Sense = ParseSense(result.SenseData.data(), result.SenseLength);
    outcome.Residual = command.Length > result.Transferred ? command.Length - result.Transferred : 0;
    outcome.Result = outcome.Succeeded() ? 1 : 0;
    return outcome;
  }

private:
  // The transport failed the way the platform's device I/O fails.
  CommandOutcome& NotReached(CommandOutcome& outcome) {
    outcome.OsError = transport_.lastError_ = PlatformIoErrorCode();
    return outcome;
  }

  EmulatedTransport& transport_;
  sim::EmulatedDrive* drive_;
};

EmulatedTransport::EmulatedTransport(std::shared_ptr<sim::SimMachine> machine)
    : machine_(std::move(machine)) {}

std::unique_ptr<DeviceChannel> EmulatedTransport::Open(const DriveAddress& address) {
  // No drive at the address: the channel fails every command, as an empty ASPI position does.
  const std::size_t index = std::size_t{address.Adapter} * 2 + address.Target;
  sim::EmulatedDrive* drive =
      address.Target < 2 && address.Lun == 0 && index < machine_->Count() ? &machine_->Drive(index)
                                                                           : nullptr;
  return std::make_unique<EmulatedChannel>(*this, drive);
}

std::vector<DriveAddress> EmulatedTransport::Candidates() {
  std::vector<DriveAddress> candidates;
  for (std::size_t i = 0; i < machine_->Count() && i / 2 <= 0xFF; ++i) {
    DriveAddress address;
    address.Letter = machine_->Drive(i).Config().Letter;
    address.Adapter = static_cast<std::uint8_t>(i / 2);
    address.Target = static_cast<std::uint8_t>(i % 2);
    address.DevicePath = "sim:Drive" + std::to_string(i);
    candidates.push_back(address);
  }
  return candidates;
}

std::optional<std::string> EmulatedTransport::SystemErrorText(std::uint32_t code) {
  return PlatformErrorText(code);
}

} // namespace drive
