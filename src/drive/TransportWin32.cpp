#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/DriveMessages.h"
#include "drive/Platform.h"
#include "drive/Win32Calls.h"
#include "drive/Win32Transport.h"
#include "sys/SystemErrorWin32.h"

namespace drive {
namespace {

constexpr std::uint8_t kAspiPositions = 20; // host adapters 0 to 19, targets 0 and 1
constexpr DWORD kMinimumModuleHandle = 32;

// GetProcAddress returns a generic function pointer; go through void (*)() to the real type.
template <typename Function>
Function EntryPoint(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(Win32().GetProcAddress(library, name)));
}

std::string DevicePathOf(char letter) {
  std::string path = "\\\\.\\?:";
  path[4] = letter;
  return path;
}

constexpr bool IsValidCallerName(const char* name, std::size_t size) {
  if (size == 0 || size > kCdromExclusiveCallerLength || name[size - 1] != '\0') return false;
  for (std::size_t i = 0; i + 1 < size; ++i) {
    const char c = name[i];
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         c == ' ' || c == '.' || c == ',' || c == ':' || c == ';' || c == '-' || c == '_';
    if (!allowed) return false;
  }
  return true;
}
static_assert(IsValidCallerName(kExclusiveCallerName, sizeof kExclusiveCallerName),
              "the class driver refuses a caller name with other characters or of 64 bytes and more");

// The exclusive access taken on a pass-through channel's handle. The handle is shared with the
// channel, which closes it; once it is closed the system has given the lock back already, and
// unlocking a closed (or reused) handle value must not happen.
class ExclusiveAccessHold final : public UpdateLock {
public:
  explicit ExclusiveAccessHold(std::weak_ptr<const HANDLE> handle) : handle_(std::move(handle)) {}
  ~ExclusiveAccessHold() override {
    const std::shared_ptr<const HANDLE> handle = handle_.lock();
    if (!handle) return;
    CdromExclusiveAccess unlock{kExclusiveAccessUnlockDevice, 0};
    DWORD returned = 0;
    Win32().DeviceIoControl(*handle, kIoctlCdromExclusiveAccess, &unlock, sizeof unlock, nullptr, 0, &returned,
                            nullptr);
  }

private:
  std::weak_ptr<const HANDLE> handle_;
};

// One drive opened by letter; each command is one synchronous DeviceIoControl.
class PassThroughChannel : public DeviceChannel {
public:
  PassThroughChannel(HANDLE handle, const DriveAddress& address)
      : Handle(handle), address_(address), handleOwner_(std::make_shared<const HANDLE>(handle)) {}
  ~PassThroughChannel() override {
    handleOwner_.reset();
    Win32().CloseHandle(Handle);
  }

  // Takes the cdrom class driver's exclusive access on this handle, so that the lock belongs to
  // the handle every command of the update goes through. A file system mounted on the disc is
  // left mounted (CDROM_LOCK_IGNORE_VOLUME): while the lock holds, the driver fails the file
  // system's I/O like any other handle's, and when the lock goes it makes the file system verify
  // the volume. Locking and dismounting the volume instead would fail whenever any program has a
  // file open on the disc, and the update never reads the disc.
  std::unique_ptr<UpdateLock> HoldForUpdate(UpdateLock& lock, std::string& refusal) override {
    CdromExclusiveLock request{};
    request.Access.RequestType = kExclusiveAccessLockDevice;
    request.Access.Flags = kCdromLockIgnoreVolume;
    std::memcpy(request.CallerName, kExclusiveCallerName, sizeof kExclusiveCallerName);
    DWORD returned = 0;
    const bool locked = Win32().DeviceIoControl(Handle, kIoctlCdromExclusiveAccess, &request, sizeof request,
                                                nullptr, 0, &returned, nullptr) != FALSE;
    const DWORD error = Win32().GetLastError();
    if (locked) return std::make_unique<ExclusiveAccessHold>(handleOwner_);
    switch (error) {
    case ERROR_ACCESS_DENIED: {
      // Another handle has the lock: a burner, a player, another firmware tool.
      const std::string holder = ExclusiveHolderName();
      refusal = std::string(kRefusedHeldByProgram) + (holder.empty() ? "" : ": " + holder);
      return nullptr;
    }
    case ERROR_INVALID_FUNCTION: // before Vista, and under Wine
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE: // the letter's handle reached a file system, not the class driver
      lock.Notes.push_back("the system offers no exclusive access to " + address_.DevicePath + " (error " +
                           std::to_string(error) + "); other programs' commands may still reach the drive");
      return nullptr;
    default:
      lock.Warnings.push_back("exclusive access to " + address_.DevicePath + " was not granted (error " +
                              std::to_string(error) + "); other programs' commands may still reach the drive");
      return nullptr;
    }
  }

