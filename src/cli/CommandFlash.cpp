// odflash flash FLASHER: updates a drive with the firmware a flasher file carries, with the
// window's checks (eligibility, the update question) and a progress display on the terminal.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define ODFLASH_ISATTY _isatty
#define ODFLASH_FILENO _fileno
#else
#include <unistd.h>
#define ODFLASH_ISATTY isatty
#define ODFLASH_FILENO fileno
#endif

#include "builder/FlasherIntegrity.h"
#include "builder/PayloadFile.h"
#include "builder/RoutineStoreFile.h"
#include "cli/Command.h"
#include "cli/FlashCommand.h"
#include "cli/FlashResults.h"
#include "cli/Trace.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/Eligibility.h"
#include "flash/FlashProcedure.h"
#include "flash/UpdateQuestion.h"
#include "payload/PayloadTexts.h"
#include "sys/Messages.h"
#include "sys/StandardStreams.h"
#include "sys/Text.h"
#include "sys/UpdateGuard.h"

namespace cli {
namespace {

// The procedure's sink for a terminal: each status caption on its own line, followed by a
// percentage and byte count that is redrawn in place on a terminal and printed at every
// quarter otherwise. With --json the same goes to standard error and every step is also an
// event on standard output.
class TerminalSink final : public flash::FlashSink {
public:
  // update: what the update question is about, by the revisions d (the drive's) and n (the
  // flasher's).
  TerminalSink(const FlashOptions& options, flash::UpdateKind update, std::string d, std::string n,
               EventStream& events)
      : options_(options), update_(update), driveRevision_(std::move(d)), carriedRevision_(std::move(n)),
        events_(events),
        out_(options.json ? stderr : stdout), interactive_(sys::IsTerminal(out_)) {}

  void SetStatus(const std::string& text) override {
    EndProgressLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    status_ = text;
    events_.Emit(StatusEvent{status_});
    TraceNote(status_);
  }
  void AppendStatus(const std::string& suffix) override {
    EndProgressLine();
    status_ += suffix;
    std::fprintf(out_, "%s\n", status_.c_str());
    std::fflush(out_);
    events_.Emit(StatusEvent{status_});
    TraceNote(status_);
  }
  void SetProgressRange(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t) override {
    minimum_ = minimum;
    maximum_ = maximum;
    shownPercent_ = -1;
  }
  void SetProgressPosition(std::uint32_t position) override {
    // The Flash command's bar (0 to 200) says nothing a caption does not; the final 0 resets.
    if (phase_ != flash::FlashPhase::Upload && phase_ != flash::FlashPhase::Verify) return;
    if (maximum_ <= minimum_) return;
    events_.Emit(ProgressEvent{phase_, position - minimum_, maximum_ - minimum_});
    const int percent = static_cast<int>(100.0 * (position - minimum_) / (maximum_ - minimum_));
    const bool due = shownPercent_ < 0 || (interactive_ ? percent != shownPercent_ : percent / 25 != shownPercent_ / 25);
    if (!due) return;
    shownPercent_ = percent;
    std::fprintf(out_, interactive_ ? "\r  %3d%%  %u of %u bytes" : "  %3d%%  %u of %u bytes\n", percent,
                 static_cast<unsigned>(position - minimum_), static_cast<unsigned>(maximum_ - minimum_));
    std::fflush(out_);
    progressLineOpen_ = interactive_;
  }
  void EnterPhase(flash::FlashPhase phase) override {
    // From the answered question on, Ctrl+C, a closed terminal or a kill waits for the drive;
    // at the question itself it still ends the program at once.
    if (phase == flash::FlashPhase::ReadyWait && !guard_) guard_.emplace("odflash");
    EndProgressLine();
    phase_ = phase;
    shownPercent_ = -1;
    events_.Emit(PhaseEvent{phase});
  }
  void ShowMessage(const std::string& text, sys::MessageKind kind) override {
    EndProgressLine();
    std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
    events_.Emit(MessageEvent{kind, TerminalText(text)});
    TraceNote(TerminalText(text));
  }
  bool AskRestart(const std::string& text) override {
    EndProgressLine();
    if (options_.restart) {
      std::fprintf(out_, "Restarting the computer (--restart).\n");
    } else {
      std::fprintf(out_, "Restart the computer for the new firmware to take effect "
                         "(--restart has odflash request it).\n");
    }
    events_.Emit(QuestionEvent{std::nullopt, TerminalText(text), options_.restart, "option"});
    return options_.restart;
  }
  bool Ask(const std::string& text, sys::MessageKind) override {
    EndProgressLine();
    std::fprintf(out_, "%s\n", TerminalText(text).c_str());
    const char* answeredBy = "option";
    const bool answer = AnswerUpdate(answeredBy);
    events_.Emit(QuestionEvent{update_, TerminalText(text), answer, answeredBy});
    return answer;
  }
  void SetBusy(bool) override {}
  void DriveRefreshed(const std::string& identity) override {
    EndProgressLine();
    std::fprintf(out_, "Drive now reports: %s\n", identity.c_str());
  }

