#include "drive/Cddrive.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "drive/CommandObserver.h"
#include "sys/Messages.h"
#include "sys/Text.h"

namespace drive {
namespace {

constexpr std::size_t kIdentityFieldWidth = 28;
constexpr std::size_t kVendorProductWidth = 24;
constexpr std::uint8_t kInquiryAllocationLength = 128;
// The standard INQUIRY data up to the end of the revision field.
constexpr std::uint32_t kInquiryIdentityLength = 36;
// Byte 0: peripheral qualifier 0 (a device is connected) and device type 05h (CD/DVD).
constexpr std::uint8_t kOpticalDevice = 0x05;

// The window sends from a worker thread; the command line installs an observer once.
std::atomic<CommandObserver*> commandObserver{nullptr};

// INQUIRY's buffer before the command: a device type that is not optical and a last identity
// byte that no answer leaves there, so that a short answer is seen where no residual is reported.
constexpr std::uint8_t kInquiryFill = 0xFF;

// Only a CD/DVD device that returned the whole identity may enter the drive list or be
// updated: WRITE BUFFER mode 5 tells a disk to download and save microcode. The drive layer has
// already refused an answer shorter than the identity.
bool AnsweredAsOpticalDrive(const std::uint8_t* inquiry) {
  const bool vendorPresent = std::any_of(inquiry + 8, inquiry + 16, [](std::uint8_t byte) { return byte != 0; });
  return vendorPresent && inquiry[0] == kOpticalDevice;
}

} // namespace

CDDrive::CDDrive(char letter, std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
  DriveAddress address;
  address.Letter = letter;
  address.Adapter = adapter;
  address.Target = target;
  address.Lun = lun;
  Construct(address);
}

CDDrive::CDDrive(const DriveAddress& address) { Construct(address); }

void CDDrive::Construct(const DriveAddress& address) {
  TransportState& state = State();
  if (state.OpenCount == 0) {
    const std::uint8_t setUp = CurrentTransport().SetUp();
    if (setUp != kResultOpened) {
      state.LastResult = setUp;
      return;
    }
    state.UsePassThrough = CurrentTransport().Kind() == TransportKind::PassThrough;
    state.IoBuffer = state.DefaultBuffer.data();
    state.IoBufferLength = kDefaultBufferLength;
  }
  address_ = address;
  Letter = address.Letter;
  Adapter = address.Adapter;
  Target = address.Target;
  Lun = address.Lun;
  if (CurrentTransport().IsLockedForUpdate(address_)) {
    // Being updated elsewhere: even an INQUIRY could time out on a drive that is programming its
    // flash, and the host's recovery would reset it.
    lockedElsewhere_ = true;
    state.LastResult = kResultOpenFailed;
    return;
  }
  if (Open()) {
    state.LastResult = kResultOpened;
    ++state.OpenCount;
    counted_ = true;
  } else {
    state.LastResult = kResultOpenFailed;
  }
}

CDDrive::~CDDrive() {
  // Only a drive that opened was counted; a dropped probe holds nothing and must not lower the
  // count of the drives that did open.
  if (counted_) {
    channel_.reset();
    if (State().OpenCount > 0) --State().OpenCount;
  }
}

namespace {

// The update lock together with the channel's hold on the drive; the hold is given back first.
class HeldUpdateLock final : public UpdateLock {
public:
  HeldUpdateLock(std::unique_ptr<UpdateLock> lock, std::unique_ptr<UpdateLock> hold)
      : lock_(std::move(lock)), hold_(std::move(hold)) {
    Warnings = std::move(lock_->Warnings);
    Notes = std::move(lock_->Notes);
  }

private:
  std::unique_ptr<UpdateLock> lock_;
  std::unique_ptr<UpdateLock> hold_;
};

} // namespace

std::unique_ptr<UpdateLock> CDDrive::LockForUpdate(std::string& refusal) const {
  std::unique_ptr<UpdateLock> lock = CurrentTransport().LockForUpdate(address_, refusal);
  if (!lock || !channel_) return lock;
  // The hold goes on the connection every command of the update uses.
  std::string heldElsewhere;
  std::unique_ptr<UpdateLock> hold = channel_->HoldForUpdate(*lock, heldElsewhere);
  if (!heldElsewhere.empty()) {
    refusal = heldElsewhere;
    return nullptr;
  }
  if (!hold) return lock;
  return std::make_unique<HeldUpdateLock>(std::move(lock), std::move(hold));
}

bool CDDrive::Open() {
  CommandOutcome failure;
  channel_ = CurrentTransport().Open(address_, failure);
  if (!channel_) {
    lastOutcome_ = failure;
    // The transport has shown "Error opening: ..."; from now on failures are reported.
    State().ReportErrors = true;
    ReportSense();
    return false;
  }
  if (Identify()) return true;
  channel_.reset();
  return false;
}

int CDDrive::Execute(std::uint8_t cdb0, std::uint8_t cdb1, std::uint8_t cdb2, std::uint8_t cdb3,
                     std::uint8_t cdb4, std::uint8_t cdb5, std::uint8_t cdb6, std::uint8_t cdb7,
                     std::uint8_t cdb8, std::uint8_t cdb9, std::uint8_t cdb10, std::uint8_t cdb11,
                     std::uint8_t direction, std::uint32_t length) {
  return Execute({cdb0, cdb1, cdb2, cdb3, cdb4, cdb5, cdb6, cdb7, cdb8, cdb9, cdb10, cdb11},
                 direction, length);
}

int CDDrive::Execute(const std::array<std::uint8_t, kCdbLength>& cdb, std::uint8_t direction,
                     std::uint32_t length) {
  return Send(cdb, direction, length, {});
}

int CDDrive::ExecuteDataIn(const std::array<std::uint8_t, kCdbLength>& cdb, std::uint32_t length,
                           std::span<const std::uint8_t> fill) {
  return Send(cdb, 1, length, fill);
}

int CDDrive::Send(const std::array<std::uint8_t, kCdbLength>& cdb, std::uint8_t direction,
                  std::uint32_t length, std::span<const std::uint8_t> fill) {
  TransportState& state = State();
  CommandBlock command;
  command.Cdb = cdb;
  command.DataIn = direction == 1;
  command.Length = length;
  command.Data = state.UseInquiryBuffer ? state.InquiryBuffer.data() : state.IoBuffer;
  command.TimeoutSeconds = state.TimeoutSeconds;

  CommandObserver* const observer = commandObserver.load(std::memory_order_acquire);
  const auto started = observer != nullptr ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  CommandOutcome outcome;
  const std::uint32_t capacity =
      state.UseInquiryBuffer ? static_cast<std::uint32_t>(kInquiryBufferLength) : state.IoBufferLength;
  if (length > capacity || (command.Data == nullptr && length != 0)) {
    // Refused before it reaches the drive: the data would overrun the buffer. Reported as an
    // invalid field so that callers reading the sense bytes stop too.
    outcome.Sense.KeyByte = outcome.Sense.Key = 0x05;
    outcome.Sense.Asc = 0x24;
  } else if (channel_) {
    const std::size_t needed = std::min<std::size_t>(fill.size(), length);
    if (command.DataIn && length != 0) {
      std::copy_n(fill.begin(), needed, command.Data);
      std::fill(command.Data + needed, command.Data + length, std::uint8_t{0});
    }
    outcome = channel_->Send(command);
    if (command.DataIn && needed != 0)
      JudgeDataIn(outcome, length, static_cast<std::uint32_t>(needed),
                  command.Data[needed - 1] == fill[needed - 1]);
  }
  lastOutcome_ = outcome;
  if (observer != nullptr) {
    observer->CommandCompleted({cdb, command.DataIn, length, address_.DevicePath,
                                std::chrono::steady_clock::now() - started, lastOutcome_});
  }
  if (outcome.Succeeded()) return outcome.Result;
  ReportSense();
  return 0;
}

void CDDrive::ReportSense() const {
  if (!State().ReportErrors) return;
  char text[256];
  const std::optional<std::string> systemText = CurrentTransport().SystemErrorText(OsError());
  if (systemText) {
    std::snprintf(text, sizeof text, "SenseCode: %02X %02X %02X, %02X, Error: %d, %s", SenseKey(), Asc(),
                  Ascq(), Status(), static_cast<int>(OsError()), systemText->c_str());
  } else {
    std::snprintf(text, sizeof text,
                  "SenseCode: %02X %02X %02X, %02X, Error: %d, Format message failed.", SenseKey(),
                  Asc(), Ascq(), Status(), static_cast<int>(OsError()));
  }
  sys::ShowMessage(text, sys::MessageKind::Plain);
}

bool CDDrive::Identify() {
  TransportState& state = State();
  // A device that answers fewer bytes must not show what the previous one left in the buffer.
  state.InquiryBuffer.fill(0);
  std::array<std::uint8_t, kInquiryIdentityLength> fill;
  fill.fill(kInquiryFill);
  state.UseInquiryBuffer = true;
  ExecuteDataIn({0x12, 0, 0, 0, kInquiryAllocationLength, 0, 0, 0, 0, 0, 0, 0}, kInquiryAllocationLength, fill);
  state.UseInquiryBuffer = false;
  if (!lastOutcome_.Succeeded() || !AnsweredAsOpticalDrive(state.InquiryBuffer.data())) {
    IdentityText.assign(1, '0'); // (assigning the literal trips a false -Wrestrict in GCC 12)
    identityField_.clear();
    return false;
  }
  // Bytes 8 to 35, stopping at a zero byte, right-aligned in 28 characters; control bytes are
  // shown as '?' so that a device's garbage never reaches a message box or a terminal raw.
  char field[kIdentityFieldWidth + 1] = {};
  std::memcpy(field, state.InquiryBuffer.data() + 8, kIdentityFieldWidth);
  const std::string shown = sys::PrintableText(field);
  char identity[kIdentityFieldWidth + 1];
  std::snprintf(identity, sizeof identity, "%28.28s", shown.c_str());
  identityField_ = identity;
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %c: %s", Adapter, Target, Lun, Letter, identity);
  IdentityText = text;
  return true;
}

std::string CDDrive::GetIdentity() { return Identify() ? IdentityText : std::string("0"); }

std::string CDDrive::VendorProductText() const {
  return identityField_.empty() ? std::string() : identityField_.substr(0, kVendorProductWidth);
}

std::string CDDrive::RevisionText() const {
  return identityField_.empty() ? std::string() : identityField_.substr(kVendorProductWidth);
}

void SetCommandObserver(CommandObserver* observer) { commandObserver.store(observer, std::memory_order_release); }

CommandObserver* CurrentCommandObserver() { return commandObserver.load(std::memory_order_acquire); }

void CDDrive::SetTimeout(std::uint16_t seconds) { State().TimeoutSeconds = seconds; }

void CDDrive::SetBuffer(std::uint8_t* buffer, std::uint32_t length) {
  TransportState& state = State();
  if (buffer == nullptr) {
    state.IoBuffer = state.DefaultBuffer.data();
    state.IoBufferLength = kDefaultBufferLength;
  } else {
    state.IoBuffer = buffer;
    state.IoBufferLength = length;
  }
}

std::uint8_t* CDDrive::GetBuffer() { return State().IoBuffer; }

std::uint32_t CDDrive::IoBufferLength() { return State().IoBufferLength; }

std::uint8_t CDDrive::LastResult() { return State().LastResult; }

} // namespace drive
