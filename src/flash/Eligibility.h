#pragma once
// Whether a drive may receive the firmware a flasher carries: its INQUIRY identity must equal
// the payload's and its revision must lie in the payload's range, unless the payload's
// markers widen either test. The window's drive list and the command line's drive choice both
// use this.

#include <string_view>
#include <vector>

#include "payload/PayloadTexts.h"

namespace drive {
class CDDrive;
class CDDrives;
} // namespace drive

namespace flash {

// vendorProduct: the drive's 24-character vendor and product text; revision: its 4 characters.
bool DriveIsEligible(const payload::PayloadTexts& payload, std::string_view vendorProduct,
                     std::string_view revision);

// Whether a drive found fits the flasher, by the identity and revision it reported.
bool DriveFits(const payload::PayloadTexts& payload, const drive::CDDrive& drive);

// A drive of a list and whether it fits the flasher.
struct DriveFit {
  int index; // its position in the list
  drive::CDDrive* drive;
  bool fits;
};

// Every drive of the list, in list order, with whether it fits. Sends nothing to the drives.
std::vector<DriveFit> MatchDrives(const drive::CDDrives& drives, const payload::PayloadTexts& payload);

} // namespace flash
