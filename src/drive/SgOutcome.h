#pragma once
// The SG_IO header's result fields turned into the drive layer's one command outcome. Kept
// apart from the ioctl so that every combination of status, host, driver and sense can be
// tested without a kernel.

#include <cstdint>

#include "drive/CommandOutcome.h"

namespace drive {

// The fields of sg_io_hdr that tell what became of a command.
struct SgResult {
  int IoctlError = 0; // errno of a failed ioctl, 0 when the ioctl returned 0
  std::uint8_t Status = 0;
  std::uint16_t HostStatus = 0;
  std::uint16_t DriverStatus = 0;
  const std::uint8_t* Sense = nullptr;
  std::uint8_t SenseWritten = 0; // sb_len_wr
  int Residual = 0;
};

CommandOutcome OutcomeFromSg(const SgResult& result);

} // namespace drive
