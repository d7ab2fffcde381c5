// Linux SG_IO transport: each drive's sg node found through sysfs, one SG_IO ioctl per command.

#include <dirent.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "drive/DriveMessages.h"
#include "drive/Platform.h"
#include "drive/PosixCalls.h"
#include "drive/SgOutcome.h"
#include "drive/SgTransportPosix.h"
#include "drive/SysfsDrivesPosix.h"
#include "sys/Sleeper.h"

namespace drive {
namespace {

constexpr std::size_t kSenseBufferLength = 32;
constexpr std::uint8_t kWriteBuffer = 0x3B;

class SgChannel : public DeviceChannel {
public:
  SgChannel(SgTransport& transport, UniqueFd fd, std::string path)
      : transport_(transport), fd_(std::move(fd)), path_(std::move(path)) {}

  CommandOutcome Send(const CommandBlock& command) override {
    if (command.Cdb[0] == kWriteBuffer) transport_.BeforeMemoryWrite(path_);
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
    if (Posix().Ioctl(fd_.Get(), SG_IO, &header) < 0) result.IoctlError = errno != 0 ? errno : EIO;
    result.Status = header.status;
    result.HostStatus = header.host_status;
    result.DriverStatus = header.driver_status;
    result.Sense = sense;
    result.SenseWritten = header.sb_len_wr;
    result.Residual = header.resid;
    CommandOutcome outcome = OutcomeFromSg(result);
    // A host or driver failure has no errno of its own: report it as a failed device I/O.
    if (outcome.Reached && outcome.Host != HostOutcome::Ok) outcome.OsError = PlatformIoErrorCode();
    return outcome;
  }

private:
  SgTransport& transport_;
  UniqueFd fd_;
  std::string path_;
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

// The lock's descriptors: the flock()ed command node, and the exclusive open of /dev/srN that
// keeps the disc from being mounted or burnt meanwhile (when taken), or the detach that took
// that open over. Members go in reverse order: the detach is put back, and the exclusive open
// given up, while the flock still keeps other odflash processes from probing the drive.
class SgUpdateLock final : public UpdateLock {
public:
  SgUpdateLock(UniqueFd flockNode, UniqueFd exclusive, std::shared_ptr<DriverDetach> detach)
      : flockNode_(std::move(flockNode)), exclusive_(std::move(exclusive)), detach_(std::move(detach)) {}

private:
  UniqueFd flockNode_;
  UniqueFd exclusive_;
  std::shared_ptr<DriverDetach> detach_;
};

constexpr int kCapSysAdmin = 21;

// True when another process holds the update flock on the node (its update still runs).
bool IsFlocked(const std::string& node) {
  const UniqueFd fd(Posix().Open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  return fd.Valid() && Posix().Flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

// O_NONBLOCK: a tray without a disc must not fail the open.
UniqueFd OpenNode(const std::string& path, int flags) {
  return UniqueFd(Posix().Open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC));
}

bool IsAccessError(int code) { return code == EACCES || code == EPERM; }

// "it cannot be opened: No such file or directory" and the like.
std::string SystemRefusal(const char* what, int code) {
  return std::string("it cannot be ") + what + ": " + std::strerror(code);
}

// The lines of a text file, one at a time, while visit returns false; true when it returned true.
template <typename Visit>
bool AnyLine(const std::string& path, Visit visit) {
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line))
    if (visit(line)) return true;
  return false;
}

constexpr int kCapSysRawIo = 17;

// True when the file is the node itself, or a node of the same kind and device number.
bool IsSameNode(const struct stat& file, const struct stat& node) {
  if (file.st_dev == node.st_dev && file.st_ino == node.st_ino) return true;
  const bool device = S_ISCHR(node.st_mode) || S_ISBLK(node.st_mode);
  return device && (file.st_mode & S_IFMT) == (node.st_mode & S_IFMT) && file.st_rdev == node.st_rdev;
}

// The other processes that have one of the nodes open, as "PID COMM on NODE", found as fuser
// finds them: through every /proc/PID/fd link. Another user's descriptors are not readable
// without privileges, so the list holds what this process can see.
std::vector<std::string> ProcessesHolding(const std::string& procRoot, const std::vector<std::string>& nodes) {
  std::vector<std::pair<std::string, struct stat>> targets;
  for (const std::string& node : nodes) {
    struct stat info {};
    if (::stat(node.c_str(), &info) == 0) targets.emplace_back(node, info);
  }
  std::vector<std::string> holders;
  DIR* processes = targets.empty() ? nullptr : ::opendir(procRoot.c_str());
  if (processes == nullptr) return holders;
  const std::string self = std::to_string(::getpid());
  while (const dirent* process = ::readdir(processes)) {
    const std::string pid = process->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    const std::string fdFolder = procRoot + "/" + pid + "/fd";
    DIR* descriptors = ::opendir(fdFolder.c_str());
    if (descriptors == nullptr) continue;
    std::vector<std::string> held;
    while (const dirent* descriptor = ::readdir(descriptors)) {
      struct stat file {};
      if (descriptor->d_name[0] == '.' || ::stat((fdFolder + "/" + descriptor->d_name).c_str(), &file) != 0) continue;
      for (const auto& [node, info] : targets)
        if (IsSameNode(file, info) && std::find(held.begin(), held.end(), node) == held.end()) held.push_back(node);
    }
    ::closedir(descriptors);
    if (held.empty()) continue;
    std::string comm;
    std::getline(std::ifstream(procRoot + "/" + pid + "/comm"), comm);
    for (const std::string& node : held) holders.push_back(pid + " " + comm + " on " + node);
  }
  ::closedir(processes);
  std::sort(holders.begin(), holders.end(), [](const std::string& a, const std::string& b) {
    return std::strtoul(a.c_str(), nullptr, 10) < std::strtoul(b.c_str(), nullptr, 10);
  });
  return holders;
}

} // namespace

std::string SgAccessRefusal(const std::string& commandPath, int code) {
  return "it needs read-write access to " + commandPath +
         " to be updated (the cdrom group, the seat's uaccess, or a udev rule), or root: " + std::strerror(code);
}

std::string NoSgNodeRefusal(const std::string& blockPath) {
  return "it has no sg node (load the sg driver: modprobe sg), and through " + blockPath +
         " the kernel lets only root (CAP_SYS_RAWIO) send the update commands";
}

SgTransport::SgTransport(std::string sysfsRoot, std::string devRoot, std::string procRoot, std::string stateDir)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)), procRoot_(std::move(procRoot)),
      stateDir_(std::move(stateDir)) {}

