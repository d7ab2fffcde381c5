#pragma once
// Reading a flasher (or builder) file, as info, extract, build and flash do.

#include <optional>
#include <string>

#include "builder/PayloadFile.h"
#include "cli/FlashOptions.h"
#include "payload/IntegrityRecord.h"

namespace cli {

// The payload block of a flasher (or builder) file. On failure error is the command's one-line
// reason; a file without a block is named as no flasher, with how to build one.
std::optional<builder::PayloadFile> ReadFlasherFile(const std::string& path, std::string& error);

// A flasher's integrity for info and build: its name and what it means.
std::string IntegrityText(payload::Integrity integrity);

// The flasher's payload, with the checks every flash makes before it looks at a drive (a
// builder carries no firmware, a damaged flasher must send none), and the emulated drives of
// --sim in place. Null, with the failure line in error, when the run cannot go on; damaged is
// set when the flasher was refused as damaged.
std::optional<builder::PayloadFile> OpenFlasher(const FlashOptions& options, std::string& error, bool& damaged);

} // namespace cli
