// The drive layer's reading of what a device and the kernel returned: sense data in either
// format, the SG_IO result fields, and the one-line description of any outcome.
//
// Input: a flags byte, the SG_IO fields (ioctl error, status, host and driver status,
// residual, sense length and that many sense bytes), a whole CommandOutcome's fields, then
// sense bytes for the parser alone (the rest of the input).

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "drive/CommandOutcome.h"
#include "drive/SgOutcome.h"

using namespace drive;

namespace {

void CheckSense(const SenseData& parsed, const std::uint8_t* sense, std::size_t length) {
  FUZZ_CHECK(parsed.Key == (parsed.KeyByte & 0x0F));
  if (sense == nullptr || length == 0) {
    FUZZ_CHECK(!parsed.Usable);
    return;
  }
  const std::uint8_t responseCode = sense[0] & 0x7F;
  if (parsed.Descriptor) {
    FUZZ_CHECK(responseCode == 0x72 || responseCode == 0x73);
    FUZZ_CHECK(parsed.Usable && length >= 4);
    FUZZ_CHECK(parsed.Asc == sense[2] && parsed.Ascq == sense[3]);
    return;
  }
  if (parsed.Usable) FUZZ_CHECK((responseCode == 0x70 || responseCode == 0x71) && length >= 14);
  if (length >= 14) FUZZ_CHECK(parsed.KeyByte == sense[2] && parsed.Asc == sense[12] && parsed.Ascq == sense[13]);
}

void CheckDescription(const CommandOutcome& outcome) {
  const std::string text = DescribeOutcome(outcome);
  FUZZ_CHECK(!text.empty() && text.size() < 128);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  if (!outcome.Reached) {
    FUZZ_CHECK(text.rfind("not sent: system error ", 0) == 0);
    return;
  }
  if (outcome.Succeeded()) FUZZ_CHECK(text == "GOOD");
  if (outcome.Host == HostOutcome::Ok && outcome.ScsiStatus == kStatusCheckCondition) {
    static const std::string kNoSense = " without sense data";
    if (outcome.Sense.Usable) FUZZ_CHECK(text.find(", sense ") != std::string::npos);
    else FUZZ_CHECK(text.size() > kNoSense.size() && text.compare(text.size() - kNoSense.size(), kNoSense.size(), kNoSense) == 0);
  }
}

// Exactly length bytes, so that AddressSanitizer sees a read past the sense data.
std::vector<std::uint8_t> SenseBuffer(fuzzsupport::ByteReader& input, std::size_t length) {
  std::vector<std::uint8_t> sense = input.Take(length);
  sense.resize(length, 0);
  sense.shrink_to_fit();
  return sense;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::ByteReader input(data, size);
  const std::uint8_t flags = input.Byte();

  SgResult sg;
  sg.IoctlError = (flags & 0x01) != 0 ? input.Byte() + 1 : 0;
  sg.Status = input.Byte();
  sg.HostStatus = input.U16();
  sg.DriverStatus = input.U16();
  sg.Residual = static_cast<std::int32_t>(input.U16() | std::uint32_t{input.U16()} << 16);
  sg.SenseWritten = input.Byte();
  std::vector<std::uint8_t> sgSense = SenseBuffer(input, sg.SenseWritten);
  // The kernel always hands a buffer; a missing one must still be survived.
  sg.Sense = (flags & 0x02) != 0 ? nullptr : sgSense.data();

  const CommandOutcome fromSg = OutcomeFromSg(sg);
  if (sg.IoctlError != 0) {
    FUZZ_CHECK(!fromSg.Reached && !fromSg.Succeeded());
    FUZZ_CHECK(fromSg.OsError == static_cast<std::uint32_t>(sg.IoctlError));
  } else {
    FUZZ_CHECK(fromSg.Reached);
    FUZZ_CHECK(fromSg.ScsiStatus == sg.Status && fromSg.HostCode == sg.HostStatus &&
               fromSg.DriverCode == sg.DriverStatus);
    FUZZ_CHECK((fromSg.Result == 1) == fromSg.Succeeded());
    // Success needs GOOD status and no host or driver error (driver code 08h only flags sense).
    if (fromSg.Succeeded())
      FUZZ_CHECK(sg.Status == kStatusGood && sg.HostStatus == 0 && (sg.DriverStatus & 0x07) == 0);
    FUZZ_CHECK(sg.Residual > 0 ? fromSg.Residual == static_cast<std::uint32_t>(sg.Residual) : fromSg.Residual == 0);
    CheckSense(fromSg.Sense, sg.Sense, sg.SenseWritten);
  }
  CheckDescription(fromSg);

  // Any combination of fields, as another transport might fill them.
  CommandOutcome any;
  const std::uint8_t outcomeFlags = input.Byte();
  any.Reached = (outcomeFlags & 0x01) != 0;
  any.Sense.Usable = (outcomeFlags & 0x02) != 0;
  any.Sense.Descriptor = (outcomeFlags & 0x04) != 0;
  any.Host = static_cast<HostOutcome>(input.Byte());
  any.OsError = input.U16() | std::uint32_t{input.U16()} << 16;
  any.HostCode = input.U16();
  any.DriverCode = input.U16();
  any.ScsiStatus = input.Byte();
  any.Sense.KeyByte = input.Byte();
  any.Sense.Key = any.Sense.KeyByte & 0x0F;
  any.Sense.Asc = input.Byte();
  any.Sense.Ascq = input.Byte();
  CheckDescription(any);

  const std::vector<std::uint8_t> sense = SenseBuffer(input, input.Remaining());
  CheckSense(ParseSense(sense.data(), sense.size()), sense.data(), sense.size());
  return 0;
}