  CommandOutcome Send(const CommandBlock& command) override {
    std::memset(&Block, 0, sizeof Block);
    SCSI_PASS_THROUGH_DIRECT& request = Block.Request;
    request.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    request.PathId = address_.Adapter;
    request.TargetId = address_.Target;
    request.Lun = address_.Lun;
    request.CdbLength = kCdbLength;
    request.SenseInfoLength = kPassThroughSenseLength;
    request.DataIn = command.DataIn ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
    request.DataTransferLength = command.Length;
    request.TimeOutValue = command.TimeoutSeconds;
    request.DataBuffer = command.Data;
    request.SenseInfoOffset = offsetof(PassThroughBlock, SenseBuffer);
    std::memcpy(request.Cdb, command.Cdb.data(), kCdbLength);
    IoctlBufferSize = sizeof(PassThroughBlock);
    IoctlOk = Win32().DeviceIoControl(Handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &Block, IoctlBufferSize,
                                      &Block, IoctlBufferSize, &BytesReturned, nullptr) != FALSE;
    const DWORD error = Win32().GetLastError();

    CommandOutcome outcome;
    outcome.Reached = IoctlOk;
    // A failed call leaves the zeroed block: status and sense read 0.
    outcome.ScsiStatus = outcome.ShownStatus = request.ScsiStatus;
    outcome.Sense = ParseSense(Block.SenseBuffer, kPassThroughSenseLength);
    // The driver leaves the count of bytes moved in the transfer length.
    if (IoctlOk && request.DataTransferLength < command.Length)
      outcome.Residual = command.Length - request.DataTransferLength;
    outcome.ResidualKnown = IoctlOk;
    outcome.Result = outcome.Succeeded() ? 1 : 0;
    // What the system said after the call goes with every failure, the call's own or the drive's.
    if (!outcome.Succeeded()) outcome.OsError = error;
    return outcome;
  }

  HANDLE Handle;
  PassThroughBlock Block{};
  DWORD BytesReturned = 0;
  DWORD IoctlBufferSize = sizeof(PassThroughBlock);
  bool IoctlOk = false;

private:
  // The name the exclusive lock's holder gave, empty when the driver does not say.
  std::string ExclusiveHolderName() {
    CdromExclusiveAccess query{kExclusiveAccessQueryState, 0};
    CdromExclusiveLockState state{};
    DWORD returned = 0;
    if (!Win32().DeviceIoControl(Handle, kIoctlCdromExclusiveAccess, &query, sizeof query, &state, sizeof state,
                                 &returned, nullptr) ||
        !state.LockState)
      return {};
    const char* name = reinterpret_cast<const char*>(state.CallerName);
    return std::string(name, strnlen(name, kCdromExclusiveCallerLength));
  }

