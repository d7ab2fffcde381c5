#pragma once
// The options of odflash flash, which its --all form passes on to each drive's worker.

#include <cstdio>
#include <string>

#include "cli/Trace.h"

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

// Where a flash prints its text for people: standard error with --json, whose events take
// standard output; standard output otherwise.
inline std::FILE* TextStream(const FlashOptions& options) { return options.json ? stderr : stdout; }

} // namespace cli
