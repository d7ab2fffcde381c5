#pragma once
// The drive layer's transports and its process-wide transport state.
//
// One transport serves the whole process: Windows pass-through or ASPI (one Win32 transport that
// chooses between them at set-up), Linux SG_IO, or the emulated drives. Each transport is a thin
// layer that packs one command, makes one call and unpacks status and sense; judging the outcome
// and reporting it is CDDrive's job.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/CommandOutcome.h"

namespace sim {
class SimMachine;
}

namespace drive {

// Codes of TransportState::LastResult.
enum : std::uint8_t {
  kResultOpened = 0x00,
  kResultAspiNotReady = 0x60,   // GetASPI32SupportInfo did not report success
  kResultAspiNoEntry = 0x61,    // an ASPI entry point is missing
  kResultAspiNotLoaded = 0x62,  // WNASPI32.DLL failed to load
  kResultOpenFailed = 0x63,     // the drive failed to open or to answer INQUIRY
};

inline constexpr std::size_t kCdbLength = 12;
inline constexpr std::uint32_t kDefaultBufferLength = 2352;
inline constexpr std::size_t kInquiryBufferLength = 256;
inline constexpr std::uint16_t kDefaultTimeoutSeconds = 60;

enum class TransportKind { PassThrough, Aspi, SgIo, Emulated };

// One command: its CDB, direction and transfer length, as the layers above build it; CDDrive
// adds the data buffer and the time-out before a transport receives it.
struct CommandBlock {
  std::array<std::uint8_t, kCdbLength> Cdb{};
  bool DataIn = false;
  std::uint32_t Length = 0;
  std::uint8_t* Data = nullptr;
  std::uint16_t TimeoutSeconds = kDefaultTimeoutSeconds;