  DriveAddress address_;
  std::shared_ptr<const HANDLE> handleOwner_;
};

// True when the layer reports the residual byte count for the adapter's requests.
bool AspiReportsResidual(aspi::SendCommandFunction send, std::uint8_t adapter) {
  aspi::SrbHaInquiry inquiry{};
  inquiry.SRB_Cmd = aspi::kScHaInquiry;
  inquiry.SRB_HaId = adapter;
  send(&inquiry);
  return inquiry.SRB_Status == aspi::kSsComp &&
         (inquiry.HA_Unique[aspi::kHaUniqueResidualByte] & aspi::kHaUniqueResidualSupported) != 0;
}

// One ASPI request in flight: the request block, its event and its own data buffer. A request
// that outlives its time-out may still be completed by the ASPI layer, which then writes into
// all three; such a request is parked and never freed while it is pending.
struct AspiRequest {
  aspi::SrbExecScsiCmd Srb{};
  HANDLE Event = nullptr;
  std::vector<std::uint8_t> Data;
};

// Requests that timed out, kept alive for the ASPI layer until the process ends or they finish.
std::vector<AspiRequest*>& ParkedRequests() {
  static auto* parked = new std::vector<AspiRequest*>; // never destroyed: see AspiRequest
  return *parked;
}

class AspiChannel : public DeviceChannel {
public:
  AspiChannel(Win32Transport& transport, const DriveAddress& address)
      : transport_(transport), address_(address), request_(new AspiRequest),
        reportsResidual_(AspiReportsResidual(transport.SendCommand(), address.Adapter)) {}
  // A stalled request stays parked for the ASPI layer; the spare one is this channel's own.
  ~AspiChannel() override { delete request_; }

  // On success the result is the transfer length. The residual is known only where the layer
  // reports it for the adapter.
  CommandOutcome Send(const CommandBlock& command) override {
    CommandOutcome outcome;
    if (stalled_ != nullptr) {
      // The drive still owes the answer to a request that timed out: send nothing new until
      // that request is finished, so two requests never share the drive.
      if (stalled_->Srb.SRB_Status == aspi::kSsPending) {
        outcome.OsError = ERROR_BUSY;
        return outcome;
      }
      ReleaseStalled();
    }

    AspiRequest& request = *request_;
    request.Event = Win32().CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // The request works on its own buffer: a late completion must never land in the caller's.
    // It starts as the caller's, data in too: the bytes that do not arrive keep the fill there.
    if (request.Data.size() < command.Length) request.Data.resize(command.Length);
    if (command.Length != 0) std::memcpy(request.Data.data(), command.Data, command.Length);

    aspi::SrbExecScsiCmd& srb = request.Srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = aspi::kScExecScsiCmd;
    srb.SRB_HaId = address_.Adapter;
    srb.SRB_Target = address_.Target;
    srb.SRB_Lun = 0;
    srb.SRB_Flags = (command.DataIn ? aspi::kSrbDirIn : aspi::kSrbDirOut) | aspi::kSrbEventNotify |
                    (reportsResidual_ ? aspi::kSrbEnableResidualCount : 0);
    srb.SRB_BufLen = command.Length;
    srb.SRB_BufPointer = request.Data.data();
    srb.SRB_SenseLen = aspi::kSenseLength;
    srb.SRB_CDBLen = kCdbLength;
    srb.SRB_PostProc = request.Event;
    std::memcpy(srb.CDBByte, command.Cdb.data(), kCdbLength);

    transport_.SendCommand()(&srb);
    if (srb.SRB_Status == aspi::kSsPending) {
      if (Win32().WaitForSingleObject(request.Event, DWORD{command.TimeoutSeconds} * 1000u) ==
          WAIT_OBJECT_0)
        Win32().ResetEvent(request.Event);
    }
    const DWORD error = Win32().GetLastError();

    if (srb.SRB_Status == aspi::kSsPending) {
      // Timed out: the layer may still complete it. Park the request with its event and buffer.
      stalled_ = request_;
      ParkedRequests().push_back(request_);
      request_ = new AspiRequest;
      outcome.Reached = true;
      outcome.Host = HostOutcome::TimedOut;
      outcome.OsError = error;
      return outcome; // shown status 0 (SS_PENDING), no sense
    }
    Win32().CloseHandle(request.Event);
    request.Event = nullptr;
    if (command.DataIn && command.Length != 0)
      std::memcpy(command.Data, request.Data.data(), command.Length);

    outcome = DecodeAspiStatus(srb.SRB_Status, srb.SRB_HaStat, srb.SRB_TargStat, command.DataIn);
    outcome.Sense = ParseSense(srb.SenseArea, aspi::kSenseLength);
    if (reportsResidual_ && outcome.Reached) {
      // The layer leaves the residual where the length was.
      outcome.ResidualKnown = true;
      outcome.Residual = std::min(srb.SRB_BufLen, command.Length);
    }
    outcome.Result = outcome.Succeeded() ? static_cast<int>(command.Length) : 0;
    // What the system said after the request goes with every failure, the layer's or the drive's.
    if (!outcome.Succeeded()) outcome.OsError = error;
    return outcome;
  }

private:
  void ReleaseStalled() {
    auto& parked = ParkedRequests();
    parked.erase(std::remove(parked.begin(), parked.end(), stalled_), parked.end());
    Win32().CloseHandle(stalled_->Event);
    delete stalled_;
    stalled_ = nullptr;
  }

