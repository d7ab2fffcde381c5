#pragma once
// What became of one command, decided once by the drive layer: whether it reached the device,
// what the host adapter or its driver said, the SCSI status, the sense data parsed from either
// format, and the residual. Success is GOOD status from a device the command reached, and
// nothing else: CHECK CONDITION (with or without usable sense), BUSY, RESERVATION CONFLICT,
// TASK SET FULL, a host or driver error, a time-out and an aborted request are all failures.
// A data-in command succeeds only when the bytes its caller needs arrived.

#include <cstddef>
#include <cstdint>
#include <string>

namespace drive {

// SCSI status byte values.
enum : std::uint8_t {
  kStatusGood = 0x00,
  kStatusCheckCondition = 0x02,
  kStatusConditionMet = 0x04,
  kStatusBusy = 0x08,
  kStatusReservationConflict = 0x18,
  kStatusTaskSetFull = 0x28,
  kStatusAcaActive = 0x30,
  kStatusTaskAborted = 0x40,
};

// What the path between host and device made of the command.
enum class HostOutcome : std::uint8_t {
  Ok,
  TimedOut,    // no answer within the command's time-out
  Aborted,     // the request was aborted or the bus reset under it
  NoDevice,    // nothing answered at the address
  HostError,   // the host adapter reported another error
  DriverError, // the host's driver reported an error
};

// Sense data in fixed (70h/71h) or descriptor (72h/73h) format.
struct SenseData {
  bool Usable = false;      // a known response code with the key, ASC and ASCQ present
  bool Descriptor = false;  // descriptor format
  std::uint8_t KeyByte = 0; // fixed format: byte 2 as sent (flags included); descriptor: the key
  std::uint8_t Key = 0;     // the sense key alone
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
};

// Parses length bytes of sense data. Not Usable when the response code is unknown or the bytes
// end before the ASC and ASCQ; the fields then hold bytes 2, 12 and 13 (0 past the end).
SenseData ParseSense(const std::uint8_t* sense, std::size_t length);

struct CommandOutcome {
  bool Reached = false;         // the system call worked and the request went to the device
  // The system's code (errno, GetLastError) for a command that failed: why it did not reach
  // the device, the platform's I/O error for a host failure; 0 when the system gave none.
  std::uint32_t OsError = 0;
  HostOutcome Host = HostOutcome::Ok;
  std::uint16_t HostCode = 0;   // the raw host/adapter code (SG_IO host_status, ASPI SRB_HaStat)
  std::uint16_t DriverCode = 0; // the raw driver code (SG_IO driver_status)
  std::uint8_t ScsiStatus = 0;
  SenseData Sense;
  std::uint32_t Residual = 0;   // bytes of the transfer that did not move
  bool ResidualKnown = false;   // the transport reported the residual (an ASPI layer may not)
  std::uint32_t Length = 0;     // the transfer length asked for
  std::uint32_t Needed = 0;     // data in: the bytes of it the caller reads
  // Data in: the needed bytes did not all arrive, by the residual or, where the transport
  // reports none, by the fill the buffer held before the command.
  bool DataShort = false;
  // The status as CDDrive::Status and the sense texts show it: ASPI's SRB_Status on the ASPI
  // path, the SCSI status elsewhere.
  std::uint8_t ShownStatus = 0;
  int Result = 0;               // what Execute returns on success (ASPI: the transfer length)

  bool Succeeded() const {
    return Reached && Host == HostOutcome::Ok && ScsiStatus == kStatusGood && !DataShort;
  }
  // True when the command left exactly this sense key byte (flags included), ASC and ASCQ.
  bool SenseMatches(std::uint8_t keyByte, std::uint8_t asc, std::uint8_t ascq) const {
    return Sense.KeyByte == keyByte && Sense.Asc == asc && Sense.Ascq == ascq;
  }
  // "%02X %02X %02X. %02X, %04X" of the sense key byte, ASC, ASCQ, shown status and OsError.
  std::string SenseText() const;
};

// Decides whether the needed bytes of a data-in command arrived and records it in the outcome.
// fillAtEnd: the last needed byte still holds the fill put there before the command (which a
// transfer that moved those bytes cannot leave); it decides only where the residual is unknown.
void JudgeDataIn(CommandOutcome& outcome, std::uint32_t length, std::uint32_t needed, bool fillAtEnd);

// One line for logs and the command line, e.g. "GOOD", "CHECK CONDITION, sense 05/24/00
// ILLEGAL REQUEST: INVALID FIELD IN CDB",
// "CHECK CONDITION without sense data", "BUSY", "timed out", "not sent: system error 5",
// "GOOD, but the drive returned 0 of 16384 bytes".
std::string DescribeOutcome(const CommandOutcome& outcome);

} // namespace drive
