#pragma once
// The payload's fields as the flashing role shows and compares them, shared by the window
// and the command line.

#include <string>

#include "payload/PayloadBlock.h"

namespace payload {

struct PayloadTexts {
  std::string VendorName;     // Vendor field, upper-cased
  std::string ModelName;      // Model field unchanged
  std::string InquiryId;      // Inquiry field "%-24.24s": exactly 24 characters
  std::string FirmwareRange;  // FW-Range field "%9.9s"
  std::string FirmwareLow;    // FW-Range field "%4.4s"
  std::string FirmwareHigh;   // FW-Range field from its sixth character, "%4.4s"
  bool AnyDrive = false;      // Inquiry field starts with "--"
  bool AnyFirmware = false;   // FW-Range characters 0 and 5 are both '-'
};

PayloadTexts MakePayloadTexts(const PayloadBlock& block);

// printf-style cuts used for the payload texts: "%-W.Ws" (LeftAligned) and "%W.Ws".
std::string FormatLeftAligned(const std::string& text, int width);
std::string FormatRightAligned(const std::string& text, int width);

} // namespace payload