SgTransport::Nodes SgTransport::NodesOf(const DriveAddress& address) {
  Nodes nodes;
  for (const SysfsDrive& drive : FindSysfsDrives(sysfsRoot_, devRoot_)) {
    const bool named = address.DevicePath.empty()
                           ? drive.Host == address.Adapter && drive.Target == address.Target && drive.Lun == address.Lun
                           : drive.DevicePath == address.DevicePath;
    if (!named) continue;
    nodes.Shown = drive.DevicePath;
    nodes.Command = drive.CommandPath();
    nodes.DevNumber = drive.DevNumber;
    nodes.BlockOnly = drive.SgPath.empty();
    nodes.Address = std::to_string(drive.Host) + ":" + std::to_string(drive.Channel) + ":" +
                    std::to_string(drive.Target) + ":" + std::to_string(drive.Lun);
    nodes.Name = drive.Name;
    return nodes;
  }
  nodes.Shown = nodes.Command = address.DevicePath;
  // A drive detached from its block node by an update keeps its sg node.
  for (const DetachRecord& record : ReadDetachRecords(stateDir_))
    if (!address.DevicePath.empty() && address.DevicePath == devRoot_ + "/" + record.Block) nodes.Command = record.Sg;
  return nodes;
}

bool SgTransport::IsMounted(const std::string& devNumber) const {
  if (devNumber.empty()) return false;
  // Field 3 of each mountinfo line is the mounted device's major:minor.
  return AnyLine(procRoot_ + "/self/mountinfo", [&devNumber](const std::string& line) {
    std::istringstream fields(line);
    std::string id, parent, device;
    return fields >> id >> parent >> device && device == devNumber;
  });
}

bool SgTransport::HasRawIo() const { return HasCapability(kCapSysRawIo); }

bool SgTransport::HasCapability(int capability) const {
  return AnyLine(procRoot_ + "/self/status", [capability](const std::string& line) {
    if (line.compare(0, 7, "CapEff:") != 0) return false;
    return ((std::strtoull(line.c_str() + 7, nullptr, 16) >> capability) & 1u) != 0;
  });
}

