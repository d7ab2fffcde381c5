// odflash flash FLASHER: updates a drive with the firmware a flasher file carries, with the
// window's checks (eligibility, the update question) and a progress display on the terminal.

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/DriveChoice.h"
#include "cli/FlashAll.h"
#include "cli/FlashOptions.h"
#include "cli/FlashResults.h"
#include "cli/FlasherFile.h"
#include "cli/RunAccount.h"
#include "cli/RunRecord.h"
#include "cli/TerminalSink.h"
#include "cli/Trace.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/FlashProcedure.h"
#include "payload/PayloadTexts.h"
#include "sys/StandardStreams.h"
#include "sys/Text.h"
#include "sys/UpdateGuard.h"

namespace cli {
namespace {

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
  std::FILE* const textStream = TextStream(options);
  std::fprintf(textStream, "Drive:    %s (%s)\nFirmware: %s %s, revision %s, %u bytes\n", target->IdentityText.c_str(),
               target->DevicePath().c_str(), texts.VendorName.c_str(), texts.ModelName.c_str(),
               sys::PrintableText(block.NewRevision()).c_str(), static_cast<unsigned>(block.ImageLength()));

  // The window lends its transfer buffer to the drive layer in the same way.
  std::vector<std::uint8_t> transferBuffer(flash::kChunkSize);
  drive::CDDrive::SetBuffer(transferBuffer.data(), static_cast<std::uint32_t>(transferBuffer.size()));
  flash::FlashRequest request = flash::MakeFlashRequest(block);
  request.stopBeforeFlash = options.dryRun;

  EventStream events(options.json);
  TerminalSink sink(options, target->RevisionText(), request.carriedRevision, events);
  flash::FlashProcedure procedure(sink);
  const flash::FlashOutcome outcome = procedure.Run(*target, request);
  const RunAccount account = AccountOf(outcome, procedure, request, *target, sink.DeclineReason());
  drive::CDDrive::SetBuffer(nullptr, 0);
  record.outcome = ResultOf(outcome).name;
  record.drive->identity = target->IdentityText; // refreshed by a successful update
  record.revisionAfter = target->RevisionText();
  if (!account.failed) std::fprintf(textStream, "%s\n", account.line.c_str());
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
  const auto duration =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  const ResultEvent result = ResultOfRun(record, code, options.dryRun, duration.count());
  EventStream(options.json).Emit(result);
  return code;
}

} // namespace

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
