#pragma once
// A payload block in memory, laid out as a flasher carries it, for the tests.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "builder/PayloadBlock.h"
#include "builder/PayloadLayout.h"

namespace flashtest {

struct PayloadFields {
  std::string model = "CD-RW 4X";
  std::string inquiry = "ODSIM   CD-RW EMULATED  ";
  std::string firmwareRange = "1.00-1.99";
  std::string vendor = "Odsim";
  std::string note;
  std::string newRevision = "1.50.";
};

class TestPayload {
public:
  TestPayload(const PayloadFields& fields, const std::vector<std::uint8_t>& image)
      : bytes_(builder::kMarkerLength + builder::kHeaderLength + image.size()) {
    std::uint8_t* header = bytes_.data() + builder::kMarkerLength;
    Put(header + builder::kModelOffset, fields.model);
    Put(header + builder::kInquiryOffset, fields.inquiry);
    Put(header + builder::kFirmwareRangeOffset, fields.firmwareRange);
    Put(header + builder::kVendorOffset, fields.vendor);
    Put(header + builder::kNoteOffset, fields.note);
    std::copy_n(fields.newRevision.begin(), std::min<std::size_t>(5, fields.newRevision.size()),
                header + builder::kNewRevisionOffset);
    const auto length = static_cast<std::uint32_t>(image.size());
    for (int i = 0; i < 4; ++i)
      header[builder::kImageLengthOffset + i] = static_cast<std::uint8_t>(length >> (8 * i));
    std::copy(image.begin(), image.end(), header + builder::kHeaderLength);
  }

  builder::PayloadBlock Block() const { return builder::PayloadBlock(bytes_.data(), bytes_.size()); }

private:
  static void Put(std::uint8_t* field, const std::string& text) {
    std::copy_n(text.begin(), std::min(text.size(), builder::kTextFieldMaxChars), field);
  }
  std::vector<std::uint8_t> bytes_;
};

} // namespace flashtest
