// odflash flash FLASHER --all: every drive that fits the flasher, updated at once. Each drive
// is updated by a worker process of its own, this program run as "flash FLASHER --drive DEVICE
// --json": the worker takes the drive's update lock and runs the whole single-drive procedure
// with its own transport state. This process only starts the workers, shows their events, passes
// interrupts on and sums up.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/FlashAll.h"
#include "cli/Command.h"
#include "cli/DriveChoice.h"
#include "cli/FlashAllDrive.h"
#include "cli/FlashResults.h"
#include "cli/FlasherFile.h"
#include "cli/Trace.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/Eligibility.h"
#include "payload/PayloadTexts.h"
#include "sys/Directory.h"
#include "sys/StandardStreams.h"
#include "sys/UpdateGuard.h"
#include "sys/WorkerProcess.h"

namespace cli {
namespace {

using Json = nlohmann::ordered_json;

// The live lines are redrawn with terminal escape sequences, which a Windows console shows only
// when asked to; there each status is a line of its own.
#ifdef _WIN32
constexpr bool kRedrawsInPlace = false;
#else
constexpr bool kRedrawsInPlace = true;
#endif

// A worker's end as sys::WorkerProcess::Wait gives it: 128 + the signal where signals end
// processes, the exit code alone on Windows.
#ifdef _WIN32
constexpr bool kEndsBySignal = false;
#else
constexpr bool kEndsBySignal = true;
#endif

// One drive and its worker.
struct DriveRun : DriveProgress {
  std::unique_ptr<sys::WorkerProcess> worker;
};

// The drives, the workers' events and this process's output, under one mutex: the reading
// threads write to it, the main thread draws it.
class Board {
public:
  Board(const FlashOptions& options, std::vector<DriveRun>& runs)
      : options_(options), runs_(runs), events_(options.json), textStream_(TextStream(options)),
        live_(kRedrawsInPlace && sys::IsTerminal(textStream_) && !options.trace.verbose) {}

  // One line of a worker's JSON events.
  void TakeEvent(std::size_t index, const std::string& line) {
    const std::optional<FlashEvent> event = ParseFlashEvent(line);
    if (!event) return;
    std::lock_guard lock(mutex_);
    DriveRun& run = runs_[index];
    run.Take(*event);
    if (!live_) {
      if (const auto* status = std::get_if<StatusEvent>(&*event))
        std::fprintf(textStream_, "%s: %s\n", run.device.c_str(), status->text.c_str());
      else if (const auto* message = std::get_if<MessageEvent>(&*event))
        std::fprintf(textStream_, "%s: %s\n", run.device.c_str(), message->text.c_str());
    }
    // The worker's result is one drive's: the last event of all is the whole run's.
    const std::string name = EventName(*event);
    Json fields = {{"device", run.device}};
    fields.update(EventFields(*event));
    events_.Emit(name == "result" ? "driveResult" : name, fields);
  }

  // A line of a worker's standard error: its failure lines and, with -v, its command trace.
  void TakeText(std::size_t index, const std::string& line) {
    std::lock_guard lock(mutex_);
    const std::string& device = runs_[index].device;
    const std::string text = line.rfind(device, 0) == 0 ? line : device + ": " + line;
    if (options_.trace.verbose) std::fprintf(stderr, "%s\n", text.c_str());
    TraceNote(text);
  }

  void OutputEnded(std::size_t index) {
    std::lock_guard lock(mutex_);
    DriveRun& run = runs_[index];
    run.OutputEnded(run.worker != nullptr);
    changed_.notify_all();
  }