std::vector<DetachRecord> SgTransport::Abandoned() const {
  std::vector<DetachRecord> records = ReadDetachRecords(stateDir_);
  std::erase_if(records, [this](const DetachRecord& record) {
    const auto own = detaches_.find(record.Sg);
    return IsFlocked(record.Sg) || (own != detaches_.end() && !own->second.expired());
  });
  return records;
}

std::vector<std::string> SgTransport::LeftToRestore() {
  std::vector<std::string> notices;
  const bool root = HasCapability(kCapSysAdmin);
  const std::time_t now = std::time(nullptr);
  for (const DetachRecord& record : Abandoned()) {
    std::string notice = "drive " + record.Address + " (" + record.Sg + ") was left detached from " + devRoot_ + "/" +
                         record.Block + " by an update that ended early; ";
    const std::time_t settled = record.Written + kDetachSettleSeconds;
    if (!root) notice += "to restore it, run as root: " + RestoreCommandLine(record);
    else if (settled > now) notice += "it is restored in " + std::to_string(settled - now) + " s, once the drive has surely finished";
    else notice += "it is restored now";
    notices.push_back(notice);
  }
  return notices;
}

void SgTransport::BeforeMemoryWrite(const std::string& commandPath) {
  const auto found = detaches_.find(commandPath);
  if (found == detaches_.end()) return;
  if (const std::shared_ptr<DriverDetach> detach = found->second.lock()) detach->BeforeMemoryWrite();
}

std::unique_ptr<DeviceChannel> SgTransport::Open(const DriveAddress& address, CommandOutcome& failure) {
  const Nodes nodes = NodesOf(address);
  UniqueFd fd = nodes.Command.empty() ? UniqueFd() : OpenNode(nodes.Command, O_RDWR);
  const int code = nodes.Command.empty() ? ENODEV : errno;
  // Without access to the sg node the drive can still be listed: the kernel lets INQUIRY through
  // /dev/srN. Its update lock then refuses with the access an update needs.
  if (!fd.Valid() && IsAccessError(code) && nodes.Command != nodes.Shown) fd = OpenNode(nodes.Shown, O_RDWR);
  if (!fd.Valid()) {
    failure.OsError = static_cast<std::uint32_t>(code);
    ShowOpenFailure(code, nodes.Command.empty() ? "(no device at this address)" : nodes.Command);
    return nullptr;
  }
  return std::make_unique<SgChannel>(*this, std::move(fd), nodes.Command);
}

