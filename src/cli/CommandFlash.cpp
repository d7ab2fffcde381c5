// odflash flash FLASHER: updates a drive with the firmware a flasher file carries, with the
// window's checks (eligibility, the update question) and a progress display on the terminal.

#include <CLI/CLI.hpp>

#include <algorithm>
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

#include "builder/PayloadFile.h"
#include "builder/PayloadTexts.h"
#include "cli/Command.h"
#include "cli/Trace.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/Eligibility.h"
#include "flash/FlashProcedure.h"
#include "flash/UpdateQuestion.h"
#include "sys/Messages.h"
#include "sys/UpdateGuard.h"

namespace cli {
namespace {

struct FlashOptions {
  std::string flasher;
  std::string drive;  // list position or device path; empty: the one eligible drive
  bool yes = false;
  bool dryRun = false;
  bool restart = false;
  std::string simFile;
  TraceOptions trace;
};

// The procedure's sink for a terminal: each status caption on its own line, followed by a
// percentage and byte count that is redrawn in place on a terminal and printed at every
// quarter otherwise.
class TerminalSink final : public flash::FlashSink {
public:
  TerminalSink(const FlashOptions& options, bool interactive)
      : options_(options), interactive_(interactive) {}

  void SetStatus(const std::string& text) override {
    EndProgressLine();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    status_ = text;
  }
  void AppendStatus(const std::string& suffix) override {
    EndProgressLine();
    status_ += suffix;
    std::printf("%s\n", status_.c_str());
    std::fflush(stdout);
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
    const int percent = static_cast<int>(100.0 * (position - minimum_) / (maximum_ - minimum_));
    const bool due = shownPercent_ < 0 || (interactive_ ? percent != shownPercent_ : percent / 25 != shownPercent_ / 25);
    if (!due) return;
    shownPercent_ = percent;
    std::printf(interactive_ ? "\r  %3d%%  %u of %u bytes" : "  %3d%%  %u of %u bytes\n", percent,
                static_cast<unsigned>(position - minimum_), static_cast<unsigned>(maximum_ - minimum_));
    std::fflush(stdout);
    progressLineOpen_ = interactive_;
  }
  void EnterPhase(flash::FlashPhase phase) override {
    // From the answered question on, Ctrl+C, a closed terminal or a kill waits for the drive;
    // at the question itself it still ends the program at once.
    if (phase == flash::FlashPhase::ReadyWait && !guard_) guard_.emplace("odflash");
    EndProgressLine();
    phase_ = phase;
    shownPercent_ = -1;
  }
  void ShowMessage(const std::string& text, sys::MessageKind) override {
    EndProgressLine();
    std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
  }
  bool Ask(const std::string& text, sys::MessageKind) override {
    EndProgressLine();
    if (text == flash::kRestartQuestion) {
      if (options_.restart) {
        std::printf("Restarting the computer (--restart).\n");
        return true;
      }
      std::printf("Restart the computer for the new firmware to take effect "
                  "(--restart has odflash request it).\n");
      return false;
    }
    std::printf("%s\n", TerminalText(text).c_str());
    if (options_.yes) {
      std::printf("Answered yes (--yes).\n");
      return true;
    }
    if (!ODFLASH_ISATTY(ODFLASH_FILENO(stdin))) {
      std::printf("No answer on a terminal: declined (--yes answers it).\n");
      return false;
    }
    std::printf("Update the drive? [y/N] ");
    std::fflush(stdout);
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
  }
  void SetBusy(bool) override {}
  void DriveRefreshed(const std::string& identity) override {
    EndProgressLine();
    std::printf("Drive now reports: %s\n", identity.c_str());
  }

private:
  void EndProgressLine() {
    if (!progressLineOpen_) return;
    std::printf("\n");
    progressLineOpen_ = false;
  }

