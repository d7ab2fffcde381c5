#include "sim/EmulatedDrive.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "sim/ImageRevision.h"
#include "sys/Files.h"

namespace sim {
namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kReadBuffer = 0x3C;
constexpr std::uint8_t kPlayAudio10 = 0x45;
constexpr std::uint8_t kStopPlayScan = 0x4E;
constexpr std::uint8_t kVendor = 0xDF;

constexpr std::uint8_t kStatusCheckCondition = 0x02;

constexpr Sense kNoMedium{0x02, 0x3A, 0x00};
constexpr Sense kBecomingReady{0x02, 0x04, 0x01};
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense kInvalidField{0x05, 0x24, 0x00};
constexpr Sense kSequenceError{0x05, 0x2C, 0x00};
constexpr Sense kInternalTargetFailure{0x04, 0x44, 0x00};

// A state file: this line, the revision INQUIRY reports and a newline, then the flash contents.
constexpr char kStateHeader[] = "odflash emulated drive state 1\n";
constexpr std::size_t kStateHeaderLength = sizeof kStateHeader - 1;

CommandResult Good(std::uint32_t transferred = 0) {
  CommandResult result;
  result.Transferred = transferred;
  return result;
}

CommandResult Fail(const Sense& sense) {
  CommandResult result;
  result.Status = kStatusCheckCondition;
  result.SenseData = MakeSense(sense);
  result.SenseLength = kSenseLength;
  return result;
}

std::uint32_t Be24(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2];
}

// Pads or cuts to a fixed-width INQUIRY field.
void PutField(std::uint8_t* out, const std::string& text, std::size_t width) {
  std::memset(out, ' ', width);
  std::memcpy(out, text.data(), std::min(width, text.size()));
}

} // namespace

std::array<std::uint8_t, kSenseLength> MakeSense(const Sense& sense) {
  std::array<std::uint8_t, kSenseLength> data{};
  data[0] = 0x70;
  data[2] = sense.Key;
  data[7] = kSenseLength - 8;
  data[12] = sense.Asc;
  data[13] = sense.Ascq;
  return data;
}

std::array<std::uint8_t, kSenseLength> MakeDescriptorSense(const Sense& sense) {
  std::array<std::uint8_t, kSenseLength> data{};
  data[0] = 0x72;
  data[1] = sense.Key & 0x0F;
  data[2] = sense.Asc;
  data[3] = sense.Ascq;
  return data; // additional length 0: no descriptors
}

EmulatedDrive::EmulatedDrive(DriveConfig config, BusArbiter* bus)
    : config_(std::move(config)),
      bus_(bus),
      memory_(kDriveMemorySize, 0),
      eeprom_(kEepromSize, 0xFF),
      revision_(config_.Revision) {
  if (!config_.LogPath.empty()) {
    logFile_ = std::fopen(config_.LogPath.c_str(), "ab"); // the same bytes on every platform
    if (logFile_ == nullptr) setupError_ = "cannot open emulated drive log " + config_.LogPath;
  }
  if (!config_.StatePath.empty() && setupError_.empty()) LoadState();
}

// No state file yet is a drive still on its configured revision; anything else that cannot be
// read is an error rather than a silent start from the configuration.
void EmulatedDrive::LoadState() {
  const std::string& path = config_.StatePath;
  if (sys::KindOfPath(path) == sys::PathKind::Missing) return;
  std::string text;
  if (!sys::ReadRegularFile(path, kStateHeaderLength + kImageRevisionLength + 1 + kImageAreaSize, text,
                            setupError_))
    return;
  const std::size_t end = text.find('\n', kStateHeaderLength);
  if (text.compare(0, kStateHeaderLength, kStateHeader) != 0 || end == std::string::npos ||
      end - kStateHeaderLength > kImageRevisionLength) {
    setupError_ = "emulated drive state file " + path + " is not one this drive wrote";
    return;
  }
  revision_ = text.substr(kStateHeaderLength, end - kStateHeaderLength);
  flash_.assign(text.begin() + static_cast<std::ptrdiff_t>(end + 1), text.end());
}

