#include "drive/Cddrives.h"

namespace drive {

CDDrives::CDDrives(const std::string& onlyDevicePath) {
  for (const DriveAddress& candidate : CurrentTransport().Candidates()) {
    if (!onlyDevicePath.empty() && candidate.DevicePath != onlyDevicePath) continue;
    if (count_ == kSlotCount) break; // a full list: probing more drives could only overrun it
    auto probe = std::make_unique<CDDrive>(candidate);
    // A dropped probe holds no device and was never counted; freeing it changes no state.
    if (CDDrive::LastResult() == kResultOpened && probe->IsOpen()) {
      drives_[currentIndex_] = std::move(probe);
      ++currentIndex_;
      ++count_;
    } else if (probe->LockedForUpdateElsewhere()) {
      busyDevicePaths_.push_back(candidate.DevicePath);
    }
  }
  if (count_ > 0) Select(0);
}

CDDrives::~CDDrives() {
  for (currentIndex_ = count_; currentIndex_ > 0;) {
    --currentIndex_;
    drives_[currentIndex_].reset();
  }
}

bool CDDrives::Select(std::int16_t index) {
  if (index < 0 || index >= count_) return false;
  currentIndex_ = index;
  current_ = drives_[index].get();
  return true;
}

CDDrive* CDDrives::Drive(int index) const {
  return index >= 0 && index < count_ ? drives_[index].get() : nullptr;
}

} // namespace drive
