#include "drive/DriverDetachPosix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "drive/SysfsDrivesPosix.h"

namespace drive {
namespace {

namespace fs = std::filesystem;

constexpr int kBindTries = 5;
constexpr unsigned kBindPauseMilliseconds = 200;

// One write() of the text, as sysfs attributes want it; false when the kernel refused it.
bool WriteAttribute(const std::string& path, const std::string& text) {
  // O_TRUNC as a shell redirection has it: sysfs ignores it, a plain file needs it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && written;
}

std::string ReadAttribute(const std::string& path) {
  std::string line;
  std::ifstream file(path);
  std::getline(file, line);
  return line;
}

std::string DriverFile(const std::string& sysfsRoot, const char* action) {
  return sysfsRoot + "/bus/scsi/drivers/sr/" + action;
}

std::string PollFile(const std::string& sysfsRoot, const std::string& block) {
  return sysfsRoot + "/class/block/" + block + "/events_poll_msecs";
}

std::string AddressOf(const SysfsDrive& drive) {
  return std::to_string(drive.Host) + ":" + std::to_string(drive.Channel) + ":" + std::to_string(drive.Target) + ":" +
         std::to_string(drive.Lun);
}

// The block node that now serves the address; empty when the sr driver does not.
std::string BlockAt(const std::string& sysfsRoot, const std::string& address) {
  for (const SysfsDrive& drive : FindSysfsDrives(sysfsRoot))
    if (AddressOf(drive) == address) return drive.Name;
  return {};
}

} // namespace

std::vector<DetachRecord> ReadDetachRecords(const std::string& stateDir) {
  std::vector<DetachRecord> records;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(stateDir, error)) {
    if (entry.path().filename().string().rfind("restore-", 0) != 0) continue;
    std::ifstream file(entry.path());
    DetachRecord record;
    record.Path = entry.path().string();
    std::string line;
    while (std::getline(file, line)) {
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
      if (key == "address") record.Address = value;
      else if (key == "sg") record.Sg = value;
      else if (key == "block") record.Block = value;
      else if (key == "poll") record.Poll = value;
      else if (key == "written") record.Written = static_cast<std::time_t>(std::atoll(value.c_str()));
    }
    if (!record.Address.empty()) records.push_back(record);
  }
  return records;
}

bool RestoreDetached(const std::string& sysfsRoot, const DetachRecord& record, sys::Sleeper& sleeper) {
  std::string block;
  for (int attempt = 0; attempt < kBindTries && block.empty(); ++attempt) {
    if (attempt > 0) sleeper.SleepMilliseconds(kBindPauseMilliseconds);
    // Refused when the driver is bound already; the search below tells.
    WriteAttribute(DriverFile(sysfsRoot, "bind"), record.Address);
    block = BlockAt(sysfsRoot, record.Address);
  }
  if (block.empty()) return false;
  if (!record.Poll.empty() && !WriteAttribute(PollFile(sysfsRoot, block), record.Poll)) return false;
  std::error_code error;
  fs::remove(record.Path, error);
  return true;
}

std::string RestoreCommandLine(const DetachRecord& record) {
  std::string line = "echo " + record.Address + " > /sys/bus/scsi/drivers/sr/bind";
  if (!record.Poll.empty())
    line += "; echo " + record.Poll + " > /sys/bus/scsi/devices/" + record.Address + "/block/sr*/events_poll_msecs";
  return line + "; rm " + record.Path;
}

DriverDetach::DriverDetach(std::string sysfsRoot, std::string stateDir, DetachRecord record)
    : sysfsRoot_(std::move(sysfsRoot)), stateDir_(std::move(stateDir)), record_(std::move(record)) {
  record_.Path = stateDir_ + "/restore-" + record_.Address;
}

DriverDetach::~DriverDetach() {
  exclusive_.Reset();
  if (!begun_) return;
  if (unbound_) {
    RestoreDetached(sysfsRoot_, record_, sys::SystemSleeper());
  } else if (WriteAttribute(PollFile(sysfsRoot_, record_.Block), record_.Poll)) {
    std::error_code error;
    fs::remove(record_.Path, error);
  }
}

bool DriverDetach::WriteRecord() const {
  // Written whole under another name and renamed, so that a kill never leaves half a record.
  const std::string temporary = record_.Path + ".new";
  {
    std::ofstream file(temporary, std::ios::trunc);
    file << "address=" << record_.Address << "\nsg=" << record_.Sg << "\nblock=" << record_.Block
         << "\npoll=" << record_.Poll << "\nwritten=" << static_cast<long long>(std::time(nullptr)) << "\n";
    if (!file.flush()) return false;
  }
  std::error_code error;
  fs::rename(temporary, record_.Path, error);
  return !error;
}

bool DriverDetach::Begin(UniqueFd& exclusive, std::string& error) {
  record_.Poll = ReadAttribute(PollFile(sysfsRoot_, record_.Block));
  std::error_code made;
  fs::create_directories(stateDir_, made);
  ::chmod(stateDir_.c_str(), 0755); // users may read what is left to restore
  if (record_.Poll.empty() || !WriteRecord()) {
    error = record_.Poll.empty() ? "the polling setting of " + record_.Block + " cannot be read"
                                 : record_.Path + " cannot be written";
    return false;
  }
  begun_ = true;
  exclusive_ = std::move(exclusive);
  WriteAttribute(PollFile(sysfsRoot_, record_.Block), "0");
  return true;
}

void DriverDetach::BeforeMemoryWrite() {
  if (!begun_) return;
  if (!unbindTried_) {
    unbindTried_ = true;
    // The exclusive hold is an open of /dev/srN, which the unbind would wait for.
    exclusive_.Reset();
    unbound_ = WriteAttribute(DriverFile(sysfsRoot_, "unbind"), record_.Address);
  }
  WriteRecord();
}

} // namespace drive
