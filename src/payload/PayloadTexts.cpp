#include "payload/PayloadTexts.h"

#include <cstdio>

#include "sys/Text.h"

namespace payload {
namespace {

std::string FormatCut(const char* format, const std::string& text, int width) {
  std::string out(static_cast<std::size_t>(width), '\0');
  std::snprintf(out.data(), out.size() + 1, format, width, width, text.c_str());
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

} // namespace

std::string FormatLeftAligned(const std::string& text, int width) {
  return FormatCut("%-*.*s", text, width);
}

std::string FormatRightAligned(const std::string& text, int width) {
  return FormatCut("%*.*s", text, width);
}

PayloadTexts MakePayloadTexts(const PayloadBlock& block) {
  const std::string range = block.FirmwareRange();
  PayloadTexts texts;
  texts.VendorName = sys::PrintableText(sys::UpperCase(block.Vendor()));
  texts.ModelName = sys::PrintableText(block.Model());
  texts.InquiryId = FormatLeftAligned(block.Inquiry(), 24);
  texts.FirmwareRange = sys::PrintableText(FormatRightAligned(range, 9));
  texts.FirmwareLow = FormatRightAligned(range, 4);
  texts.FirmwareHigh = FormatRightAligned(range.size() > 5 ? range.substr(5) : std::string(), 4);
  texts.AnyDrive = block.AcceptsAnyDrive();
  texts.AnyFirmware = block.AcceptsAnyFirmware();
  return texts;
}

} // namespace payload
