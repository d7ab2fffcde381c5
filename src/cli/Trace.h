#pragma once
// The command trace of scan and flash: -v/--verbose prints every drive command to standard
// error as it completes; --log FILE writes the same lines with timestamps, after a header
// (version, command line, and what the command adds: payload fields, the drive's identity),
// whatever the verbosity. One trace per process, ended by main(). A command's failure line goes
// to the log as well.

#include <string>
#include <vector>

namespace CLI {
class App;
}
namespace payload {
class PayloadBlock;
enum class Integrity;
}
namespace drive {
class CDDrive;
}

namespace cli {

struct TraceOptions {
  bool verbose = false;
  std::string logFile;
};

// Declares -v/--verbose and --log FILE on a command.
void AddTraceOptions(CLI::App& command, TraceOptions& options);

// Keeps the command line for the log's header (main() calls it before parsing).
void RememberCommandLine(int argc, char** argv);

// Starts the trace the options ask for. False, with the error printed, when the log file
// cannot be opened or may not be written (a folder, a device, one of inputs or the running
// program); nothing has been sent to a drive then.
bool StartTrace(const TraceOptions& options, const std::vector<std::string>& inputs = {});

// The one-line error every command prints on failure: "odflash: <what>" to stderr, and to the
// log.
void PrintError(const std::string& what);

// Adds a text to the log (no-op without one), each of its lines timestamped like the command
// lines.
void TraceNote(const std::string& text);
// The payload's fields, the image's SHA-256 and the flasher's integrity, and a drive's identity,
// as log lines; -v shows the image's SHA-256 too.
void TracePayload(const payload::PayloadBlock& block, payload::Integrity integrity);
void TraceDrive(const std::string& role, const drive::CDDrive& drive);

// Ends the trace: the exit code goes to the log, which is closed; the observer is removed.
void EndTrace(int exitCode);
// After EndTrace: why the log lacks its end ("the log file F was cut short (reason)"), empty
// when it is whole or there is none.
std::string LogCutShortText();

} // namespace cli
