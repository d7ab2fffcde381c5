#pragma once
// Configuration of the emulated drives: one DriveConfig per [DriveN] section of a drive INI file.
//
//   [Drive0]
//   Vendor=ODSIM             ; INQUIRY vendor identification (8 characters, space-padded)
//   Product=CDRW 4X          ; product identification (16 characters)
//   Revision=1.00            ; product revision level (4 characters)
//   FlashId=C2A70000         ; the 4 flash chip ID bytes, 8 hex digits
//   BecomingReadyPolls=3     ; TEST UNIT READY polls answered 02/04/01 after a load
//   NeverReady=0             ; 1: stays becoming ready for ever
//   Medium=1                 ; 1: a disc is in the drive
//   Letter=E                 ; drive letter shown in the identity text (default: a space)
//   Log=/tmp/drive0.log      ; command log, appended one line per command
//   FailCommand=3B:5:04 08 00, *:9:02 3A 00   ; opcode (or *) : Nth such command : sense bytes
//   DropCommand=3C:2         ; opcode (or *) : Nth such command fails in the transport, no sense
//   StatusCommand=3B:7:08    ; opcode (or *) : Nth such command ends with this SCSI status and
//                            ; no sense data (02 CHECK CONDITION, 08 BUSY, 18 RESERVATION
//                            ; CONFLICT, 28 TASK SET FULL)
//   TimeoutCommand=3B:7      ; opcode (or *) : Nth such command is never answered (time-out)
//   SenseFormat=fixed        ; sense data format: fixed (70h) or descriptor (72h)
//   DeviceType=05            ; INQUIRY byte 0: peripheral qualifier and device type (hex)
//   InquiryLength=36         ; bytes of INQUIRY data the device returns at most
//   CorruptReadAt=0x4000     ; READ BUFFER returns this drive-memory byte inverted
//   FailCommit=03 0C 00      ; the commit answers with these sense bytes
//   LatencyMicroseconds=0    ; modelled time per command
//   BusBytesPerSecond=0      ; modelled bus rate (0: infinitely fast)

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Sense {
  std::uint8_t Key = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
  bool operator==(const Sense&) const = default;
};

enum class FaultKind {
  Sense,   // CHECK CONDITION with the given sense data
  Drop,    // the transport fails: no status, no sense
  Status,  // the given SCSI status, no sense data
  Timeout, // no answer within the command's time-out
};

// Makes the Nth command (1-based) with the given opcode, or of any opcode, fail.
struct CommandFault {
  std::optional<std::uint8_t> Opcode; // empty: count every command
  unsigned Nth = 1;
  FaultKind Kind = FaultKind::Sense;
  Sense Failure;          // Kind Sense
  std::uint8_t Status = 0; // Kind Status
};

struct DriveConfig {
  std::string Vendor = "ODSIM";
  std::string Product = "CD-RW EMULATED";
  std::string Revision = "1.00";
  std::uint8_t FlashId[4] = {0, 0, 0, 0};
  unsigned BecomingReadyPolls = 0;
  bool NeverReady = false;
  bool Medium = false;
  char Letter = ' ';
  std::string LogPath;
  std::vector<CommandFault> Faults;
  std::optional<std::uint32_t> CorruptReadAt;
  std::optional<Sense> FailCommit;
  bool DescriptorSense = false;
  std::uint8_t DeviceType = 0x05; // CD/DVD device, peripheral qualifier 0
  unsigned InquiryLength = 36;
  unsigned LatencyMicroseconds = 0;
  std::uint64_t BusBytesPerSecond = 0;
};

using SimConfig = std::vector<DriveConfig>;

// Parses drive INI text. Sections must be [Drive0], [Drive1], ... without gaps; unknown keys,
// bad values and an empty file are errors. Returns false and sets error (with the line number)
// on failure.
bool ParseSimConfig(const std::string& text, SimConfig& config, std::string& error);
// Reads and parses a drive INI file; a missing file is an error.
bool LoadSimConfig(const std::string& path, SimConfig& config, std::string& error);

} // namespace sim