  const FlashOptions& options_;
  bool interactive_;
  std::optional<sys::UpdateGuard> guard_;
  std::string status_;
  flash::FlashPhase phase_ = flash::FlashPhase::ReadyWait;
  std::uint32_t minimum_ = 0, maximum_ = 0;
  int shownPercent_ = -1;
  bool progressLineOpen_ = false;
};

std::string DriveLine(int index, const drive::CDDrive& drive) {
  return "  " + std::to_string(index) + ": " + drive.IdentityText + "  (" + drive.DevicePath() + ")";
}

// A drive that another odflash process or another program holds; name: its identity and device
// path, or the device path alone of a drive that enumeration left alone.
int RefuseDriveInUse(const std::string& name, const std::string& refusal) {
  PrintError("cannot update drive " + name + ": " + refusal + "; nothing was sent to it");
  return kExitDriveInUse;
}

// The drives that enumeration left alone because they are being updated; kExitDriveInUse.
int RefuseBusyDrives(const drive::CDDrives& drives) {
  for (const std::string& path : drives.BusyDevicePaths()) RefuseDriveInUse(path, drive::kRefusedBeingUpdated);
  return kExitDriveInUse;
}

// Picks the drive to update: the one named by --drive, else the only eligible one. A drive being
// updated by another odflash process was not probed: when it is the one wanted, or no listed
// drive fits, the answer is kExitDriveInUse.
drive::CDDrive* ChooseDrive(const drive::CDDrives& drives, const builder::PayloadTexts& texts,
                            const FlashOptions& options, int& exitCode) {
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
  const std::string wanted = "a " + texts.InquiryId + " drive with firmware " + texts.FirmwareLow +
                             " to " + texts.FirmwareHigh;
  if (!options.drive.empty() && std::find(busy.begin(), busy.end(), options.drive) != busy.end()) {
    exitCode = RefuseDriveInUse(options.drive, drive::kRefusedBeingUpdated);
    return nullptr;
  }
  if (!busy.empty() && (drives.Count() == 0 || (options.drive.empty() && eligible.empty()))) {
    exitCode = RefuseBusyDrives(drives);
    return nullptr;
  }
  if (drives.Count() == 0) {
    PrintError("no optical drive found");
    exitCode = kExitNoEligibleDrive;
    return nullptr;
  }
  if (!options.drive.empty()) {
    int chosen = -1;
    for (int i = 0; i < drives.Count(); ++i) {
      if (drives.Drive(i)->DevicePath() == options.drive || std::to_string(i) == options.drive) chosen = i;
    }
    if (chosen < 0) {
      PrintError("no drive " + options.drive + "; the drives found are:\n" + listing);
      exitCode = kExitUsage;
      return nullptr;
    }
    if (std::find(eligible.begin(), eligible.end(), chosen) == eligible.end()) {
      PrintError("drive " + options.drive + " does not fit this flasher (it wants " + wanted +
                 "):\n" + DriveLine(chosen, *drives.Drive(chosen)));
      exitCode = kExitNoEligibleDrive;
      return nullptr;
    }
    return drives.Drive(chosen);
  }
  if (eligible.empty()) {
    PrintError("no drive fits this flasher (it wants " + wanted + "); the drives found are:\n" + listing);
    exitCode = kExitNoEligibleDrive;
    return nullptr;
  }
  if (eligible.size() > 1) {
    PrintError("several drives fit this flasher; name one with --drive:\n" + listing);
    exitCode = kExitUsage;
    return nullptr;
  }
  return drives.Drive(eligible.front());
}

// The command line's own account of a failed run, after the system's message.
int Report(flash::FlashOutcome outcome, const flash::FlashProcedure& procedure) {
  using flash::FlashOutcome;
  char text[200];
  switch (outcome) {
  case FlashOutcome::Flashed:
    std::printf("The drive's firmware was updated.\n");
    return kExitSuccess;
  case FlashOutcome::Verified:
    std::printf("Dry run: the image was written to drive memory and verified; the Flash command "
                "was not sent, the drive's flash is unchanged.\n");
    return kExitSuccess;
  case FlashOutcome::Declined:
    PrintError("update declined; nothing was sent to the drive");
    return kExitDeclined;
  case FlashOutcome::Refused:
    return kExitFailure;
  case FlashOutcome::NotReady:
    PrintError("the drive did not become ready; nothing was written to it");
    return kExitDriveCommand;
  case FlashOutcome::ProfileFailed:
    PrintError("the flash profile could not be sent; the drive's flash is unchanged");
    return kExitDriveCommand;
  case FlashOutcome::UploadFailed:
  case FlashOutcome::ReadBackFailed:
    std::snprintf(text, sizeof text, "%s the image failed at offset 0x%05X; the drive's flash is unchanged",
                  outcome == FlashOutcome::UploadFailed ? "writing" : "reading back",
                  static_cast<unsigned>(procedure.FailedChunkOffset()));
    PrintError(text);
    return kExitDriveCommand;
  case FlashOutcome::EntryCriticalFailed:
  case FlashOutcome::ProfileCheckFailed:
    PrintError("a drive command failed; the drive's flash is unchanged");
    return kExitDriveCommand;
  case FlashOutcome::ProfileMismatch:
    PrintError("the flash profile read back differs from the one sent; the drive's flash is unchanged");
    return kExitVerifyMismatch;
  case FlashOutcome::CompareFailed: {
    const flash::Mismatch& mismatch = procedure.LastMismatch();
    std::snprintf(text, sizeof text,
                  "verification failed at image offset 0x%05X: wrote 0x%02X, read 0x%02X "
                  "(%u differing bytes in that chunk); the drive's flash is unchanged",
                  static_cast<unsigned>(mismatch.offset), mismatch.expected, mismatch.found,
                  static_cast<unsigned>(mismatch.differingBytes));
    PrintError(text);
    return kExitVerifyMismatch;
  }
  case FlashOutcome::FlashFailed:
    PrintError("the drive did not commit the image to its flash");
    return kExitFlashFailed;
  case FlashOutcome::Interrupted:
    PrintError("interrupted; nothing was written to the drive");
    return kExitFailure; // the held interrupt's own code replaces it
  }
  return kExitFailure;
}

int RunFlash(const FlashOptions& options) {
  if (!StartTrace(options.trace)) return kExitFailure;
  std::string error;
  const auto payload = builder::ReadPayloadFromFile(options.flasher, error);
  if (!payload) {
    PrintError(error);
    return kExitFailure;
  }
  const builder::PayloadBlock block = payload->View();
  TracePayload(block);
  if (block.HasBuilderTag()) {
    PrintError(options.flasher + " is a builder, not a flasher: it carries no firmware");
    return kExitFailure;
  }
  if (!options.simFile.empty() && !drive::UseEmulatedDrivesFromFile(options.simFile, error)) {
    PrintError(error);
    return kExitFailure;
  }
  const drive::CDDrives drives;
  const builder::PayloadTexts texts = builder::MakePayloadTexts(block);
  int exitCode = kExitSuccess;
  drive::CDDrive* target = ChooseDrive(drives, texts, options, exitCode);
  if (target == nullptr) return exitCode;
  TraceDrive("chosen drive", *target);
  // Held until the run ends: no other odflash process may update or even probe the drive.
  std::string refusal;
  const std::unique_ptr<drive::UpdateLock> updateLock = target->LockForUpdate(refusal);
  if (!updateLock) return RefuseDriveInUse(target->IdentityText + " (" + target->DevicePath() + ")", refusal);
  std::printf("Drive:    %s (%s)\nFirmware: %s %s, revision %s, %u bytes\n", target->IdentityText.c_str(),
              target->DevicePath().c_str(), texts.VendorName.c_str(), texts.ModelName.c_str(),
              block.NewRevision().c_str(), static_cast<unsigned>(block.ImageLength()));

  // The window lends its transfer buffer to the drive layer in the same way.
  std::vector<std::uint8_t> transferBuffer(flash::kChunkSize);
  drive::CDDrive::SetBuffer(transferBuffer.data(), static_cast<std::uint32_t>(transferBuffer.size()));
  flash::FlashRequest request = flash::MakeFlashRequest(block);
  request.stopBeforeFlash = options.dryRun;

  TerminalSink sink(options, ODFLASH_ISATTY(ODFLASH_FILENO(stdout)) != 0);
  flash::FlashProcedure procedure(sink);
  const flash::FlashOutcome outcome = procedure.Run(*target, request);
  int code = Report(outcome, procedure);
  if (code == kExitDriveCommand || code == kExitFlashFailed)
    PrintError("the drive's answer to the last command: " + drive::DescribeOutcome(target->LastOutcome()));
  drive::CDDrive::SetBuffer(nullptr, 0);
  // An interrupt held during the run ends the program as the interrupt would have.
  if (const int interrupted = sys::HeldRequestExitCode(); interrupted != 0) code = interrupted;
  return code;
}

const bool registered = RegisterCommand(
    40, "flash", "Update a drive with the firmware a flasher file carries",
    [](CLI::App& command) -> std::function<int()> {
      auto options = std::make_shared<FlashOptions>();
      // A path such as /tmp/1.10.EXE (Wine, MSYS) is a file here, never a "/option".
      command.allow_windows_style_options(false);
      command.add_option("FLASHER", options->flasher, "Flasher executable carrying the firmware")
          ->required();
      command.add_option("--drive", options->drive,
                         "Drive to update: its number in the list of drives found (from 0) or its "
                         "device path; needed when several drives fit");
      command.add_flag("--yes", options->yes, "Answer the update question with yes");
      command.add_flag("--dry-run", options->dryRun,
                       "Write and verify the image in drive memory, then stop before the Flash "
                       "command (the drive's flash is not changed)");
      command.add_flag("--restart", options->restart,
                       "Restart the computer after a successful update");
      command.add_option("--sim", options->simFile,
                         "Use the emulated drives of this drive INI file instead of the hardware");
      AddTraceOptions(command, options->trace);
      return [options]() { return RunFlash(*options); };
    });

} // namespace
} // namespace cli
