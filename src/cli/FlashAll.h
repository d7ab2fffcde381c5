#pragma once
// odflash flash --all: every drive that fits the flasher, each updated by a worker process.

#include "cli/FlashOptions.h"

namespace cli {

// The whole run, from opening the flasher to the summary; the worst exit code of its drives.
int RunFlashAll(const FlashOptions& options);

} // namespace cli
