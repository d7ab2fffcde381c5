#pragma once
// The optical drives that Linux lists in sysfs: /sys/class/block/srN, whose "device" link names
// the SCSI address H:C:T:L and whose device/type is 5, with the sg node the sg driver gives the
// same device (device/scsi_generic/sgM). The root is a parameter so that tests can walk a fake
// tree.

#include <string>
#include <vector>

namespace drive {

struct SysfsDrive {
  std::string Name;       // "sr0"
  std::string DevicePath; // "/dev/sr0", the name users know
  std::string SgPath;     // "/dev/sg1"; empty when the sg driver is not loaded
  std::string DevNumber;  // "11:0", the block device's major:minor (as /proc/self/mountinfo has it)
  unsigned Host = 0;
  unsigned Channel = 0;
  unsigned Target = 0;
  unsigned Lun = 0;

  // Where commands go: the sg node, whose read-write opens the kernel lets send WRITE BUFFER
  // and vendor commands; the block node only when there is no sg node.
  const std::string& CommandPath() const { return SgPath.empty() ? DevicePath : SgPath; }
};

// The drives under sysfsRoot (normally "/sys"), ordered by their number; entries that are not
// CD/DVD devices or whose address cannot be read are skipped.
std::vector<SysfsDrive> FindSysfsDrives(const std::string& sysfsRoot, const std::string& devRoot = "/dev");

} // namespace drive