// Replaces the state file in one step, so that a process reading it sees the old flash or the
// new one, never a mixture.
bool EmulatedDrive::SaveState(const std::vector<std::uint8_t>& flash, const std::string& revision) {
  const std::string line = revision + "\n";
  std::string error;
  std::optional<sys::PendingFile> file = sys::PendingFile::Create(config_.StatePath, false, error);
  return file && file->Write(kStateHeader, kStateHeaderLength, error) && file->Write(line.data(), line.size(), error) &&
         file->Write(flash.data(), flash.size(), error) && file->Keep(error);
}

EmulatedDrive::~EmulatedDrive() {
  if (logFile_ != nullptr) std::fclose(logFile_);
}

std::string EmulatedDrive::LogLine(const std::uint8_t (&cdb)[12], bool dataIn, std::uint32_t length) {
  char line[64];
  int used = 0;
  for (std::uint8_t byte : cdb) used += std::snprintf(line + used, sizeof line - used, "%02X ", byte);
  std::snprintf(line + used, sizeof line - used, "%s %lu", dataIn ? "in" : "out",
                static_cast<unsigned long>(length));
  return line;
}

CommandResult EmulatedDrive::Execute(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                                     std::uint32_t length) {
  std::lock_guard lock(mutex_);
  std::string line = LogLine(cdb, dataIn, length);
  if (logFile_ != nullptr) {
    std::fprintf(logFile_, "%s\n", line.c_str());
    std::fflush(logFile_);
  }
  log_.push_back(std::move(line));
  ModelTime(length);

  ++commandCount_;
  ++opcodeCounts_[cdb[0]];
  WaitIfHeld(cdb[0]);
  CommandResult result;
  if (const CommandFault* fault = DueFault(cdb[0])) {
    switch (fault->Kind) {
    case FaultKind::Sense: result = Fail(fault->Failure); break;
    case FaultKind::Drop: result.Delivered = false; break;
    case FaultKind::Status: result.Status = fault->Status; break;
    case FaultKind::Timeout: result.TimedOut = true; break;
    case FaultKind::Short: result = RunShort(cdb, dataIn, data, length, fault->Bytes); break;
    }
  } else {
    result = Run(cdb, dataIn, data, length);
  }
  if (config_.DescriptorSense && result.SenseLength != 0) {
    const Sense sense{result.SenseData[2], result.SenseData[12], result.SenseData[13]};
    result.SenseData = MakeDescriptorSense(sense);
    result.SenseLength = kDescriptorSenseLength;
  }
  return result;
}

CommandResult EmulatedDrive::RunShort(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                                      std::uint32_t length, std::uint32_t bytes) {
  if (!dataIn) return Run(cdb, dataIn, data, length);
  // The whole answer is made aside; only its first bytes reach the host's buffer.
  std::vector<std::uint8_t> answer(length);
  CommandResult result = Run(cdb, dataIn, answer.data(), length);
  result.Transferred = std::min(result.Transferred, bytes);
  if (data != nullptr) std::copy_n(answer.begin(), result.Transferred, data);
  return result;
}

const CommandFault* EmulatedDrive::DueFault(std::uint8_t opcode) {
  for (const CommandFault& fault : config_.Faults) {
    if (!fault.Opcode) {
      if (fault.Nth == commandCount_) return &fault;
    } else if (*fault.Opcode == opcode && fault.Nth == opcodeCounts_[opcode]) {
      return &fault;
    }
  }
  return nullptr;
}

