// Run inside the test guest: sends the vendor Read Flash ID command to every drive found on the
// platform transport and prints the outcome, one line per drive; then tries the update lock
// against the real sr driver.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "drive/Cddrives.h"

namespace {

// Takes the drive's update lock and prints "WHAT PATH: held" or the refusal.
std::unique_ptr<drive::UpdateLock> TakeLock(const char* what, const drive::CDDrive& drive) {
  std::string refusal;
  auto lock = drive.LockForUpdate(refusal);
  std::printf("%s %s: %s\n", what, drive.DevicePath().c_str(), lock ? "held" : refusal.c_str());
  return lock;
}

// A second lock is refused and enumeration leaves the held drive alone; a drive that another
// program holds open exclusively is refused for that reason.
void CheckUpdateLock(const drive::CDDrives& drives) {
  auto lock = TakeLock("lock", *drives.Drive(0));
  TakeLock("second lock", *drives.Drive(0));
  {
    const drive::CDDrives again;
    for (const std::string& path : again.BusyDevicePaths()) std::printf("busy %s\n", path.c_str());
  }
  lock.reset();
  const int other = ::open(drives.Drive(1)->DevicePath().c_str(), O_RDONLY | O_NONBLOCK | O_EXCL);
  TakeLock("lock held elsewhere", *drives.Drive(1));
  if (other >= 0) ::close(other);
}

} // namespace

int main() {
  static std::uint8_t buffer[16384];
  drive::CDDrives drives;
  drive::CDDrive::SetBuffer(buffer, sizeof buffer);
  for (int i = 0; i < drives.Count(); ++i) {
    drive::CDDrive& drive = *drives.Drive(i);
    const int result = drive.Execute(0xDF, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 128);
    std::printf("%s Read Flash ID> %s result %d\n", drive.DevicePath().c_str(), drive.SenseText().c_str(),
                result);
  }
  if (drives.Count() >= 2) CheckUpdateLock(drives);
  return drives.Count() > 0 ? 0 : 1;
}
