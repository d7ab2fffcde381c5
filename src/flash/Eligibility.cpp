#include "flash/Eligibility.h"

#include "drive/Cddrive.h"
#include "drive/Cddrives.h"
#include "flash/UpdateQuestion.h"

namespace flash {

bool DriveIsEligible(const payload::PayloadTexts& payload, std::string_view vendorProduct,
                     std::string_view revision) {
  if (payload.AnyDrive) return true;
  if (vendorProduct != payload.InquiryId) return false;
  if (payload.AnyFirmware) return true;
  return CompareRevisions(revision, payload.FirmwareLow) >= 0 &&
         CompareRevisions(revision, payload.FirmwareHigh) <= 0;
}

bool DriveFits(const payload::PayloadTexts& payload, const drive::CDDrive& drive) {
  return DriveIsEligible(payload, drive.VendorProductText(), drive.RevisionText());
}

std::vector<DriveFit> MatchDrives(const drive::CDDrives& drives, const payload::PayloadTexts& payload) {
  std::vector<DriveFit> found;
  for (int i = 0; i < drives.Count(); ++i) {
    drive::CDDrive* candidate = drives.Drive(i);
    found.push_back({i, candidate, DriveFits(payload, *candidate)});
  }
  return found;
}

} // namespace flash