void EmulatedDrive::WaitIfHeld(std::uint8_t opcode) {
  const std::optional<CommandHold>& hold = config_.Hold;
  if (!hold) return;
  const unsigned count = hold->Opcode ? opcodeCounts_[*hold->Opcode] : commandCount_;
  if ((hold->Opcode && *hold->Opcode != opcode) || count != hold->Nth) return;
  // The command is in the log already: whoever waits for it there may now act, then release it.
  for (;;) {
    if (std::FILE* released = std::fopen(hold->ReleasePath.c_str(), "rb")) {
      std::fclose(released);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void EmulatedDrive::ModelTime(std::uint32_t length) {
  std::uint64_t micros = config_.LatencyMicroseconds;
  if (config_.BusBytesPerSecond != 0)
    micros += std::uint64_t{length} * 1000000u / config_.BusBytesPerSecond;
  if (micros == 0) return;
  modelledMicroseconds_ += micros;
  // The other drives of the adapter wait while this command holds the bus.
  if (bus_ != nullptr) bus_->Acquire(*config_.Adapter);
  // A drive holds the bus for exactly the modelled time. A plain sleep wakes late by the
  // scheduler's latency, tens of microseconds a command that would be charged to the host, so
  // the model sleeps to just short of the deadline and spins the rest.
  using Clock = std::chrono::steady_clock;
  constexpr auto kSpinMargin = std::chrono::microseconds(200);
  const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(micros);
  if (std::chrono::microseconds(micros) > kSpinMargin) std::this_thread::sleep_until(deadline - kSpinMargin);
  while (Clock::now() < deadline) {
  }
  if (bus_ != nullptr) bus_->Release(*config_.Adapter);
}

CommandResult EmulatedDrive::Run(const std::uint8_t (&cdb)[12], bool dataIn, std::uint8_t* data,
                                 std::uint32_t length) {
  switch (cdb[0]) {
  case kInquiry:
    return Inquiry(data, dataIn ? std::min<std::uint32_t>(length, cdb[4]) : 0);
  case kTestUnitReady: {
    // Each poll after a load uses up one "becoming ready" answer.
    becomingReady_ = config_.NeverReady || becomingReadyLeft_ > 0;
    if (becomingReadyLeft_ > 0) --becomingReadyLeft_;
    return MediumCommand();
  }
  case kStartStopUnit:
    if ((cdb[4] & 0x01) != 0) {
      becomingReadyLeft_ = config_.BecomingReadyPolls;
      becomingReady_ = config_.NeverReady || becomingReadyLeft_ > 0;
    }
    return Good();
  case kStopPlayScan:
  case kPlayAudio10:
    return MediumCommand();
  case kWriteBuffer:
    return WriteBuffer(cdb, dataIn, data, length);
  case kReadBuffer:
    return ReadBuffer(cdb, data, dataIn ? length : 0);
  case kVendor:
    return Vendor(cdb, data, dataIn ? length : 0);
  default:
    return Fail(kInvalidOpcode);
  }
}

CommandResult EmulatedDrive::MediumCommand() {
  if (becomingReady_) return Fail(kBecomingReady);
  if (!config_.Medium) return Fail(kNoMedium);
  return Good();
}

CommandResult EmulatedDrive::Inquiry(std::uint8_t* data, std::uint32_t length) {
  std::uint8_t inquiry[kInquiryDataSize] = {};
  inquiry[0] = config_.DeviceType;      // 05h: CD/DVD device
  inquiry[1] = 0x80;                    // removable medium
  inquiry[3] = 0x21;                    // response data format 1, ATAPI
  inquiry[4] = kInquiryLength - 5;      // additional length
  PutField(inquiry + 8, config_.Vendor, 8);
  PutField(inquiry + 16, config_.Product, 16);
  PutField(inquiry + 32, revision_, 4);
  const std::uint32_t copied =
      std::min<std::uint32_t>({length, config_.InquiryLength, static_cast<std::uint32_t>(kInquiryDataSize)});
  if (copied != 0) std::memcpy(data, inquiry, copied);
  return Good(copied);
}

CommandResult EmulatedDrive::WriteBuffer(const std::uint8_t (&cdb)[12], bool dataIn,
                                         std::uint8_t* data, std::uint32_t length) {
  if ((cdb[1] & 0x1F) != 0x05 || cdb[2] != 0x01) return Fail(kInvalidField);
  const std::uint32_t offset = Be24(cdb + 3);
  const std::uint32_t count = Be24(cdb + 6);
  switch (cdb[9]) {
  case 0x00:
  case 0x7F: {
    if (cdb[9] == 0x7F && count == 0) { // no data: enter the critical (flash) phase
      critical_ = true;
      return Good();
    }
    if (dataIn || length < count || offset > kDriveMemorySize || count > kDriveMemorySize - offset)
      return Fail(kInvalidField);
    if (count != 0) std::memcpy(memory_.data() + offset, data, count);
    if (cdb[9] == 0x00 && offset < kImageAreaSize)
      imageExtent_ = std::max(imageExtent_, std::min(offset + count, kImageAreaSize));
    return Good(count);
  }
  case 0x80:
  case 0xA0: {
    if (config_.FailCommit) return Fail(*config_.FailCommit);
    if (imageExtent_ == 0) return Fail(kSequenceError);
    std::vector<std::uint8_t> flash(memory_.begin(), memory_.begin() + imageExtent_);
    std::string revision = revision_;
    if (flash.size() >= kImageRevisionOffset + kImageRevisionLength)
      revision.assign(reinterpret_cast<const char*>(flash.data() + kImageRevisionOffset), kImageRevisionLength);
    // A drive whose flash cannot be kept reports the commit as failed, as a chip that cannot
    // be programmed would.
    if (!config_.StatePath.empty() && !SaveState(flash, revision)) return Fail(kInternalTargetFailure);
    flash_ = std::move(flash);
    revision_ = std::move(revision);
    ++commits_;
    critical_ = false;
    // Programming the chip is the drive's own work: the bus is free meanwhile.
    if (config_.CommitMilliseconds != 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(config_.CommitMilliseconds));
    if (dataIn && length != 0) std::memset(data, 0, length);
    return Good(dataIn ? length : 0);
  }
  default:
    return Fail(kInvalidField);
  }
}

CommandResult EmulatedDrive::ReadBuffer(const std::uint8_t (&cdb)[12], std::uint8_t* data,
                                        std::uint32_t length) {
  if (cdb[1] != 0x01 || cdb[2] != 0x01) return Fail(kInvalidField);
  const std::uint32_t offset = Be24(cdb + 3);
  const std::uint32_t count = Be24(cdb + 6);
  if (length < count || offset > kDriveMemorySize || count > kDriveMemorySize - offset)
    return Fail(kInvalidField);
  if (count != 0) std::memcpy(data, memory_.data() + offset, count);
  if (config_.CorruptReadAt && *config_.CorruptReadAt >= offset &&
      *config_.CorruptReadAt - offset < count)
    data[*config_.CorruptReadAt - offset] ^= 0xFF;
  return Good(count);
}

CommandResult EmulatedDrive::Vendor(const std::uint8_t (&cdb)[12], std::uint8_t* data,
                                    std::uint32_t length) {
  switch (cdb[1]) {
  case 0x0A: // one EEPROM byte: address in bytes 7-8, value in byte 9
    eeprom_[(std::size_t{cdb[7]} << 8) | cdb[8]] = cdb[9];
    return Good();
  case 0x11: { // flash chip ID: 4 bytes, the rest of the 128 zero
    const std::uint32_t copied = std::min<std::uint32_t>(length, 128);
    if (copied != 0) std::memset(data, 0, copied);
    if (copied != 0) std::memcpy(data, config_.FlashId, std::min<std::uint32_t>(copied, 4));
    return Good(copied);
  }
  default:
    return Fail(kInvalidField);
  }
}

std::vector<std::string> EmulatedDrive::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<std::uint8_t> EmulatedDrive::Memory() const {
  std::lock_guard lock(mutex_);
  return memory_;
}

std::vector<std::uint8_t> EmulatedDrive::Flash() const {
  std::lock_guard lock(mutex_);
  return flash_;
}

std::vector<std::uint8_t> EmulatedDrive::Eeprom() const {
  std::lock_guard lock(mutex_);
  return eeprom_;
}

std::string EmulatedDrive::Revision() const {
  std::lock_guard lock(mutex_);
  return revision_;
}

unsigned EmulatedDrive::CommitCount() const {
  std::lock_guard lock(mutex_);
  return commits_;
}

bool EmulatedDrive::InCriticalPhase() const {
  std::lock_guard lock(mutex_);
  return critical_;
}

std::uint64_t EmulatedDrive::ModelledMicroseconds() const {
  std::lock_guard lock(mutex_);
  return modelledMicroseconds_;
}

// One mutex per adapter: the threads of this process take turns on each bus.
class SimMachine::ProcessBuses final : public BusArbiter {
public:
  void Acquire(unsigned adapter) override { Bus(adapter).lock(); }
  void Release(unsigned adapter) override { Bus(adapter).unlock(); }

private:
  std::mutex& Bus(unsigned adapter) {
    std::lock_guard lock(mutex_);
    auto& bus = buses_[adapter];
    if (!bus) bus = std::make_unique<std::mutex>();
    return *bus;
  }
  std::mutex mutex_;
  std::map<unsigned, std::unique_ptr<std::mutex>> buses_;
};

SimMachine::SimMachine(const SimConfig& config)
    : buses_(std::make_unique<ProcessBuses>()) {
  for (std::size_t i = 0; i < config.size(); ++i) {
    DriveConfig drive = config[i];
    drive.Adapter = drive.Adapter.value_or(static_cast<unsigned>(i / 2));
    drive.Target = drive.Target.value_or(static_cast<unsigned>(i % 2));
    drives_.push_back(std::make_unique<EmulatedDrive>(std::move(drive), buses_.get()));
  }
}

SimMachine::~SimMachine() = default;

unsigned SimMachine::AdapterOf(std::size_t index) const { return *drives_.at(index)->Config().Adapter; }

unsigned SimMachine::TargetOf(std::size_t index) const { return *drives_.at(index)->Config().Target; }

std::size_t SimMachine::IndexAt(unsigned adapter, unsigned target) const {
  for (std::size_t i = 0; i < drives_.size(); ++i)
    if (AdapterOf(i) == adapter && TargetOf(i) == target) return i;
  return drives_.size();
}

unsigned SimMachine::AdapterCount() const {
  unsigned count = 0;
  for (std::size_t i = 0; i < drives_.size(); ++i) count = std::max(count, AdapterOf(i) + 1);
  return count;
}

void SimMachine::ShareBuses(std::unique_ptr<BusArbiter> arbiter) {
  for (auto& drive : drives_) drive->SetBus(arbiter.get());
  buses_ = std::move(arbiter);
}

std::shared_ptr<SimMachine> SimMachine::Create(const SimConfig& config, std::string& error) {
  auto machine = std::make_shared<SimMachine>(config);
  for (const auto& drive : machine->drives_) {
    if (!drive->SetupError().empty()) {
      error = drive->SetupError();
      return nullptr;
    }
  }
  return machine;
}

std::shared_ptr<SimMachine> SimMachine::FromIni(const std::string& text) {
  SimConfig config;
  std::string error;
  std::shared_ptr<SimMachine> machine;
  if (ParseSimConfig(text, config, error)) machine = Create(config, error);
  if (!machine) throw std::runtime_error(error);
  return machine;
}

std::shared_ptr<SimMachine> SimMachine::FromFile(const std::string& path) {
  SimConfig config;
  std::string error;
  std::shared_ptr<SimMachine> machine;
  if (LoadSimConfig(path, config, error)) machine = Create(config, error);
  if (!machine) throw std::runtime_error(error);
  return machine;
}

} // namespace sim
