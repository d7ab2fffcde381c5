#pragma once
// Whether a drive may receive the firmware a flasher carries: its INQUIRY identity must equal
// the payload's and its revision must lie in the payload's range, unless the payload's
// markers widen either test. The window's CheckCondition and the command line both use this.

#include <string>
#include <string_view>

namespace flash {

struct EligibilityTerms {
  bool anyDrive = false;       // Inquiry field starts with "--"
  std::string inquiryId;       // 24 characters: vendor (8) and product (16)
  bool anyFirmware = false;    // FW-Range characters 0 and 5 are both '-'
  std::string firmwareLow;     // up to 4 characters
  std::string firmwareHigh;    // up to 4 characters
};

// inquiryField and fwRangeField: the payload's 25-byte text fields (read up to their NUL).
EligibilityTerms MakeEligibilityTerms(std::string_view inquiryField, std::string_view fwRangeField);

// vendorProduct: the drive's 24-character vendor and product text; revision: its 4 characters.
bool DriveIsEligible(const EligibilityTerms& terms, std::string_view vendorProduct,
                     std::string_view revision);

} // namespace flash
