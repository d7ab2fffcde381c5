#include "drive/CommandOutcome.h"

#include <cstdio>

#include "drive/SenseTexts.h"

namespace drive {

SenseData ParseSense(const std::uint8_t* sense, std::size_t length) {
  SenseData parsed;
  if (sense == nullptr || length == 0) return parsed;
  const std::uint8_t responseCode = sense[0] & 0x7F;
  if (responseCode == 0x72 || responseCode == 0x73) {
    if (length < 4) return parsed;
    parsed.Descriptor = true;
    parsed.Key = parsed.KeyByte = sense[1] & 0x0F;
    parsed.Asc = sense[2];
    parsed.Ascq = sense[3];
    parsed.Usable = true;
    return parsed;
  }
  // Anything else is read where fixed format keeps the fields, so that the drive object shows
  // the bytes the device returned; only a fixed-format response code makes them usable.
  auto byteAt = [&](std::size_t index) -> std::uint8_t { return index < length ? sense[index] : 0; };
  parsed.KeyByte = byteAt(2);
  parsed.Key = parsed.KeyByte & 0x0F;
  parsed.Asc = byteAt(12);
  parsed.Ascq = byteAt(13);
  parsed.Usable = (responseCode == 0x70 || responseCode == 0x71) && length >= 14;
  return parsed;
}

namespace {

const char* StatusName(std::uint8_t status) {
  switch (status) {
  case kStatusGood: return "GOOD";
  case kStatusCheckCondition: return "CHECK CONDITION";
  case kStatusConditionMet: return "CONDITION MET";
  case kStatusBusy: return "BUSY";
  case kStatusReservationConflict: return "RESERVATION CONFLICT";
  case kStatusTaskSetFull: return "TASK SET FULL";
  case kStatusAcaActive: return "ACA ACTIVE";
  case kStatusTaskAborted: return "TASK ABORTED";
  default: return nullptr;
  }
}

const char* HostText(HostOutcome host) {
  switch (host) {
  case HostOutcome::Ok: return "";
  case HostOutcome::TimedOut: return "timed out";
  case HostOutcome::Aborted: return "aborted";
  case HostOutcome::NoDevice: return "no device answered";
  case HostOutcome::HostError: return "host adapter error";
  case HostOutcome::DriverError: return "driver error";
  }
  return "";
}

} // namespace

void JudgeDataIn(CommandOutcome& outcome, std::uint32_t length, std::uint32_t needed, bool fillAtEnd) {
  outcome.Length = length;
  outcome.Needed = needed < length ? needed : length;
  if (outcome.Needed == 0 || !outcome.Reached || outcome.Host != HostOutcome::Ok ||
      outcome.ScsiStatus != kStatusGood)
    return;
  if (outcome.ResidualKnown)
    outcome.DataShort = outcome.Residual > length || length - outcome.Residual < outcome.Needed;
  else
    outcome.DataShort = fillAtEnd;
  if (outcome.DataShort) outcome.Result = 0;
}

std::string CommandOutcome::SenseText() const {
  char text[40];
  std::snprintf(text, sizeof text, "%02X %02X %02X. %02X, %04X", Sense.KeyByte, Sense.Asc, Sense.Ascq, ShownStatus,
                static_cast<unsigned>(OsError));
  return text;
}

std::string DescribeOutcome(const CommandOutcome& outcome) {
  char text[96];
  if (!outcome.Reached) {
    std::snprintf(text, sizeof text, "not sent: system error %lu", static_cast<unsigned long>(outcome.OsError));
    return text;
  }
  if (outcome.Host != HostOutcome::Ok) {
    std::snprintf(text, sizeof text, "%s (host code %02X, driver code %02X)", HostText(outcome.Host),
                  static_cast<unsigned>(outcome.HostCode), static_cast<unsigned>(outcome.DriverCode));
    return text;
  }
  const char* name = StatusName(outcome.ScsiStatus);
  std::string description = name != nullptr ? name : "";
  if (name == nullptr) {
    std::snprintf(text, sizeof text, "SCSI status %02X", static_cast<unsigned>(outcome.ScsiStatus));
    description = text;
  }
  if (outcome.DataShort) {
    if (!outcome.ResidualKnown) return description + ", but the data did not arrive (no residual reported)";
    const std::uint32_t returned = outcome.Residual < outcome.Length ? outcome.Length - outcome.Residual : 0;
    if (outcome.Needed < outcome.Length)
      std::snprintf(text, sizeof text, ", but the drive returned %lu of %lu bytes (%lu needed)",
                    static_cast<unsigned long>(returned), static_cast<unsigned long>(outcome.Length),
                    static_cast<unsigned long>(outcome.Needed));
    else
      std::snprintf(text, sizeof text, ", but the drive returned %lu of %lu bytes",
                    static_cast<unsigned long>(returned), static_cast<unsigned long>(outcome.Length));
    return description + text;
  }
  if (outcome.ScsiStatus == kStatusCheckCondition) {
    if (!outcome.Sense.Usable) return description + " without sense data";
    std::snprintf(text, sizeof text, ", sense %02X/%02X/%02X ", static_cast<unsigned>(outcome.Sense.Key),
                  static_cast<unsigned>(outcome.Sense.Asc), static_cast<unsigned>(outcome.Sense.Ascq));
    description += text + DescribeSense(outcome.Sense.Key, outcome.Sense.Asc, outcome.Sense.Ascq);
  }
  return description;
}

} // namespace drive
