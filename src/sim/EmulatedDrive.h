#pragma once
// The emulated drive: a software model of an optical drive that speaks the standard commands the
// utility uses and the vendor firmware-update command set, with fault injection and a command log.
// It is a plain object with no OS calls beyond the log file, the state file and the modelled
// latency, so it serves both the in-process emulated transport and the stand-in ASPI library.

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimConfig.h"

namespace sim {

// Drive memory: the image from offset 0 (up to 512 KiB), then the profile area at 0x80000.
inline constexpr std::uint32_t kImageAreaSize = 0x80000;
inline constexpr std::uint32_t kProfileOffset = 0x80000;
inline constexpr std::uint32_t kDriveMemorySize = 0x90000;
inline constexpr std::size_t kEepromSize = 0x10000;
inline constexpr std::size_t kSenseLength = 18;
inline constexpr std::size_t kInquiryLength = 36;
inline constexpr std::size_t kInquiryDataSize = 96; // INQUIRY data the model can return

// The outcome of one command, as a drive and its transport report it.
struct CommandResult {
  bool Delivered = true;     // false: the transport failed, there is no status and no sense
  bool TimedOut = false;     // the drive never answered: no status, no sense
  std::uint8_t Status = 0;   // SCSI status: 0 GOOD, 2 CHECK CONDITION, 08 BUSY, ...
  std::array<std::uint8_t, kSenseLength> SenseData{}; // fixed-format sense
  std::uint8_t SenseLength = 0; // bytes of SenseData returned (0: none)
  std::uint32_t Transferred = 0;
};

// Who may use an adapter's bus: one command of one of its drives at a time. SimMachine's own
// arbiter serves the threads of one process; processes emulating the same drive file share one
// through locks in that file.
class BusArbiter {
public:
  virtual ~BusArbiter() = default;
  virtual void Acquire(unsigned adapter) = 0;
  virtual void Release(unsigned adapter) = 0;
};

class EmulatedDrive {
public:
  // bus: the arbiter of the drive's adapter, null for a drive alone on its bus. A log that
  // cannot be opened, or a state file that cannot be read, is reported by SetupError. A drive
  // with a state file starts from the flash and revision kept there by an earlier process.
  explicit EmulatedDrive(DriveConfig config, BusArbiter* bus = nullptr);
  ~EmulatedDrive();
  EmulatedDrive(const EmulatedDrive&) = delete;
  EmulatedDrive& operator=(const EmulatedDrive&) = delete;

  // Runs one command. dataIn: data flows to the host; data points to length bytes (may be null
  // when length is 0). Thread-safe: the stand-in ASPI library runs commands on a worker thread.
  CommandResult Execute(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                        std::uint32_t length);

  const DriveConfig& Config() const { return config_; }
  // Empty unless the configured log file could not be opened or the state file not read.
  const std::string& SetupError() const { return setupError_; }
  // Puts the drive on another arbiter's bus; before any command is sent.
  void SetBus(BusArbiter* bus) { bus_ = bus; }
  // Every command received, one line each: the 12 CDB bytes in hex, "in"/"out", the length.
  std::vector<std::string> Log() const;
  // Drive memory (kDriveMemorySize bytes) and the committed flash contents.
  std::vector<std::uint8_t> Memory() const;
  std::vector<std::uint8_t> Flash() const;
  std::vector<std::uint8_t> Eeprom() const;
  // The revision INQUIRY reports now (the configured one until an image is committed).
  std::string Revision() const;
  unsigned CommitCount() const;
  bool InCriticalPhase() const;
  // Total modelled latency and bus time so far, in microseconds (the commits' time not included).
  std::uint64_t ModelledMicroseconds() const;

  // The log line for one command.
  static std::string LogLine(const std::uint8_t (&cdb)[12], bool dataIn, std::uint32_t length);

private:
  CommandResult Run(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                    std::uint32_t length);
  CommandResult MediumCommand();
  CommandResult WriteBuffer(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                            std::uint32_t length);
  CommandResult ReadBuffer(const std::uint8_t (&cdb)[12], std::uint8_t* data, std::uint32_t length);
  CommandResult Vendor(const std::uint8_t (&cdb)[12], std::uint8_t* data, std::uint32_t length);
  CommandResult Inquiry(std::uint8_t* data, std::uint32_t length);
  const CommandFault* DueFault(std::uint8_t opcode);
  // A data-in command answered GOOD that moves only its first bytes (a data-out one runs whole).
  CommandResult RunShort(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                         std::uint32_t length, std::uint32_t bytes);
  void WaitIfHeld(std::uint8_t opcode);
  void ModelTime(std::uint32_t length);
  void LoadState();
  bool SaveState(const std::vector<std::uint8_t>& flash, const std::string& revision);

  DriveConfig config_;
  BusArbiter* bus_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::FILE* logFile_ = nullptr;
  std::string setupError_;
  std::vector<std::uint8_t> memory_;
  std::vector<std::uint8_t> flash_;
  std::vector<std::uint8_t> eeprom_;
  std::uint32_t imageExtent_ = 0; // end of the highest image chunk written
  std::string revision_;
  unsigned commits_ = 0;
  bool critical_ = false;
  unsigned becomingReadyLeft_ = 0;  // TEST UNIT READY polls still answered "becoming ready"
  bool becomingReady_ = false;      // the last poll reported "becoming ready"
  unsigned commandCount_ = 0;
  std::map<std::uint8_t, unsigned> opcodeCounts_;
  std::uint64_t modelledMicroseconds_ = 0;
};

// A set of emulated drives, in configuration order.
class SimMachine {
public:
  explicit SimMachine(const SimConfig& config);
  ~SimMachine();
  // The machine, or null and the reason in error when a drive's log cannot be opened.
  static std::shared_ptr<SimMachine> Create(const SimConfig& config, std::string& error);
  // The tests' shorthand: builds from INI text or a file, and throws std::runtime_error with
  // the error that Create or the configuration reader gives.
  static std::shared_ptr<SimMachine> FromIni(const std::string& text);
  static std::shared_ptr<SimMachine> FromFile(const std::string& path);

  std::size_t Count() const { return drives_.size(); }
  EmulatedDrive& Drive(std::size_t index) { return *drives_.at(index); }
  // The drive's position (the defaults of SimConfig unless its configuration names one).
  unsigned AdapterOf(std::size_t index) const;
  unsigned TargetOf(std::size_t index) const;
  // The index of the drive at a position; Count() when there is none.
  std::size_t IndexAt(unsigned adapter, unsigned target) const;
  // One more than the highest adapter number, 0 without drives.
  unsigned AdapterCount() const;

  // Replaces the in-process arbiter of the adapters' buses (before any command is sent).
  void ShareBuses(std::unique_ptr<BusArbiter> arbiter);

private:
  class ProcessBuses;
  std::unique_ptr<BusArbiter> buses_;
  std::vector<std::unique_ptr<EmulatedDrive>> drives_;
};

// Fixed-format sense data for a key, ASC and ASCQ.
std::array<std::uint8_t, kSenseLength> MakeSense(const Sense& sense);
// Descriptor-format sense data (kDescriptorSenseLength bytes) for a key, ASC and ASCQ.
inline constexpr std::uint8_t kDescriptorSenseLength = 8;
std::array<std::uint8_t, kSenseLength> MakeDescriptorSense(const Sense& sense);

} // namespace sim
