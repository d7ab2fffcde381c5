#include "drive/SysfsDrivesPosix.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace drive {
namespace {

namespace fs = std::filesystem;

// "H:C:T:L" into its four numbers.
bool ParseAddress(const std::string& text, SysfsDrive& drive) {
  char tail = 0;
  return std::sscanf(text.c_str(), "%u:%u:%u:%u%c", &drive.Host, &drive.Channel, &drive.Target,
                     &drive.Lun, &tail) == 4;
}

unsigned long DriveNumber(const std::string& name) { return std::stoul(name.substr(2)); }

// The one entry of the device's scsi_generic folder ("sg1"); empty without the sg driver.
std::string SgNodeName(const fs::path& device) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(device / "scsi_generic", error))
    return entry.path().filename().string();
  return {};
}

std::string FirstLine(const fs::path& file) {
  std::string line;
  std::ifstream stream(file);
  std::getline(stream, line);
  return line;
}

} // namespace

std::vector<SysfsDrive> FindSysfsDrives(const std::string& sysfsRoot, const std::string& devRoot) {
  std::vector<SysfsDrive> drives;
  std::error_code error;
  const fs::path blockDir = fs::path(sysfsRoot) / "class" / "block";
  for (const fs::directory_entry& entry : fs::directory_iterator(blockDir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 3 || name.compare(0, 2, "sr") != 0 ||
        !std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const fs::path device = entry.path() / "device";
    std::error_code linkError;
    fs::path target = fs::read_symlink(device, linkError);
    if (linkError) target = fs::canonical(device, linkError);
    if (linkError) continue;
    SysfsDrive drive;
    drive.Name = name;
    drive.DevicePath = (fs::path(devRoot) / name).string();
    if (!ParseAddress(target.filename().string(), drive)) continue;
    std::ifstream typeFile(device / "type");
    int type = -1;
    if (!(typeFile >> type) || type != 5) continue;
    const std::string sgName = SgNodeName(device);
    if (!sgName.empty()) drive.SgPath = (fs::path(devRoot) / sgName).string();
    drive.DevNumber = FirstLine(entry.path() / "dev");
    drives.push_back(drive);
  }
  std::sort(drives.begin(), drives.end(), [](const SysfsDrive& a, const SysfsDrive& b) {
    return DriveNumber(a.Name) < DriveNumber(b.Name);
  });
  return drives;
}

} // namespace drive