  Win32Transport& transport_;
  DriveAddress address_;
  AspiRequest* request_;
  AspiRequest* stalled_ = nullptr; // parked, owned by ParkedRequests
  bool reportsResidual_;
};

// Holds a handle to the drive's update mutex: the mutex exists, and so the lock is held, until
// the last handle is closed (by the system too, when the process ends).
class MutexUpdateLock final : public UpdateLock {
public:
  explicit MutexUpdateLock(HANDLE mutex) : mutex_(mutex) {}
  ~MutexUpdateLock() override { Win32().CloseHandle(mutex_); }

private:
  HANDLE mutex_;
};

} // namespace

CommandOutcome DecodeAspiStatus(std::uint8_t srbStatus, std::uint8_t haStat, std::uint8_t targStat, bool dataIn) {
  CommandOutcome outcome;
  outcome.ShownStatus = srbStatus;
  switch (srbStatus) {
  case aspi::kSsComp:
  case aspi::kSsErr:
    outcome.Reached = true;
    break;
  case aspi::kSsAborted:
    outcome.Reached = true;
    outcome.Host = HostOutcome::Aborted;
    return outcome;
  default: // the layer refused the request: no adapter, no device, a bad request
    return outcome;
  }
  outcome.ScsiStatus = targStat;
  outcome.HostCode = haStat;
  switch (haStat) {
  case aspi::kHaStatOk:
    // An error the layer reports without a target status is a failure all the same.
    if (srbStatus == aspi::kSsErr && targStat == kStatusGood) outcome.Host = HostOutcome::HostError;
    break;
  case aspi::kHaStatDataOverUnderrun:
    // Data in: fewer bytes came than asked for, how many is unknown; the caller's data check
    // decides. Data out: the drive did not take all it was sent.
    if (!dataIn) outcome.Host = HostOutcome::HostError;
    break;
  case aspi::kHaStatTimeout:
  case aspi::kHaStatCommandTimeout: outcome.Host = HostOutcome::TimedOut; break;
  case aspi::kHaStatSelectionTimeout: outcome.Host = HostOutcome::NoDevice; break;
  case aspi::kHaStatBusReset: outcome.Host = HostOutcome::Aborted; break;
  default: outcome.Host = HostOutcome::HostError; break;
  }
  return outcome;
}

Win32Transport::Win32Transport() = default;

TransportKind Win32Transport::Kind() const {
  return usePassThrough_ ? TransportKind::PassThrough : TransportKind::Aspi;
}

bool Win32Transport::QueryPassThrough() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version; // 148
  Win32().GetVersionExA(&version);
  usePassThrough_ = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
  return usePassThrough_;
}

std::uint8_t Win32Transport::SetUp() {
  if (QueryPassThrough()) return kResultOpened;

  HMODULE library = Win32().LoadLibraryA(aspi::kLibraryName);
  if (reinterpret_cast<std::uintptr_t>(library) < kMinimumModuleHandle) {
    aspiLibrary_ = nullptr;
    sendCommand_ = nullptr;
    standIn_ = false;
    ShowAspiLibraryMissing();
    return kResultAspiNotLoaded;
  }
  auto fail = [&](std::uint8_t code) {
    Win32().FreeLibrary(library);
    aspiLibrary_ = nullptr;
    sendCommand_ = nullptr;
    standIn_ = false;
    return code;
  };
  auto supportInfo = EntryPoint<aspi::GetSupportInfoFunction>(library, aspi::kSupportInfoName);
  if (supportInfo == nullptr) return fail(kResultAspiNoEntry);
  if (((supportInfo() >> 8) & 0xFF) != aspi::kSsComp) return fail(kResultAspiNotReady);
  auto sendCommand = EntryPoint<aspi::SendCommandFunction>(library, aspi::kSendCommandName);
  if (sendCommand == nullptr) return fail(kResultAspiNoEntry);
  aspiLibrary_ = library;
  sendCommand_ = sendCommand;
  standIn_ = Win32().GetProcAddress(library, aspi::kStandInMarkerName) != nullptr;
  return kResultOpened;
}

