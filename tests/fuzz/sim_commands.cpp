// The emulated drive's command stream: fuzzed CDBs, directions, lengths and data. Every data
// buffer is allocated with exactly the command's length, so AddressSanitizer sees any access
// past it.
//
// Input: the drive's configuration (flags, polls, device type, INQUIRY length, then the
// optional corrupt-read offset, commit sense and fault), then commands until the input ends,
// each 12 CDB bytes, a direction byte (1 data in; 2 no buffer at all when the length is 0;
// 4 and 8 together: length times 16), a 16-bit length and, for data out, the bytes sent (zeros past the input).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "sim/EmulatedDrive.h"

namespace {

sim::DriveConfig ReadConfig(fuzzsupport::ByteReader& input) {
  sim::DriveConfig config;
  const std::uint8_t flags = input.Byte();
  config.Medium = (flags & 0x01) != 0;
  config.NeverReady = (flags & 0x02) != 0;
  config.DescriptorSense = (flags & 0x04) != 0;
  config.BecomingReadyPolls = input.Byte() & 0x03;
  config.DeviceType = input.Byte();
  config.InquiryLength = input.Byte();
  for (std::uint8_t& byte : config.FlashId) byte = input.Byte();
  if ((flags & 0x08) != 0) config.CorruptReadAt = input.U24();
  if ((flags & 0x10) != 0) config.FailCommit = sim::Sense{input.Byte(), input.Byte(), input.Byte()};
  if ((flags & 0x20) != 0) {
    sim::CommandFault fault;
    const std::uint8_t opcode = input.Byte();
    if ((flags & 0x40) == 0) fault.Opcode = opcode;
    fault.Nth = 1 + input.Byte() % 8;
    fault.Kind = static_cast<sim::FaultKind>(input.Byte() % 5);
    fault.Failure = sim::Sense{input.Byte(), input.Byte(), input.Byte()};
    fault.Status = input.Byte();
    fault.Bytes = fault.Status; // a short answer's byte count, without taking more input
    config.Faults.push_back(fault);
  }
  return config;
}

void CheckResult(const sim::CommandResult& result, std::uint32_t length) {
  FUZZ_CHECK(result.Transferred <= length);
  FUZZ_CHECK(result.SenseLength <= sim::kSenseLength);
  if (!result.Delivered || result.TimedOut) FUZZ_CHECK(result.SenseLength == 0 && result.Transferred == 0);
  // Sense data comes only with CHECK CONDITION, in the format configured.
  if (result.SenseLength != 0) {
    FUZZ_CHECK(result.Status == 0x02);
    FUZZ_CHECK((result.SenseData[0] == 0x70 && result.SenseLength == sim::kSenseLength) ||
               (result.SenseData[0] == 0x72 && result.SenseLength == sim::kDescriptorSenseLength));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::ByteReader input(data, size);
  sim::EmulatedDrive drive(ReadConfig(input));

  std::size_t commands = 0;
  // Enough commands for a whole update; each may move up to a MiB, so not many more.
  while (input.Remaining() >= 12 && commands < 32) {
    std::uint8_t cdb[12];
    for (std::uint8_t& byte : cdb) byte = input.Byte();
    const std::uint8_t direction = input.Byte();
    const bool dataIn = (direction & 0x01) != 0;
    std::uint32_t length = input.U16();
    if ((direction & 0x0C) == 0x0C) length <<= 4;

    std::unique_ptr<std::uint8_t[]> buffer;
    if (length != 0 || (direction & 0x02) == 0) buffer.reset(new std::uint8_t[std::max<std::uint32_t>(length, 1)]);
    std::vector<std::uint8_t> sent;
    if (dataIn) {
      // A pattern in the buffer shows what the drive wrote.
      std::fill_n(buffer.get(), length, static_cast<std::uint8_t>(direction ^ 0xA5));
    } else {
      sent = input.Take(length);
      sent.resize(length, 0);
      if (length != 0) std::memcpy(buffer.get(), sent.data(), length);
    }

    const sim::CommandResult result = drive.Execute(cdb, dataIn, buffer.get(), length);
    ++commands;
    CheckResult(result, length);
    if (dataIn) {
      // Nothing past what the drive reports as transferred is written.
      const std::uint8_t* untouched = buffer.get() + std::min(result.Transferred, length);
      const std::uint8_t* end = buffer.get() + length;
      FUZZ_CHECK(std::all_of(untouched, end,
                             [&](std::uint8_t b) { return b == static_cast<std::uint8_t>(direction ^ 0xA5); }));
    } else if (length != 0) {
      // Data sent to the drive stays as the host wrote it.
      FUZZ_CHECK(std::memcmp(buffer.get(), sent.data(), length) == 0);
    }
  }
  FUZZ_CHECK(drive.Log().size() == commands);
  FUZZ_CHECK(drive.Flash().size() <= sim::kImageAreaSize);
  return 0;
}
