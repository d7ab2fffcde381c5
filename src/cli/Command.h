#pragma once
// The command line's subcommands. Each command lives in its own Command*.cpp; main() lists
// them in one table, parses and runs the one the user named.

#include <functional>

namespace CLI {
class App;
}

namespace cli {

// Exit codes shared by every command (documented in --help and the README).
enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailure = 1,         // bad input file, I/O error, refused build
  kExitUsage = 2,           // wrong arguments
  kExitNoEligibleDrive = 3, // no drive fits the flasher's payload
  kExitDeclined = 4,        // the update question was answered No
  kExitDriveCommand = 5,    // a drive command failed
  kExitVerifyMismatch = 6,  // read-back differs from what was written
  kExitFlashFailed = 7,     // the drive did not commit the image
  kExitDriveInUse = 8,      // the drive is mounted, held by another program, or being updated
};

// Each command's set-up: called with the subcommand's CLI11 object to declare its options;
// returns the action that runs the command once parsing succeeded.
std::function<int()> SetUpScan(CLI::App& command);
std::function<int()> SetUpModels(CLI::App& command);
std::function<int()> SetUpInfo(CLI::App& command);
std::function<int()> SetUpExtract(CLI::App& command);
std::function<int()> SetUpBuild(CLI::App& command);
std::function<int()> SetUpFlash(CLI::App& command);

// Warns of what an update that ended early left changed on the system (a drive left detached
// from its block driver) and how it is put back; scan and flash print it before enumerating.
void PrintLeftToRestore();

// Every --json output carries this version of its shape.
inline constexpr int kJsonSchemaVersion = 1;

} // namespace cli