  // Why the update question was declined (empty when it was answered yes).
  const std::string& DeclineReason() const { return declineReason_; }

private:
  // --yes answers a plain update; a downgrade or a reinstall only with its own option as well.
  // Whatever --yes does not answer, a person at the terminal may.
  bool AnswerUpdate(const char*& answeredBy) {
    const std::string& d = driveRevision_;
    const std::string& n = carriedRevision_;
    std::string unanswered = "no answer on a terminal; --yes answers it";
    bool allowed = true;
    if (update_ == flash::UpdateKind::Downgrade) {
      allowed = options_.allowOlder;
      unanswered = "the flasher's firmware " + n + " is older than the drive's " + d +
                   "; --yes answers a downgrade only with --allow-older";
    } else if (update_ == flash::UpdateKind::Reinstall) {
      allowed = options_.allowReinstall;
      unanswered = "the drive already runs firmware " + d +
                   "; --yes answers a reinstall only with --allow-reinstall";
    }
    if (options_.yes && allowed) {
      std::fprintf(out_, "Answered yes (--yes).\n");
      return true;
    }
    const bool atTerminal = ODFLASH_ISATTY(ODFLASH_FILENO(stdin)) != 0;
    if (atTerminal) {
      std::fprintf(out_, "Update the drive? [y/N] ");
      std::fflush(out_);
    }
    std::string answer;
    // End of input is no one answering too (Wine takes /dev/null for a terminal).
    if (!atTerminal || !std::getline(std::cin, answer)) {
      if (atTerminal) std::fprintf(out_, "\n");
      answeredBy = "none";
      declineReason_ = unanswered;
      return false;
    }
    answeredBy = "terminal";
    const bool yes = answer == "y" || answer == "Y" || answer == "yes";
    if (!yes) declineReason_ = "answered no";
    return yes;
  }

  void EndProgressLine() {
    if (!progressLineOpen_) return;
    std::fprintf(out_, "\n");
    progressLineOpen_ = false;
  }

