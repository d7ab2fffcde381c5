// Linux SG_IO transport: /dev/srN found through sysfs, one SG_IO ioctl per command.

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "drive/DriveMessages.h"
#include "drive/Platform.h"
#include "drive/SgOutcome.h"
#include "drive/SgTransportPosix.h"
#include "drive/SysfsDrivesPosix.h"

namespace drive {
namespace {

constexpr std::size_t kSenseBufferLength = 32;

class SgChannel : public DeviceChannel {
public:
  SgChannel(SgTransport& transport, int fd) : transport_(transport), fd_(fd) {}
  ~SgChannel() override { ::close(fd_); }

  CommandOutcome Send(const CommandBlock& command) override {
    std::uint8_t cdb[kCdbLength];
    std::memcpy(cdb, command.Cdb.data(), kCdbLength);
    std::uint8_t sense[kSenseBufferLength] = {};
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.cmdp = cdb;
    header.cmd_len = kCdbLength;
    header.dxfer_direction =
        command.Length == 0 ? SG_DXFER_NONE : (command.DataIn ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV);
    header.dxfer_len = command.Length;
    header.dxferp = command.Length == 0 ? nullptr : command.Data;
    header.sbp = sense;
    header.mx_sb_len = kSenseBufferLength;
    header.timeout = static_cast<unsigned>(command.TimeoutSeconds) * 1000u;

    SgResult result;
    if (::ioctl(fd_, SG_IO, &header) < 0) result.IoctlError = errno != 0 ? errno : EIO;
    result.Status = header.status;
    result.HostStatus = header.host_status;
    result.DriverStatus = header.driver_status;
    result.Sense = sense;
    result.SenseWritten = header.sb_len_wr;
    result.Residual = header.resid;
    CommandOutcome outcome = OutcomeFromSg(result);
    // A host or driver failure has no errno of its own: report it as a failed device I/O.
    if (outcome.Reached && outcome.Host != HostOutcome::Ok) outcome.OsError = PlatformIoErrorCode();
    transport_.SetLastError(outcome.OsError);
    return outcome;
  }

private:
  SgTransport& transport_;
  int fd_;
};

DriveAddress ToAddress(const SysfsDrive& drive) {
  DriveAddress address;
  address.Letter = ' '; // Linux drives have no letter
  // The identity text carries 8-bit numbers. Host numbers grow with every re-plugged adapter,
  // so a larger one shows as 255; the device path still names the drive.
  auto eightBits = [](auto number) { return static_cast<std::uint8_t>(number > 0xFF ? 0xFF : number); };
  address.Adapter = eightBits(drive.Host);
  address.Target = eightBits(drive.Target);
  address.Lun = eightBits(drive.Lun);
  address.DevicePath = drive.DevicePath;
  return address;
}

// Both descriptors of a held drive: the flock()ed one that other odflash processes test, and the
// exclusive open that keeps the disc from being mounted meanwhile.
class SgUpdateLock final : public UpdateLock {
public:
  SgUpdateLock(int flockFd, int exclusiveFd) : flockFd_(flockFd), exclusiveFd_(exclusiveFd) {}
  ~SgUpdateLock() override {
    ::close(exclusiveFd_);
    ::close(flockFd_);
  }

private:
  int flockFd_;
  int exclusiveFd_;
};

// O_NONBLOCK: a tray without a disc must not fail the open.
int OpenForLock(const std::string& path, int extraFlags) {
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | extraFlags);
}

// "it cannot be opened: No such file or directory" and the like.
std::string SystemRefusal(const char* what, int code) {
  return std::string("it cannot be ") + what + ": " + std::strerror(code);
}

} // namespace

SgTransport::SgTransport(std::string sysfsRoot, std::string devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

std::string SgTransport::DevicePathOf(const DriveAddress& address) {
  std::string path = address.DevicePath;
  if (path.empty()) {
    // Addressed by numbers only: find the device with that host, target and lun.
    for (const SysfsDrive& drive : FindSysfsDrives(sysfsRoot_, devRoot_))
      if (drive.Host == address.Adapter && drive.Target == address.Target && drive.Lun == address.Lun)
        path = drive.DevicePath;
  }
  return path;
}

std::unique_ptr<DeviceChannel> SgTransport::Open(const DriveAddress& address) {
  const std::string path = DevicePathOf(address);
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int code = path.empty() ? ENODEV : errno;
    lastError_ = static_cast<std::uint32_t>(code);
    ShowOpenFailure(code, path.empty() ? "(no device at this address)" : path);
    return nullptr;
  }
  lastError_ = 0;
  return std::make_unique<SgChannel>(*this, fd);
}

std::unique_ptr<UpdateLock> SgTransport::LockForUpdate(const DriveAddress& address, std::string& refusal) {
  const std::string path = DevicePathOf(address);
  if (path.empty()) {
    refusal = SystemRefusal("opened", ENODEV);
    return nullptr;
  }
  // The flock first: a second odflash then learns that the drive is being updated, not merely
  // that someone holds it.
  const int flockFd = OpenForLock(path, 0);
  if (flockFd < 0) {
    refusal = SystemRefusal("opened", errno);
    return nullptr;
  }
  if (::flock(flockFd, LOCK_EX | LOCK_NB) != 0) {
    refusal = errno == EWOULDBLOCK ? kRefusedBeingUpdated : SystemRefusal("locked", errno);
    ::close(flockFd);
    return nullptr;
  }
  const int exclusiveFd = OpenForLock(path, O_EXCL);
  if (exclusiveFd < 0) {
    refusal = errno == EBUSY ? kRefusedHeldByProgram : SystemRefusal("opened exclusively", errno);
    ::close(flockFd);
    return nullptr;
  }
  return std::make_unique<SgUpdateLock>(flockFd, exclusiveFd);
}

bool SgTransport::IsLockedForUpdate(const DriveAddress& address) {
  const std::string path = DevicePathOf(address);
  const int fd = path.empty() ? -1 : OpenForLock(path, 0);
  if (fd < 0) return false; // the open that follows reports it
  const bool locked = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (!locked) ::flock(fd, LOCK_UN);
  ::close(fd);
  return locked;
}

std::vector<DriveAddress> SgTransport::Candidates() {
  std::vector<DriveAddress> candidates;
  for (const SysfsDrive& drive : FindSysfsDrives(sysfsRoot_, devRoot_)) candidates.push_back(ToAddress(drive));
  return candidates;
}

std::optional<std::string> SgTransport::SystemErrorText(std::uint32_t code) {
  return PlatformErrorText(code);
}

std::unique_ptr<Transport> MakePlatformTransport() { return std::make_unique<SgTransport>(); }

std::optional<std::string> PlatformErrorText(std::uint32_t code) {
  std::string text = std::strerror(static_cast<int>(code));
  text += '\n';
  if (text.size() + 1 > kErrorTextBufferSize) return std::nullopt;
  return text;
}

std::uint32_t PlatformIoErrorCode() { return EIO; }

} // namespace drive
