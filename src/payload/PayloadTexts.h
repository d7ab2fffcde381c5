#pragma once
// The payload's fields as the flashing role shows and compares them, shared by the window
// and the command line.

#include <string>

#include "payload/PayloadBlock.h"

namespace payload {

// The texts that are only shown have their control bytes shown as '?' (sys::PrintableText);
// the ones compared with a drive's answers keep the field's bytes.
struct PayloadTexts {
  std::string VendorName;     // Vendor field, upper-cased; shown
  std::string ModelName;      // Model field unchanged; shown
  std::string InquiryId;      // Inquiry field "%-24.24s": exactly 24 characters; compared
  std::string FirmwareRange;  // FW-Range field "%9.9s"; shown
  std::string FirmwareLow;    // FW-Range field "%4.4s"; compared
  std::string FirmwareHigh;   // FW-Range field from its sixth character, "%4.4s"; compared
  bool AnyDrive = false;      // Inquiry field starts with "--"
  bool AnyFirmware = false;   // FW-Range characters 0 and 5 are both '-'
};

PayloadTexts MakePayloadTexts(const PayloadBlock& block);

// printf-style cuts used for the payload texts: "%-W.Ws" (LeftAligned) and "%W.Ws".
std::string FormatLeftAligned(const std::string& text, int width);
std::string FormatRightAligned(const std::string& text, int width);

} // namespace payload
