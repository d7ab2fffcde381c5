// The emulated drive's INI file: the parser, then drives built from what it accepted answering
// their first commands.
//
// Input: the file's text as it is.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "sim/EmulatedDrive.h"
#include "sim/SimConfig.h"

namespace {

void CheckValues(const sim::DriveConfig& config) {
  FUZZ_CHECK(config.Vendor.size() <= 8 && config.Product.size() <= 16 && config.Revision.size() <= 4);
  FUZZ_CHECK(config.InquiryLength <= 255);
  for (const sim::CommandFault& fault : config.Faults) FUZZ_CHECK(fault.Nth >= 1);
}

void CheckDrive(sim::DriveConfig config) {
  // No log or state file, no modelled time and no held command: the fuzzer must neither touch
  // files, sleep nor wait.
  config.LogPath.clear();
  config.StatePath.clear();
  config.Hold.reset();
  config.LatencyMicroseconds = 0;
  config.BusBytesPerSecond = 0;
  config.CommitMilliseconds = 0;
  sim::EmulatedDrive drive(config);

  const std::uint8_t inquiry[12] = {0x12, 0, 0, 0, 0xFF, 0};
  std::vector<std::uint8_t> answer(sim::kInquiryDataSize);
  const sim::CommandResult result = drive.Execute(inquiry, true, answer.data(), static_cast<std::uint32_t>(answer.size()));
  FUZZ_CHECK(result.Transferred <= answer.size() && result.Transferred <= config.InquiryLength);
  FUZZ_CHECK(result.SenseLength <= sim::kSenseLength);
  if (result.Delivered && !result.TimedOut && result.Status == 0 && result.Transferred >= 16) {
    std::string vendor = config.Vendor.substr(0, 8);
    vendor.resize(8, ' ');
    FUZZ_CHECK(std::memcmp(answer.data() + 8, vendor.data(), 8) == 0);
  }
  const std::uint8_t testUnitReady[12] = {};
  const sim::CommandResult ready = drive.Execute(testUnitReady, false, nullptr, 0);
  FUZZ_CHECK(ready.SenseLength <= sim::kSenseLength);
  FUZZ_CHECK(drive.Log().size() == 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sim::SimConfig config;
  std::string error;
  if (!sim::ParseSimConfig(text, config, error)) {
    FUZZ_CHECK(error.rfind("line ", 0) == 0 || error == "no [Drive0] section");
    return 0;
  }
  FUZZ_CHECK(!config.empty());
  for (const sim::DriveConfig& drive : config) CheckValues(drive);
  // A drive holds over half a MiB of memory: a few are enough to run.
  for (std::size_t i = 0; i < config.size() && i < 4; ++i) CheckDrive(config[i]);
  return 0;
}
