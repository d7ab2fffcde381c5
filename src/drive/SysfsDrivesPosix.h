#pragma once
// The optical drives that Linux lists in sysfs: /sys/class/block/srN, whose "device" link names
// the SCSI address H:C:T:L and whose device/type is 5. The root is a parameter so that tests can
// walk a fake tree.

#include <string>
#include <vector>

namespace drive {

struct SysfsDrive {
  std::string Name;       // "sr0"
  std::string DevicePath; // "/dev/sr0"
  unsigned Host = 0;
  unsigned Channel = 0;
  unsigned Target = 0;
  unsigned Lun = 0;
};

// The drives under sysfsRoot (normally "/sys"), ordered by their number; entries that are not
// CD/DVD devices or whose address cannot be read are skipped.
std::vector<SysfsDrive> FindSysfsDrives(const std::string& sysfsRoot, const std::string& devRoot = "/dev");

} // namespace drive