  friend constexpr bool operator==(const CommandBlock&, const CommandBlock&) = default;
};

// Where a drive is. DevicePath is filled by enumeration ("\\.\E:", "/dev/sr0", ...).
struct DriveAddress {
  char Letter = ' ';
  std::uint8_t Adapter = 0;
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;
  std::string DevicePath;
};

// A drive held for a firmware update: while it lives, no other odflash process (and no other
// lock in this one) can take the drive's update lock, and their enumerations leave the drive
// alone. Released when destroyed, and by the system when the process ends.
class UpdateLock {
public:
  virtual ~UpdateLock() = default;
  // What the user should be told before the update starts (other programs that hold the drive
  // open and may still send it commands), one sentence each; every face shows them.
  std::vector<std::string> Warnings;
  // How the drive is held, for traces and logs (an exclusive access the system does not offer).
  std::vector<std::string> Notes;
};

// A transport's connection to one drive (a device handle, a file descriptor, an ASPI request).
class DeviceChannel {
public:
  virtual ~DeviceChannel() = default;
  // Sends one command and says what became of it (success: CommandOutcome::Succeeded).
  virtual CommandOutcome Send(const CommandBlock& command) = 0;
  // Keeps other programs' commands away from the drive for an update, on this connection, where
  // the system offers that; called right after the update lock was taken, whose Warnings and
  // Notes it may add to. Returns what gives the hold back (null when nothing is held); when
  // another program holds the drive, null with refusal set. This default holds nothing.
  virtual std::unique_ptr<UpdateLock> HoldForUpdate(UpdateLock& lock, std::string& refusal);
};

// Why a drive's update lock was refused; the command line and the window print them after the
// drive's name.
inline constexpr const char* kRefusedBeingUpdated = "it is being updated by another odflash process";
inline constexpr const char* kRefusedHeldByProgram = "it is mounted or held by another program";
// Followed by why, in parentheses.
inline constexpr const char* kRefusedNoLock = "its update lock cannot be made";

class Transport {
public:
  virtual ~Transport() = default;
  virtual TransportKind Kind() const = 0;
  // The set-up run while no drive is open; returns kResultOpened or a LastResult failure code
  // (having shown its own message where there is one).
  virtual std::uint8_t SetUp() = 0;
  // Opens the drive at the address; null on failure, after showing the open-failure message,
  // with the system's code in failure.OsError (the caller then reports that outcome).
  virtual std::unique_ptr<DeviceChannel> Open(const DriveAddress& address, CommandOutcome& failure) = 0;
  // The candidates that enumeration probes, in probe order.
  virtual std::vector<DriveAddress> Candidates() = 0;
  // The system's text for a code, with its line break; empty when it does not fit the
  // 80-byte message buffer or is unknown.
  virtual std::optional<std::string> SystemErrorText(std::uint32_t code) = 0;
  // True when the drives behind the transport are emulated (the emulated transport, or the
  // stand-in ASPI library on the ASPI path).
  virtual bool ServesEmulatedDrives() const { return Kind() == TransportKind::Emulated; }
  // Takes the update lock of the drive at the address without sending it anything; null with
  // refusal set (one of the kRefused texts, or why the lock could not be taken) when another
  // holder has it. This default locks within the process only.
  virtual std::unique_ptr<UpdateLock> LockForUpdate(const DriveAddress& address, std::string& refusal);
  // True when some holder has the drive's update lock: enumeration must not probe the drive.
  // Tests the lock without keeping it and sends nothing.
  virtual bool IsLockedForUpdate(const DriveAddress& address);
  // What an update that ended early left changed on the system, one sentence each, with how it
  // is put back; the command line prints them before it enumerates. This default has none.
  virtual std::vector<std::string> LeftToRestore() { return {}; }
};

// The process-wide transport state, shared by every CDDrive.
struct TransportState {
  bool UsePassThrough = false;
  bool ReportErrors = false;
  bool UseInquiryBuffer = false;
  std::uint16_t OpenCount = 0;
  // Linux as root: detach the block driver from a drive while it is updated (--no-detach).
  bool DetachDriver = true;
  std::uint16_t TimeoutSeconds = kDefaultTimeoutSeconds;
  std::uint8_t LastResult = kResultOpenFailed;
  std::uint8_t* IoBuffer = nullptr;
  std::uint32_t IoBufferLength = 0;
  std::array<std::uint8_t, kInquiryBufferLength> InquiryBuffer{};
  std::array<std::uint8_t, kDefaultBufferLength> DefaultBuffer{};
};

TransportState& State();
// The transport of the process: the one installed last, else the platform's own
// (Win32 on Windows, SG_IO elsewhere).
Transport& CurrentTransport();
// Installs a transport for the whole process; nullptr goes back to the platform's own.
// Only while no drive is open.
void UseTransport(std::unique_ptr<Transport> transport);
// Back to the initial transport state and the platform's transport (for tests).
void ResetTransportState();

// Installs the emulated transport serving the machine's drives.
void UseEmulatedDrives(std::shared_ptr<sim::SimMachine> machine);
// Installs the emulated transport for a drive INI file, whose drives' update locks are locks on
// the file (see EmulatedTransport); false with error set when the file is missing or bad (the
// transport is then left unchanged).
bool UseEmulatedDrivesFromFile(const std::string& path, std::string& error);
// The emulated-drive file that a window front-end should use: $ODFLASH_SIM on Linux, empty
// otherwise (on Windows the stand-in WNASPI32.DLL reads the variable itself).
std::string SimFileFromEnvironment();
// True when the process talks to emulated drives rather than hardware (the emulated transport,
// or the stand-in WNASPI32.DLL once the ASPI set-up has loaded it).
bool IsEmulatedTransport();
// The machine behind the emulated transport, null when another transport is in use.
std::shared_ptr<sim::SimMachine> EmulatedMachine();

// The platform transports, for front-ends and tests that want one explicitly.
std::unique_ptr<Transport> MakePlatformTransport();

} // namespace drive
