#pragma once
// Whether a drive may receive the firmware a flasher carries: its INQUIRY identity must equal
// the payload's and its revision must lie in the payload's range, unless the payload's
// markers widen either test. The window's CheckCondition and the command line both use this.

#include <string_view>

#include "payload/PayloadTexts.h"

namespace flash {

// vendorProduct: the drive's 24-character vendor and product text; revision: its 4 characters.
bool DriveIsEligible(const payload::PayloadTexts& payload, std::string_view vendorProduct,
                     std::string_view revision);

} // namespace flash