  // Draws the live lines, ten times a second at most, until every worker's output has ended.
  void WaitForAll() {
    std::unique_lock lock(mutex_);
    for (;;) {
      PassOnInterrupt();
      Draw();
      if (std::all_of(runs_.begin(), runs_.end(), [](const DriveRun& run) { return run.ended; })) {
        // The table that follows says it all again.
        if (drawn_) std::fprintf(textStream_, "\033[%zuA\033[J", runs_.size());
        return;
      }
      changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
  }

private:
  void PassOnInterrupt() {
    if (passedOn_ || !sys::StopRequested()) return;
    passedOn_ = true;
    for (DriveRun& run : runs_)
      if (run.worker) run.worker->PassOnHeldRequest();
  }

  // One line per drive, redrawn in place on a terminal.
  void Draw() {
    if (!live_) return;
    if (drawn_) std::fprintf(textStream_, "\033[%zuA", runs_.size());
    for (const DriveRun& run : runs_) std::fprintf(textStream_, "\r\033[K%s\n", LiveLine(run).c_str());
    std::fflush(textStream_);
    drawn_ = true;
  }

  const FlashOptions& options_;
  std::vector<DriveRun>& runs_;
  EventStream events_;
  std::FILE* const textStream_;
  bool live_;
  bool drawn_ = false;
  bool passedOn_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
};

// The drives that fit, in list order; kExitSuccess, or why none is updated.
int FindEligibleDrives(const payload::PayloadBlock& block, std::vector<DriveRun>& runs, std::string& error) {
  const drive::CDDrives drives;
  const payload::PayloadTexts texts = payload::MakePayloadTexts(block);
  const std::vector<flash::DriveFit> found = flash::MatchDrives(drives, texts);
  for (const flash::DriveFit& candidate : found) {
    if (!candidate.fits) continue;
    DriveRun run;
    run.device = candidate.drive->DevicePath();
    run.identity = candidate.drive->IdentityText;
    run.revisionBefore = run.revisionAfter = candidate.drive->RevisionText();
    runs.push_back(std::move(run));
  }
  for (const std::string& path : drives.BusyDevicePaths())
    PrintError("drive " + path + " is left alone: " + drive::kRefusedBeingUpdated);
  if (!runs.empty()) return kExitSuccess;
  if (!drives.BusyDevicePaths().empty()) {
    error = "no drive left to update: every drive that could fit is being updated";
    return kExitDriveInUse;
  }
  error = drives.Count() == 0 ? "no optical drive found"
                              : "no drive fits this flasher (it wants " + WantedDrive(texts) +
                                    "); the drives found are:\n" + FitListing(found);
  return kExitNoEligibleDrive;
}

// The worker's command line: the single-drive flash with this run's answers and options.
std::vector<std::string> WorkerArguments(const FlashOptions& options, const std::string& device) {
  std::vector<std::string> arguments = {"flash", options.flasher, "--drive", device, "--worker", "--json"};
  const std::pair<bool, const char*> flags[] = {{options.yes, "--yes"},
                                                {options.allowOlder, "--allow-older"},
                                                {options.allowReinstall, "--allow-reinstall"},
                                                {options.dryRun, "--dry-run"},
                                                {options.noDetach, "--no-detach"},
                                                {options.trace.verbose || !options.trace.logFile.empty(), "-v"}};
  for (const auto& [set, flag] : flags)
    if (set) arguments.push_back(flag);
  if (!options.simFile.empty()) arguments.insert(arguments.end(), {"--sim", options.simFile});
  return arguments;
}

// A worker that ended without its result (killed, crashed): how it ended and what the last phase
// it reported means for its drive. From the first write to drive memory on, the drive may be
// mid-update, and a failed flash's exit code says so.
void ReportDeadWorker(DriveRun& run, int ended) {
  struct PhaseMeaning {
    std::optional<flash::FlashPhase> phase; // none: before the worker reported one
    const char* when;
    bool mayHaveWritten;
  };
  static constexpr PhaseMeaning kPhases[] = {
      {std::nullopt, "before it reported a phase", false},
      {flash::FlashPhase::ReadyWait, "while waiting for the drive to be ready", false},
      {flash::FlashPhase::Profile, "during the profile upload", true},
      {flash::FlashPhase::Upload, "during the image upload", true},
      {flash::FlashPhase::EntryCritical, "while entering the critical phase", true},
      {flash::FlashPhase::Verify, "during the read-back", true},
      {flash::FlashPhase::Flash, "during the commit", true},
      {flash::FlashPhase::Done, "after its last drive command", true},
  };
  const PhaseMeaning* meaning = nullptr;
  for (const PhaseMeaning& candidate : kPhases)
    if (run.phase == (candidate.phase ? PhaseName(*candidate.phase) : kNoPhaseYet)) meaning = &candidate;
  const bool knownPhase = meaning != nullptr;
  const std::string how = kEndsBySignal && ended > 128 && ended < 128 + 65
                              ? "ended by signal " + std::to_string(ended - 128)
                              : "ended with exit code " + std::to_string(ended);
  const bool mayHaveWritten = !knownPhase || meaning->mayHaveWritten;
  run.outcome = ResultOf(RunEnd::WorkerDied).name;
  run.exitCode = ResultOf(RunEnd::WorkerDied).exitCode;
  run.error = how + " " + (knownPhase ? std::string(meaning->when) : "in phase " + run.phase) + ": " +
              (mayHaveWritten ? "the drive may be mid-update; do not power it off, run the update again"
                              : "nothing was written to the drive");
}

// Starts every worker at once: each probes only its own drive, so none disturbs another's.
void RunWorkers(const FlashOptions& options, std::vector<DriveRun>& runs, Board& board,
                std::vector<std::thread>& readers) {
  const std::string program = sys::ModulePath();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    DriveRun& run = runs[i];
    if (sys::StopRequested()) {
      run.outcome = ResultOf(flash::FlashOutcome::Interrupted).name;
      run.exitCode = sys::HeldRequestExitCode();
      run.error = "interrupted; nothing was sent to the drive";
      board.OutputEnded(i);
      continue;
    }
    std::string error;
    run.worker = sys::WorkerProcess::Start(program, WorkerArguments(options, run.device), error);
    if (!run.worker) {
      run.error = error;
      board.OutputEnded(i);
      continue;
    }
    sys::WorkerProcess& worker = *run.worker;
    readers.emplace_back([&board, &worker, i] {
      for (std::string line; worker.ReadOutputLine(line);) board.TakeEvent(i, line);
      board.OutputEnded(i);
    });
    readers.emplace_back([&board, &worker, i] {
      for (std::string line; worker.ReadErrorLine(line);) board.TakeText(i, line);
    });
  }
  board.WaitForAll();
  for (std::thread& reader : readers) reader.join();
  for (DriveRun& run : runs) {
    if (!run.worker) continue;
    const int ended = run.worker->Wait();
    if (run.resultSeen)
      run.exitCode = ended;
    else
      ReportDeadWorker(run, ended);
  }
}

void PrintTable(const std::vector<DriveRun>& runs, std::FILE* out) {
  std::fprintf(out, "%-14s %-40s %-6s %-6s %s\n", "Drive", "Identity", "Before", "After", "Outcome");
  for (const DriveRun& run : runs)
    std::fprintf(out, "%-14s %-40s %-6s %-6s %s\n", run.device.c_str(), run.identity.c_str(),
                 run.revisionBefore.c_str(), run.revisionAfter.c_str(), run.outcome.c_str());
  for (const DriveRun& run : runs)
    if (!run.error.empty()) PrintError(run.device + ": " + run.error);
}

Json Summary(const std::vector<DriveRun>& runs) {
  Json drives = Json::array();
  for (const DriveRun& run : runs) {
    Json entry = {{"device", run.device},          {"identity", run.identity},
                  {"revisionBefore", run.revisionBefore}, {"revisionAfter", run.revisionAfter},
                  {"outcome", run.outcome},         {"exitCode", run.exitCode}};
    if (!run.error.empty()) entry["error"] = run.error;
    if (run.outcome == ResultOf(RunEnd::WorkerDied).name) entry["lastPhase"] = run.phase;
    drives.push_back(entry);
  }
  return drives;
}

} // namespace

int RunFlashAll(const FlashOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<DriveRun> runs;
  std::string error;
  int code = kExitSuccess;
  if (!StartTrace(options.trace, {options.flasher, options.simFile})) return kExitFailure;
  bool damaged = false;
  if (const auto payload = OpenFlasher(options, error, damaged); !payload) {
    code = kExitFailure;
  } else {
    code = FindEligibleDrives(payload->View(), runs, error);
  }
  if (code == kExitSuccess) {
    // Interrupts are held for as long as any worker runs, and passed on to them: a worker
    // stops cleanly before it writes, or finishes its drive.
    sys::UpdateGuard guard("odflash");
    sys::EnterCriticalPhase();
    Board board(options, runs);
    std::vector<std::thread> readers;
    RunWorkers(options, runs, board, readers);
    PrintTable(runs, TextStream(options));
    for (const DriveRun& run : runs) code = WorseExitCode(code, run.exitCode);
    code = WorseExitCode(code, sys::HeldRequestExitCode());
  } else {
    PrintError(error);
  }
  Json result = {{"exitCode", code}, {"dryRun", options.dryRun}, {"drives", Summary(runs)}};
  if (damaged) result["outcome"] = ResultOf(RunEnd::Damaged).name;
  if (!error.empty()) result["error"] = error;
  result["durationMs"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  EventStream(options.json).Emit("result", result);
  return code;
}

} // namespace cli
