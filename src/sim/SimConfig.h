#pragma once
// Configuration of the emulated drives: one DriveConfig per [DriveN] section of a drive INI file,
// one Key=Value a line (SimKeys lists the keys), for example:
//
//   [Drive0]
//   Vendor=ODSIM
//   FlashId=C2A70000
//   FailCommand=3B:5:04 08 00, *:9:02 3A 00   ; a comment may follow " ;"
//
// Drive i sits at adapter i / 2, target i % 2 unless Adapter and Target say otherwise. The
// drives of one adapter share its bus: one command at a time, at its BusBytesPerSecond.

#include <cstdint>
#include <optional>
#include <span>
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
  Short,   // GOOD, but a data-in command moves only Bytes of its data
};

// Makes the Nth command (1-based) with the given opcode, or of any opcode, fail.
struct CommandFault {
  std::optional<std::uint8_t> Opcode; // empty: count every command
  unsigned Nth = 1;
  FaultKind Kind = FaultKind::Sense;
  Sense Failure;          // Kind Sense
  std::uint8_t Status = 0; // Kind Status
  std::uint32_t Bytes = 0; // Kind Short
};

// Holds the Nth command (1-based) with the given opcode, or of any opcode, unanswered until a
// file appears, so that a test can act while the drive is at a known command.
struct CommandHold {
  std::optional<std::uint8_t> Opcode; // empty: count every command
  unsigned Nth = 1;
  std::string ReleasePath;
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
  std::string StatePath; // where the drive keeps its flash between processes; empty: nowhere
  std::vector<CommandFault> Faults;
  std::optional<CommandHold> Hold;
  std::optional<std::uint32_t> CorruptReadAt;
  std::optional<Sense> FailCommit;
  bool DescriptorSense = false;
  std::uint8_t DeviceType = 0x05; // CD/DVD device, peripheral qualifier 0
  unsigned InquiryLength = 36;
  unsigned LatencyMicroseconds = 0; // bus time of every command
  std::uint64_t BusBytesPerSecond = 0;
  unsigned CommitMilliseconds = 0;    // the drive's own time to program its flash
  // The drive's position; parsing fills in the defaults.
  std::optional<unsigned> Adapter;
  std::optional<unsigned> Target;
};

// One key of a [DriveN] section.
struct SimKey {
  const char* Name;
  const char* Expected;    // the value's form, as an error states it
  const char* Description;
  bool (*Apply)(const std::string& value, DriveConfig& drive);
};

// Every key, in the order of the key list.
std::span<const SimKey> SimKeys();

using SimConfig = std::vector<DriveConfig>;

// Parses drive INI text. Sections must be [Drive0], [Drive1], ... without gaps; unknown keys,
// bad values, two drives at one position, two bus rates on one adapter and an empty file are
// errors. Returns false and sets error (with the line number)
// on failure.
bool ParseSimConfig(const std::string& text, SimConfig& config, std::string& error);
// The largest drive INI file read.
inline constexpr std::uint64_t kMaxSimFileBytes = 1u << 20;

// Reads and parses a drive INI file. Anything but a regular file of at most kMaxSimFileBytes is
// an error, and so is a missing one.
bool LoadSimConfig(const std::string& path, SimConfig& config, std::string& error);

} // namespace sim