std::unique_ptr<DeviceChannel> Win32Transport::Open(const DriveAddress& address, CommandOutcome& failure) {
  if (!usePassThrough_) return std::make_unique<AspiChannel>(*this, address);
  const std::string path = DevicePathOf(address.Letter);
  HANDLE handle = Win32().CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    failure.OsError = Win32().GetLastError();
    ShowOpenFailure(static_cast<std::int32_t>(failure.OsError), path);
    return nullptr;
  }
  return std::make_unique<PassThroughChannel>(handle, address);
}

std::vector<DriveAddress> Win32Transport::Candidates() {
  std::vector<DriveAddress> candidates;
  if (!QueryPassThrough()) {
    for (std::uint8_t adapter = 0; adapter < kAspiPositions; ++adapter) {
      for (std::uint8_t target = 0; target < 2; ++target) {
        DriveAddress address;
        address.Adapter = adapter;
        address.Target = target;
        address.DevicePath = "aspi:" + std::to_string(adapter) + "-" + std::to_string(target);
        candidates.push_back(address);
      }
    }
    return candidates;
  }
  // The root strings, each ended by a zero byte, then an empty string. When they do not fit,
  // the call returns the size they need: ask again with that size.
  std::vector<char> roots(80);
  for (;;) {
    const DWORD needed = Win32().GetLogicalDriveStringsA(static_cast<DWORD>(roots.size()), roots.data());
    if (needed == 0) return candidates;
    if (needed < roots.size()) break;
    roots.assign(needed + 1, '\0');
  }
  for (const char* root = roots.data(); *root != '\0'; root += std::strlen(root) + 1) {
    if (Win32().GetDriveTypeA(root) != DRIVE_CDROM) continue;
    DriveAddress address;
    address.Letter = root[0];
    address.DevicePath = DevicePathOf(root[0]);
    candidates.push_back(address);
  }
  return candidates;
}

std::string Win32Transport::UpdateMutexName(const DriveAddress& address) const {
  if (usePassThrough_) return std::string("Global\\odflash-update-") + address.Letter;
  return "odflash-update-aspi-" + std::to_string(address.Adapter) + "-" + std::to_string(address.Target);
}

std::unique_ptr<UpdateLock> Win32Transport::LockForUpdate(const DriveAddress& address, std::string& refusal) {
  // Exactly one of two processes racing here creates the mutex; the other finds it existing.
  HANDLE mutex = Win32().CreateMutexA(nullptr, FALSE, UpdateMutexName(address).c_str());
  const DWORD error = Win32().GetLastError();
  if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) return std::make_unique<MutexUpdateLock>(mutex);
  if (mutex != nullptr) Win32().CloseHandle(mutex);
  // Access denied: it exists, made by another user's odflash.
  if (mutex != nullptr || error == ERROR_ACCESS_DENIED) {
    refusal = kRefusedBeingUpdated;
  } else {
    refusal = "it cannot be locked (system error " + std::to_string(error) + ")";
  }
  return nullptr;
}

bool Win32Transport::IsLockedForUpdate(const DriveAddress& address) {
  HANDLE mutex = Win32().OpenMutexA(SYNCHRONIZE, FALSE, UpdateMutexName(address).c_str());
  if (mutex == nullptr) return false;
  Win32().CloseHandle(mutex);
  return true;
}

std::optional<std::string> Win32Transport::SystemErrorText(std::uint32_t code) {
  return PlatformErrorText(code);
}

std::unique_ptr<Transport> MakePlatformTransport() { return std::make_unique<Win32Transport>(); }

std::optional<std::string> PlatformErrorText(std::uint32_t code) {
  return sys::SystemErrorText(code, kErrorTextBufferSize, Win32().FormatMessageA);
}

std::uint32_t PlatformIoErrorCode() { return ERROR_IO_DEVICE; }

} // namespace drive
