#include "drive/SgOutcome.h"

namespace drive {
namespace {

// Host codes of the Linux SCSI layer (DID_*).
constexpr std::uint16_t kDidOk = 0x00;
constexpr std::uint16_t kDidNoConnect = 0x01;
constexpr std::uint16_t kDidTimeOut = 0x03;
constexpr std::uint16_t kDidBadTarget = 0x04;
constexpr std::uint16_t kDidAbort = 0x05;
constexpr std::uint16_t kDidReset = 0x08;
// Driver codes (DRIVER_*): the low nibble; 08h only says that sense data was written.
constexpr std::uint16_t kDriverSense = 0x08;
constexpr std::uint16_t kDriverTimeout = 0x06;

HostOutcome HostOutcomeOf(std::uint16_t hostStatus) {
  switch (hostStatus) {
  case kDidOk: return HostOutcome::Ok;
  case kDidTimeOut: return HostOutcome::TimedOut;
  case kDidAbort:
  case kDidReset: return HostOutcome::Aborted;
  case kDidNoConnect:
  case kDidBadTarget: return HostOutcome::NoDevice;
  default: return HostOutcome::HostError;
  }
}

} // namespace

CommandOutcome OutcomeFromSg(const SgResult& result) {
  CommandOutcome outcome;
  if (result.IoctlError != 0) {
    outcome.OsError = static_cast<std::uint32_t>(result.IoctlError);
    return outcome;
  }
  outcome.Reached = true;
  outcome.HostCode = result.HostStatus;
  outcome.DriverCode = result.DriverStatus;
  outcome.Host = HostOutcomeOf(result.HostStatus);
  const std::uint16_t driverError = result.DriverStatus & 0x0F & ~kDriverSense;
  if (outcome.Host == HostOutcome::Ok && driverError != 0)
    outcome.Host = driverError == kDriverTimeout ? HostOutcome::TimedOut : HostOutcome::DriverError;
  outcome.ScsiStatus = result.Status;
  outcome.ShownStatus = result.Status;
  outcome.Sense = ParseSense(result.Sense, result.SenseWritten);
  outcome.Residual = result.Residual > 0 ? static_cast<std::uint32_t>(result.Residual) : 0;
  outcome.ResidualKnown = true;
  outcome.Result = outcome.Succeeded() ? 1 : 0;
  return outcome;
}

} // namespace drive
