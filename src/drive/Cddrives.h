#pragma once
// CDDrives: the drives found by probing the machine over the process's transport, in probe order.
// The list owns its drives; it is built once and never changes afterwards.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "drive/Cddrive.h"

namespace drive {

class CDDrives {
public:
  static constexpr int kSlotCount = 24;

  // Probes every candidate of the transport, keeps the drives that opened and answered INQUIRY
  // (at most kSlotCount: probing stops when the list is full) and selects the first one.
  // Candidates locked for update by another holder are not probed at all. With onlyDevicePath,
  // the one candidate of that device path is the only one probed (a worker process of the
  // command line that must not disturb the drives other workers are updating).
  explicit CDDrives(const std::string& onlyDevicePath = {});
  // Releases the listed drives, last to first.
  ~CDDrives();
  CDDrives(const CDDrives&) = delete;
  CDDrives& operator=(const CDDrives&) = delete;

  // The number of listed drives.
  std::uint8_t Count() const { return count_; }
  // Makes the drive at the index the selected one; false (selection kept) when out of range.
  bool Select(std::int16_t index);
  // The selected drive; null while the list is empty.
  CDDrive* Current() const { return current_; }
  // The index of the selected drive.
  std::int32_t CurrentIndex() const { return currentIndex_; }
  // The drive at an index below Count(), null otherwise.
  CDDrive* Drive(int index) const;
  // The device paths of the candidates left alone because they were locked for update
  // (kRefusedBeingUpdated), in probe order; they are not in the list.
  const std::vector<std::string>& BusyDevicePaths() const { return busyDevicePaths_; }

private:
  std::uint8_t count_ = 0;
  std::int32_t currentIndex_ = 0;
  std::array<std::unique_ptr<CDDrive>, kSlotCount> drives_;
  CDDrive* current_ = nullptr;
  std::vector<std::string> busyDevicePaths_;
};

} // namespace drive
