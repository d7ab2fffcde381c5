#include "flash/Eligibility.h"

#include <cstdio>

#include "flash/UpdateQuestion.h"

namespace flash {
namespace {

// A text field read up to its terminator, at most its 25 bytes.
std::string FieldText(std::string_view field) {
  const std::size_t end = field.find('\0');
  return std::string(field.substr(0, end == std::string_view::npos ? field.size() : end));
}

std::string Formatted(const char* format, const std::string& text) {
  char out[32];
  std::snprintf(out, sizeof out, format, text.c_str());
  return out;
}

} // namespace

EligibilityTerms MakeEligibilityTerms(std::string_view inquiryField, std::string_view fwRangeField) {
  const std::string inquiry = FieldText(inquiryField);
  const std::string range = FieldText(fwRangeField);
  EligibilityTerms terms;
  terms.anyDrive = inquiry.size() >= 2 && inquiry[0] == '-' && inquiry[1] == '-';
  terms.inquiryId = Formatted("%-24.24s", inquiry);
  // The markers are tested on the field's bytes themselves, past a short text's NUL too.
  terms.anyFirmware = fwRangeField.size() > 5 && fwRangeField[0] == '-' && fwRangeField[5] == '-';
  terms.firmwareLow = Formatted("%4.4s", range);
  terms.firmwareHigh = range.size() > 5 ? Formatted("%4.4s", range.substr(5)) : std::string();
  return terms;
}

bool DriveIsEligible(const EligibilityTerms& terms, std::string_view vendorProduct,
                     std::string_view revision) {
  if (terms.anyDrive) return true;
  if (vendorProduct != terms.inquiryId) return false;
  if (terms.anyFirmware) return true;
  return CompareRevisions(revision, terms.firmwareLow) >= 0 &&
         CompareRevisions(revision, terms.firmwareHigh) <= 0;
}

} // namespace flash