  const FlashOptions& options_;
  flash::UpdateKind update_;
  std::string driveRevision_, carriedRevision_;
  EventStream& events_;
  std::FILE* out_;
  bool interactive_;
  std::optional<sys::UpdateGuard> guard_;
  std::string status_;
  std::string declineReason_;
  flash::FlashPhase phase_ = flash::FlashPhase::ReadyWait;
  std::uint32_t minimum_ = 0, maximum_ = 0;
  int shownPercent_ = -1;
  bool progressLineOpen_ = false;
};

// What the JSON result reports of a run, filled in as the run goes.
struct RunRecord {
  std::string outcome = ResultOf(RunEnd::NotStarted).name; // the procedure's outcome once it ran
  std::string error;                  // the failure line without "odflash: "
  std::optional<EventDrive> drive;    // none until a drive was chosen
  std::string revisionBefore, revisionAfter;
};

// Every failure line of the command goes through here, so that the JSON result repeats it.
void Fail(RunRecord& record, const std::string& what) {
  PrintError(what);
  record.error = what;
}

// A drive that another odflash process or another program holds; name: its identity and device
// path, or the device path alone of a drive that enumeration left alone.
int RefuseDriveInUse(const std::string& name, const std::string& refusal, RunRecord& record) {
  Fail(record, "cannot update drive " + name + ": " + refusal + "; nothing was sent to it");
  return kExitDriveInUse;
}

// The drives that enumeration left alone because they are being updated; kExitDriveInUse.
int RefuseBusyDrives(const drive::CDDrives& drives, RunRecord& record) {
  for (const std::string& path : drives.BusyDevicePaths())
    RefuseDriveInUse(path, drive::kRefusedBeingUpdated, record);
  return kExitDriveInUse;
}

// Picks the drive to update: the one named by --drive, else the only eligible one. A drive being
// updated by another odflash process was not probed: when it is the one wanted, or no listed
// drive fits, the answer is kExitDriveInUse.
drive::CDDrive* ChooseDrive(const drive::CDDrives& drives, const payload::PayloadTexts& texts,
                            const FlashOptions& options, int& exitCode, RunRecord& record) {
  const std::vector<std::string>& busy = drives.BusyDevicePaths();
  std::vector<int> eligible;
  std::string listing;
  for (int i = 0; i < drives.Count(); ++i) {
    const drive::CDDrive& candidate = *drives.Drive(i);
    const bool fits =
        flash::DriveIsEligible(texts, candidate.VendorProductText(), candidate.RevisionText());
    if (fits) eligible.push_back(i);
    listing += DriveLine(i, candidate) + (fits ? "  fits\n" : "  does not fit\n");
  }
  const std::string wanted = WantedDrive(texts);
  if (!options.drive.empty() && std::find(busy.begin(), busy.end(), options.drive) != busy.end()) {
    exitCode = RefuseDriveInUse(options.drive, drive::kRefusedBeingUpdated, record);
    return nullptr;
  }
  if (!busy.empty() && (drives.Count() == 0 || (options.drive.empty() && eligible.empty()))) {
    exitCode = RefuseBusyDrives(drives, record);
    return nullptr;
  }
  if (drives.Count() == 0) {
    Fail(record, "no optical drive found");
    exitCode = kExitNoEligibleDrive;
    return nullptr;
  }
  if (!options.drive.empty()) {
    int chosen = -1;
    for (int i = 0; i < drives.Count(); ++i) {
      if (drives.Drive(i)->DevicePath() == options.drive || std::to_string(i) == options.drive) chosen = i;
    }
    if (chosen < 0) {
      Fail(record, "no drive " + options.drive + "; the drives found are:\n" + listing);
      exitCode = kExitUsage;
      return nullptr;
    }
    if (std::find(eligible.begin(), eligible.end(), chosen) == eligible.end()) {
      Fail(record, "drive " + options.drive + " does not fit this flasher (it wants " + wanted +
                 "):\n" + DriveLine(chosen, *drives.Drive(chosen)));
      exitCode = kExitNoEligibleDrive;
      return nullptr;
    }
    return drives.Drive(chosen);
  }
  if (eligible.empty()) {
    Fail(record, "no drive fits this flasher (it wants " + wanted + "); the drives found are:\n" + listing);
    exitCode = kExitNoEligibleDrive;
    return nullptr;
  }
  if (eligible.size() > 1) {
    Fail(record, "several drives fit this flasher; name one with --drive:\n" + listing);
    exitCode = kExitUsage;
    return nullptr;
  }
  return drives.Drive(eligible.front());
}

// The command line's own account of a run, after the system's messages: the final line of a
// success (printed to out), or the one failure line "<what failed>: <reason>" in failure.
struct Account {
  int code = kExitFailure;
  std::string line;
  bool failed = true;
};

Account Report(flash::FlashOutcome outcome, const flash::FlashProcedure& procedure,
               const flash::FlashRequest& request, const drive::CDDrive& target, const TerminalSink& sink) {
  const FlashResult& result = ResultOf(outcome);
  const std::string line = result.build ? result.build(procedure, request) : std::string(result.line);
  // An interrupt's code replaces the exit code once the run ends.
  const int code = result.exitCode == kExitOfItsCause ? kExitFailure : result.exitCode;
  if (code == kExitSuccess) return {code, line, false};
  std::string reason;
  switch (result.reason) {
  case FailureReason::None: break;
  case FailureReason::DriveAnswer: {
    // The drive's answer to the command that failed, when a command did.
    const drive::CommandOutcome& last = target.LastOutcome();
    if (!last.Succeeded()) reason = drive::DescribeOutcome(last);
    break;
  }
  case FailureReason::DeclineReason: reason = sink.DeclineReason(); break;
  }
  return {code, reason.empty() ? line : line + ": " + reason, true};
}

int RunFlash(const FlashOptions& options, RunRecord& record) {
  if (!StartTrace(options.trace, {options.flasher, options.simFile})) return kExitFailure;
  std::string error;
  bool damaged = false;
  const auto payload = OpenFlasher(options, error, damaged);
  if (!payload) {
    if (damaged) record.outcome = ResultOf(RunEnd::Damaged).name;
    Fail(record, error);
    return kExitFailure;
  }
  const payload::PayloadBlock block = payload->View();
  drive::State().DetachDriver = !options.noDetach;
  PrintLeftToRestore();
  const drive::CDDrives drives(options.worker ? options.drive : std::string());
  const payload::PayloadTexts texts = payload::MakePayloadTexts(block);
  int exitCode = kExitSuccess;
  drive::CDDrive* target = ChooseDrive(drives, texts, options, exitCode, record);
  if (target == nullptr) return exitCode;
  record.drive = EventDrive{target->IdentityText, target->DevicePath()};
  record.revisionBefore = record.revisionAfter = target->RevisionText();
  TraceDrive("chosen drive", *target);
  // Held until the run ends: no other odflash process may update or even probe the drive.
  std::string refusal;
  const std::unique_ptr<drive::UpdateLock> updateLock = target->LockForUpdate(refusal);
  if (!updateLock)
    return RefuseDriveInUse(target->IdentityText + " (" + target->DevicePath() + ")", refusal, record);
  // What taking the drive found: programs that may still send it commands, an exclusive access
  // the system does not offer.
  for (const std::string& note : updateLock->Notes) TraceNote(note);
  for (const std::string& warning : updateLock->Warnings) {
    PrintError("warning: drive " + target->DevicePath() + ": " + warning);
    EventStream(options.json).Emit(WarningEvent{warning});
  }
  std::FILE* out = options.json ? stderr : stdout;
  std::fprintf(out, "Drive:    %s (%s)\nFirmware: %s %s, revision %s, %u bytes\n", target->IdentityText.c_str(),
               target->DevicePath().c_str(), texts.VendorName.c_str(), texts.ModelName.c_str(),
               sys::PrintableText(block.NewRevision()).c_str(), static_cast<unsigned>(block.ImageLength()));

  // The window lends its transfer buffer to the drive layer in the same way.
  std::vector<std::uint8_t> transferBuffer(flash::kChunkSize);
  drive::CDDrive::SetBuffer(transferBuffer.data(), static_cast<std::uint32_t>(transferBuffer.size()));
  flash::FlashRequest request = flash::MakeFlashRequest(block);
  request.stopBeforeFlash = options.dryRun;

  const flash::UpdateQuestion question =
      flash::MakeUpdateQuestion(target->RevisionText(), request.carriedRevision, request.anyFirmware);
  EventStream events(options.json);
  TerminalSink sink(options, question.update, target->RevisionText(), request.carriedRevision, events);
  flash::FlashProcedure procedure(sink);
  const flash::FlashOutcome outcome = procedure.Run(*target, request);
  const Account account = Report(outcome, procedure, request, *target, sink);
  drive::CDDrive::SetBuffer(nullptr, 0);
  record.outcome = ResultOf(outcome).name;
  record.drive->identity = target->IdentityText; // refreshed by a successful update
  record.revisionAfter = target->RevisionText();
  if (!account.failed) std::fprintf(out, "%s\n", account.line.c_str());
  else if (!account.line.empty()) Fail(record, account.line);
  // An interrupt held during the run ends the program as the interrupt would have (asked
  // while the sink still holds the guard).
  if (const int interrupted = sys::HeldRequestExitCode(); interrupted != 0) return interrupted;
  return account.code;
}

// The run, then (with --json) its result as the last event.
int RunFlashCommand(const FlashOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  RunRecord record;
  const int code = RunFlash(options, record);
  ResultEvent result;
  result.outcome = record.outcome;
  result.exitCode = code;
  result.dryRun = options.dryRun;
  result.drive = record.drive;
  if (!record.revisionBefore.empty()) result.revisionBefore = record.revisionBefore;
  if (!record.revisionAfter.empty()) result.revisionAfter = record.revisionAfter;
  result.durationMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  if (!record.error.empty()) result.error = record.error;
  EventStream(options.json).Emit(result);
  return code;
}

} // namespace

std::optional<builder::PayloadFile> OpenFlasher(const FlashOptions& options, std::string& error, bool& damaged) {
  damaged = false;
  auto payload = ReadFlasherFile(options.flasher, error);
  if (!payload) return std::nullopt;
  const payload::Integrity integrity = builder::CheckFlasherFile(options.flasher, *payload);
  TracePayload(payload->View(), integrity);
  if (payload->View().HasBuilderTag()) {
    error = options.flasher + " is a builder, not a flasher: it carries no firmware";
    return std::nullopt;
  }
  if (integrity == payload::Integrity::Damaged) {
    damaged = true;
    error = options.flasher + ": " + payload::kDamagedFlasherText;
    return std::nullopt;
  }
  if (!options.simFile.empty() && !drive::UseEmulatedDrivesFromFile(options.simFile, error)) return std::nullopt;
  // The flasher's own routines go to the drive, as they would when it ran itself; a flasher
  // made before flashers carried a store block gets this program's.
  if (const auto store = builder::ReadRoutineStoreFromFile(options.flasher, payload->MarkerOffset))
    flash::UseRoutineStore(std::span<const std::uint8_t, flash::kRoutineStoreSize>(store->Store.data(),
                                                                                   flash::kRoutineStoreSize));
  return payload;
}

bool IsTerminal(std::FILE* stream) { return sys::IsTerminal(stream); }

std::string DriveLine(int index, const drive::CDDrive& drive) {
  return "  " + std::to_string(index) + ": " + drive.IdentityText + "  (" + drive.DevicePath() + ")";
}

std::string WantedDrive(const payload::PayloadTexts& texts) {
  return sys::PrintableText("a " + texts.InquiryId + " drive with firmware " + texts.FirmwareLow + " to " +
                            texts.FirmwareHigh);
}

std::function<int()> SetUpFlash(CLI::App& command) {
  auto options = std::make_shared<FlashOptions>();
  // A path such as /tmp/1.10.EXE (Wine, MSYS) is a file here, never a "/option".
  command.allow_windows_style_options(false);
  command.add_option("FLASHER", options->flasher, "Flasher executable carrying the firmware")
      ->required();
  CLI::Option* drive = command.add_option("--drive", options->drive,
                                          "Drive to update: its number in the list of drives found (from 0) or "
                                          "its device path; needed when several drives fit");
  CLI::Option* all = command.add_flag("--all", options->all,
                                      "Update every drive that fits the flasher, all at once (each drive with its "
                                      "own questions, failures and outcome; the exit code is the worst)");
  all->excludes(drive);
  // Not for people: how --all runs each drive.
  command.add_flag("--worker", options->worker)->group("")->needs(drive)->excludes(all);
  command.add_flag("--yes", options->yes,
                   "Answer the update question with yes when it offers a newer revision "
                   "(a downgrade or a reinstall needs --allow-older or --allow-reinstall too)");
  command.add_flag("--allow-older", options->allowOlder,
                   "With --yes: also answer yes when the flasher's firmware is older than the drive's");
  command.add_flag("--allow-reinstall", options->allowReinstall,
                   "With --yes: also answer yes when the drive already runs the flasher's revision");
  command.add_flag("--dry-run", options->dryRun,
                   "Write and verify the image in drive memory, then stop before the Flash "
                   "command; Entry critical is not sent either (the drive's flash is not changed)");
  command.add_flag("--no-detach", options->noDetach,
                   "Linux as root: leave the drive's block driver (/dev/srN) bound and its media polling on "
                   "during the update (by default both are suspended so that no other program's commands "
                   "reach the drive while it flashes)");
  command.add_flag("--json", options->json,
                   "Print JSON Lines events and a final result on standard output (the "
                   "terminal text goes to standard error)");
  command.add_flag("--restart", options->restart,
                   "Restart the computer after a successful update")
      ->excludes(all);
  command.add_option("--sim", options->simFile,
                     "Use the emulated drives of this drive INI file instead of the hardware");
  AddTraceOptions(command, options->trace);
  return [options]() {
    // Whatever happens to the output, the update goes on: main() says at the end what was lost.
    sys::IgnoreOutputSignals();
    // A worker's output is a pipe that its parent always reads, and every event must reach it
    // before the worker's next command: the parent judges a worker that died by its last phase.
    if (!options->worker) sys::StartOutputRelay();
    return options->all ? RunFlashAll(*options) : RunFlashCommand(*options);
  };
}

} // namespace cli