std::unique_ptr<UpdateLock> SgTransport::LockForUpdate(const DriveAddress& address, std::string& refusal) {
  const Nodes nodes = NodesOf(address);
  if (nodes.Command.empty()) {
    refusal = SystemRefusal("opened", ENODEV);
    return nullptr;
  }
  if (nodes.BlockOnly && !HasRawIo()) {
    refusal = NoSgNodeRefusal(nodes.Shown);
    return nullptr;
  }
  // Read-write, as the commands need it: a user without that access is refused here, before the
  // first command of the update.
  UniqueFd flockNode = OpenNode(nodes.Command, O_RDWR);
  if (!flockNode.Valid()) {
    refusal = IsAccessError(errno) ? SgAccessRefusal(nodes.Command, errno) : SystemRefusal("opened", errno);
    return nullptr;
  }
  // The flock first: a second odflash then learns that the drive is being updated, not merely
  // that someone holds it.
  if (Posix().Flock(flockNode.Get(), LOCK_EX | LOCK_NB) != 0) {
    refusal = errno == EWOULDBLOCK ? kRefusedBeingUpdated : SystemRefusal("locked", errno);
    return nullptr;
  }
  // A mounted disc is refused before the exclusive open would send the drive anything.
  if (IsMounted(nodes.DevNumber)) {
    refusal = kRefusedHeldByProgram;
    return nullptr;
  }
  // The exclusive open of /dev/srN keeps mounts, burners and other exclusive openers away for
  // the whole update; it sends the drive commands of its own, so it comes before the update's
  // first. Another exclusive holder refuses it.
  UniqueFd exclusive = OpenNode(nodes.Shown, O_RDONLY | O_EXCL);
  const int exclusiveError = errno;
  std::vector<std::string> warnings, notes;
  if (!exclusive.Valid()) {
    if (exclusiveError == EBUSY || nodes.BlockOnly) {
      refusal = exclusiveError == EBUSY ? kRefusedHeldByProgram : SystemRefusal("opened exclusively", exclusiveError);
      return nullptr;
    }
    // The commands go through the sg node: without access to /dev/srN the update can still run,
    // with nothing but the mount check above keeping a disc from being mounted or burnt.
    warnings.push_back(nodes.Shown + " could not be held exclusively (" + std::strerror(exclusiveError) +
                       "): a disc may be mounted or burnt during the update");
  }
  std::shared_ptr<DriverDetach> detach;
  // Never when the update's own commands go through /dev/srN.
  if (!nodes.BlockOnly && !nodes.Address.empty() && State().DetachDriver && HasCapability(kCapSysAdmin)) {
    DetachRecord record;
    record.Address = nodes.Address;
    record.Sg = nodes.Command;
    record.Block = nodes.Name;
    auto begun = std::make_shared<DriverDetach>(sysfsRoot_, stateDir_, record);
    std::string error;
    if (begun->Begin(exclusive, error)) {
      detach = begun;
      detaches_[nodes.Command] = detach;
      notes.push_back("media polling paused; the sr driver is detached from " + nodes.Address +
                      " for the writes and bound again afterwards");
    } else {
      notes.push_back("the block driver stays attached: " + error);
    }
  }
  auto lock = std::make_unique<SgUpdateLock>(std::move(flockNode), std::move(exclusive), std::move(detach));
  lock->Warnings = std::move(warnings);
  lock->Notes = std::move(notes);
  std::vector<std::string> nodesOfDrive{nodes.Shown};
  if (nodes.Command != nodes.Shown) nodesOfDrive.push_back(nodes.Command);
  const std::vector<std::string> holders = ProcessesHolding(procRoot_, nodesOfDrive);
  if (!holders.empty()) {
    std::string list;
    for (const std::string& holder : holders) list += (list.empty() ? "" : ", ") + holder;
    lock->Warnings.push_back("other programs have the drive open (as far as visible): " + list +
                             "; their commands may still reach it during the update");
  }
  return lock;
}

bool SgTransport::IsLockedForUpdate(const DriveAddress& address) {
  const Nodes nodes = NodesOf(address);
  const UniqueFd fd = nodes.Command.empty() ? UniqueFd() : OpenNode(nodes.Command, O_RDONLY);
  if (!fd.Valid()) return false; // the open that follows reports it
  const bool locked = Posix().Flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (!locked) Posix().Flock(fd.Get(), LOCK_UN);
  return locked;
}

std::vector<DriveAddress> SgTransport::Candidates() {
  if (HasCapability(kCapSysAdmin)) {
    for (const DetachRecord& record : Abandoned()) {
      // Binding probes the drive, which may still be committing its flash.
      const std::time_t settled = record.Written + kDetachSettleSeconds, now = std::time(nullptr);
      if (settled > now) sys::SystemSleeper().SleepMilliseconds(static_cast<unsigned>(settled - now) * 1000u);
      RestoreDetached(sysfsRoot_, record, sys::SystemSleeper());
    }
  }
  std::vector<DriveAddress> candidates;
  std::vector<std::string> addresses;
  for (const SysfsDrive& drive : FindSysfsDrives(sysfsRoot_, devRoot_)) {
    candidates.push_back(ToAddress(drive));
    addresses.push_back(std::to_string(drive.Host) + ":" + std::to_string(drive.Channel) + ":" +
                        std::to_string(drive.Target) + ":" + std::to_string(drive.Lun));
  }
  // A drive another update has detached is still a drive, held by that update.
  for (const DetachRecord& record : ReadDetachRecords(stateDir_)) {
    if (std::find(addresses.begin(), addresses.end(), record.Address) != addresses.end()) continue;
    SysfsDrive drive;
    char tail = 0;
    if (std::sscanf(record.Address.c_str(), "%u:%u:%u:%u%c", &drive.Host, &drive.Channel, &drive.Target, &drive.Lun,
                    &tail) != 4)
      continue;
    drive.DevicePath = devRoot_ + "/" + record.Block;
    candidates.push_back(ToAddress(drive));
  }
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
