#include "cli/Trace.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "drive/Cddrive.h"
#include "drive/CommandObserver.h"
#include "payload/ImageKind.h"
#include "payload/IntegrityRecord.h"
#include "payload/PayloadBlock.h"
#include "sys/Directory.h"
#include "sys/Files.h"
#include "sys/Sha256.h"
#include "sys/Text.h"
#include "sys/Version.h"

namespace cli {
namespace {

// "2024-05-01T12:34:56.789Z": UTC, so that logs from anywhere read alike.
std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[64]; // room for any int the fields could hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds));
  return text;
}

// A device's or a file's text on one log line: control bytes shown as '?'.
std::string OneLine(std::string text) { return sys::PrintableText(std::move(text)); }

// "sim:Drive0  3B 05 00 00 C0 00 00 40 00 00 00 00  out 16384  0.1 ms  GOOD"
std::string CommandLine(const drive::CommandRecord& record) {
  std::string line = record.DevicePath + " ";
  char text[32];
  for (const std::uint8_t byte : record.Cdb) {
    std::snprintf(text, sizeof text, " %02X", static_cast<unsigned>(byte));
    line += text;
  }
  if (record.Length == 0)
    line += "  no data";
  else {
    std::snprintf(text, sizeof text, "  %s %u", record.DataIn ? "in" : "out", static_cast<unsigned>(record.Length));
    line += text;
    // What of a data-in transfer did not arrive: the residual, or that the transport gives none.
    if (record.DataIn && record.Outcome.Reached) {
      if (record.Outcome.ResidualKnown)
        std::snprintf(text, sizeof text, " residual %u", static_cast<unsigned>(record.Outcome.Residual));
      else
        std::snprintf(text, sizeof text, " residual unknown");
      line += text;
    }
  }
  std::snprintf(text, sizeof text, "  %.1f ms  ",
                std::chrono::duration<double, std::milli>(record.Duration).count());
  return line + text + drive::DescribeOutcome(record.Outcome);
}

class Trace final : public drive::CommandObserver {
public:
  void CommandCompleted(const drive::CommandRecord& record) override {
    const std::string line = CommandLine(record);
    if (verbose) {
      std::fprintf(stderr, "%s\n", line.c_str());
      std::fflush(stderr);
    }
    Note(line);
  }
  void Note(const std::string& text) {
    if (log == nullptr || !cutShortReason.empty()) return;
    // A crash or a power cut must not lose the lines before it: flushed each line.
    if (std::fprintf(log, "%s %s\n", Timestamp().c_str(), text.c_str()) < 0 || std::fflush(log) != 0)
      CutShort();
  }
  // A write failed (a full disk, the file size limit): the log ends here, the run goes on.
  void CutShort() {
    if (cutShortReason.empty()) cutShortReason = std::strerror(errno);
  }

  bool verbose = false;
  std::FILE* log = nullptr;
  std::string logFile;
  std::string cutShortReason;
  std::string commandLine;
};

Trace& TheTrace() {
  static Trace trace;
  return trace;
}

} // namespace

void AddTraceOptions(CLI::App& command, TraceOptions& options) {
  command.add_flag("-v,--verbose", options.verbose,
                   "Print every drive command to standard error as it completes: CDB, direction and "
                   "length, duration, outcome with the decoded sense");
  command.add_option("--log", options.logFile,
                     "Write the odflash version, the command line, what the command works on and every "
                     "drive command with a timestamp to FILE (attach it to a support request)")
      ->type_name("FILE");
}

void RememberCommandLine(int argc, char** argv) {
  std::string& line = TheTrace().commandLine;
  line.clear();
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i];
    if (i > 0) line += ' ';
    line += argument.find_first_of(" \t") == std::string::npos ? argument : "\"" + argument + "\"";
  }
}

bool StartTrace(const TraceOptions& options, const std::vector<std::string>& inputs) {
  Trace& trace = TheTrace();
  if (!options.logFile.empty()) {
    // The log is an output like the files build and extract write.
    std::string refusal;
    if (!sys::MayWriteOutputAt(options.logFile, refusal)) {
      PrintError("cannot write the log to " + options.logFile + ": " + refusal + "; nothing was sent to a drive");
      return false;
    }
    std::vector<std::string> ownInputs = inputs;
    ownInputs.push_back(sys::ModulePath());
    for (const std::string& input : ownInputs) {
      if (!input.empty() && sys::SameFile(options.logFile, input)) {
        PrintError("refusing to write the log over " + input + ", one of this run's inputs; nothing was sent "
                   "to a drive");
        return false;
      }
    }
    trace.logFile = options.logFile;
    trace.log = std::fopen(options.logFile.c_str(), "w");
    if (trace.log == nullptr) {
      PrintError("cannot open the log file " + options.logFile + ": " + std::strerror(errno) +
                 "; nothing was sent to a drive");
      return false;
    }
    trace.Note(std::string("odflash ") + sys::OdflashVersion());
    trace.Note("command line: " + OneLine(trace.commandLine));
  }
  trace.verbose = options.verbose;
  if (trace.verbose || trace.log != nullptr) drive::SetCommandObserver(&trace);
  return true;
}

void PrintError(const std::string& what) {
  std::fprintf(stderr, "odflash: %s\n", what.c_str());
  TraceNote("odflash: " + what);
}

void TraceNote(const std::string& text) {
  if (TheTrace().log == nullptr) return;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    TheTrace().Note(OneLine(text.substr(start, end - start)));
  TheTrace().Note(OneLine(text.substr(start)));
}

void TracePayload(const payload::PayloadBlock& block, payload::Integrity integrity) {
  const std::string digest = "flasher Image SHA-256: " + sys::Sha256Hex(block.Image()) + ", integrity " +
                             payload::IntegrityName(integrity);
  if (TheTrace().verbose) {
    std::fprintf(stderr, "%s\n", digest.c_str());
    std::fflush(stderr);
  }
  if (TheTrace().log == nullptr) return;
  TraceNote("flasher Model:        " + block.Model());
  TraceNote("flasher Inquiry:      " + block.Inquiry());
  TraceNote("flasher FW-Range:     " + block.FirmwareRange());
  TraceNote("flasher Vendor:       " + block.Vendor());
  TraceNote("flasher Note:         " + block.Note());
  TraceNote("flasher New revision: " + block.NewRevision());
  TraceNote("flasher Image:        " + std::to_string(block.ImageLength()) + " bytes, " +
            payload::ImageKindName(payload::CheckNewFormatBIN(block.Image())));
  TraceNote(digest);
}

void TraceDrive(const std::string& role, const drive::CDDrive& drive) {
  TraceNote(role + ": " + drive.IdentityText + " (" + drive.DevicePath() + "), vendor and product \"" +
            drive.VendorProductText() + "\", revision \"" + drive.RevisionText() + "\"");
}

void EndTrace(int exitCode) {
  Trace& trace = TheTrace();
  drive::SetCommandObserver(nullptr);
  if (trace.log == nullptr) return;
  trace.Note("exit code " + std::to_string(exitCode));
  if (std::fclose(trace.log) != 0) trace.CutShort();
  trace.log = nullptr;
}

std::string LogCutShortText() {
  const Trace& trace = TheTrace();
  if (trace.cutShortReason.empty()) return "";
  return "the log file " + trace.logFile + " was cut short (" + trace.cutShortReason + ")";
}

} // namespace cli
