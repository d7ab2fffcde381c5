#pragma once
// What odflash flash and its --all form share: the options, the JSON event stream, opening the
// flasher and describing the drives.

#include <cstdio>
#include <optional>
#include <string>

#include "builder/PayloadFile.h"
#include "payload/PayloadTexts.h"
#include "cli/FlashEvent.h"
#include "cli/Trace.h"

namespace drive {
class CDDrive;
}

namespace cli {

struct FlashOptions {
  std::string flasher;
  std::string drive;  // list position or device path; empty: the one eligible drive
  bool all = false;   // every eligible drive, each in a worker process of its own
  bool worker = false; // run by --all: only the drive named by --drive (a device path) is probed
  bool yes = false;
  bool allowOlder = false;     // --yes may answer a downgrade
  bool allowReinstall = false; // --yes may answer a reinstall of the same revision
  bool dryRun = false;
  bool noDetach = false; // Linux as root: leave the block driver and media polling alone
  bool restart = false;
  bool json = false;
  std::string simFile;
  TraceOptions trace;
};

// The flasher's payload, with the checks every flash makes before it looks at a drive (a
// builder carries no firmware, a damaged flasher must send none), and the emulated drives of
// --sim in place. Null, with the failure line in error, when the run cannot go on; damaged is
// set when the flasher was refused as damaged.
std::optional<builder::PayloadFile> OpenFlasher(const FlashOptions& options, std::string& error, bool& damaged);

// True when the stream is a terminal.
bool IsTerminal(std::FILE* stream);

// "  N: identity  (device)", as the listing of a failure shows a drive.
std::string DriveLine(int index, const drive::CDDrive& drive);
// What a flasher wants of a drive, in words.
std::string WantedDrive(const payload::PayloadTexts& texts);

// odflash flash --all.
int RunFlashAll(const FlashOptions& options);

} // namespace cli
