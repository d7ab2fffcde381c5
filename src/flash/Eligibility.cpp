#include "flash/Eligibility.h"

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

} // namespace flash
