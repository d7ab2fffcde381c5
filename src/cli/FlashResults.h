#pragma once
// What a flash run ends in, in one table: odflash flash's closing line, its JSON result's
// "outcome" and exit code, and --all's choice of the worst drive all read it.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <string>

#include "cli/Command.h"
#include "flash/FlashProcedure.h"

namespace cli {

// How a run ended: by the flash procedure's outcome, or before or around it.
enum class RunEnd {
  Procedure,  // the procedure ran and ended in its outcome
  NotStarted, // stopped before the procedure ran (no drive chosen, the drive in use, ...)
  Damaged,    // the flasher failed its integrity check; nothing was sent
  WorkerDied, // --all: a drive's worker ended without its result
};

// What follows the fixed part of a failure line after ": ".
enum class FailureReason {
  None,
  DriveAnswer,   // the drive's answer to the command that failed
  DeclineReason, // why the update question was declined
};

// A line that needs the run's data: the failed chunk's offset, the first mismatch, the image kind.
using BuildLine = std::string (*)(const flash::FlashProcedure& procedure, const flash::FlashRequest& request);

// The exit code of a result that takes the code of what stopped the run: the reason no drive was
// chosen, or a held interrupt's code.
inline constexpr int kExitOfItsCause = -1;

struct FlashResult {
  RunEnd end;
  flash::FlashOutcome outcome; // for RunEnd::Procedure only
  const char* name;            // the JSON result's "outcome"
  int exitCode;
  const char* line; // the closing line (a success's) or what failed; nullptr: built, or its cause's
  BuildLine build;  // the closing line when it needs the run's data
  FailureReason reason;
};

// Exit codes of a flash from the best to the worst; --all ends with the worst of its drives'.
// Any other code (an interrupt's, a crash's) is worse than all of them.
inline constexpr int kExitCodesBestFirst[] = {kExitSuccess, kExitDeclined,     kExitNoEligibleDrive,
                                              kExitDriveInUse, kExitUsage,     kExitFailure,
                                              kExitDriveCommand, kExitVerifyMismatch, kExitFlashFailed};

inline std::string ChunkFailureLine(const char* operation, const flash::FlashProcedure& procedure) {
  char text[120];
  std::snprintf(text, sizeof text, "%s the image failed at offset 0x%05X; the drive's flash is unchanged", operation,
                static_cast<unsigned>(procedure.FailedChunkOffset()));
  return text;
}

inline std::string DryRunLine(const flash::FlashProcedure&, const flash::FlashRequest& request) {
  return flash::HasEntryCritical(request.kind)
             ? "Dry run: the image was written to drive memory and verified; Entry critical and the "
               "Flash command were not sent, the drive's flash is unchanged."
             : "Dry run: the image was written to drive memory and verified; the Flash command "
               "was not sent, the drive's flash is unchanged.";
}

inline std::string UploadFailureLine(const flash::FlashProcedure& procedure, const flash::FlashRequest&) {
  return ChunkFailureLine("writing", procedure);
}

inline std::string ReadBackFailureLine(const flash::FlashProcedure& procedure, const flash::FlashRequest&) {
  return ChunkFailureLine("reading back", procedure);
}

inline std::string CompareFailureLine(const flash::FlashProcedure& procedure, const flash::FlashRequest&) {
  const flash::Mismatch& mismatch = procedure.LastMismatch();
  char text[200];
  std::snprintf(text, sizeof text,
                "verification failed at image offset 0x%05X: wrote 0x%02X, read 0x%02X "
                "(%u differing bytes in that chunk); the drive's flash is unchanged",
                static_cast<unsigned>(mismatch.offset), mismatch.expected, mismatch.found,
                static_cast<unsigned>(mismatch.differingBytes));
  return text;
}

// Every result, from the best to the worst as --all ranks them by exit code.
inline constexpr FlashResult kFlashResults[] = {
    {RunEnd::Procedure, flash::FlashOutcome::Flashed, "flashed", kExitSuccess, "The drive's firmware was updated.",
     nullptr, FailureReason::None},
    {RunEnd::Procedure, flash::FlashOutcome::Verified, "verified", kExitSuccess, nullptr, DryRunLine,
     FailureReason::None},
    {RunEnd::Procedure, flash::FlashOutcome::Declined, "declined", kExitDeclined,
     "update declined; nothing was sent to the drive", nullptr, FailureReason::DeclineReason},
    {RunEnd::NotStarted, {}, "notStarted", kExitOfItsCause, nullptr, nullptr, FailureReason::None},
    {RunEnd::Damaged, {}, "damaged", kExitFailure, nullptr, nullptr, FailureReason::None},
    // The procedure's message said why.
    {RunEnd::Procedure, flash::FlashOutcome::Refused, "refused", kExitFailure, "", nullptr, FailureReason::None},
    {RunEnd::Procedure, flash::FlashOutcome::NotReady, "notReady", kExitDriveCommand,
     "the drive did not become ready; nothing was written to it", nullptr, FailureReason::DriveAnswer},
    {RunEnd::Procedure, flash::FlashOutcome::ProfileFailed, "profileFailed", kExitDriveCommand,
     "the flash profile could not be sent; the drive's flash is unchanged", nullptr, FailureReason::DriveAnswer},
    {RunEnd::Procedure, flash::FlashOutcome::UploadFailed, "uploadFailed", kExitDriveCommand, nullptr,
     UploadFailureLine, FailureReason::DriveAnswer},
    {RunEnd::Procedure, flash::FlashOutcome::EntryCriticalFailed, "entryCriticalFailed", kExitDriveCommand,
     "Entry critical failed; the drive's flash is unchanged", nullptr, FailureReason::DriveAnswer},
    {RunEnd::Procedure, flash::FlashOutcome::ProfileCheckFailed, "profileCheckFailed", kExitDriveCommand,
     "reading the flash profile back failed; the drive's flash is unchanged", nullptr, FailureReason::DriveAnswer},
    {RunEnd::Procedure, flash::FlashOutcome::ReadBackFailed, "readBackFailed", kExitDriveCommand, nullptr,
     ReadBackFailureLine, FailureReason::DriveAnswer},
    {RunEnd::Procedure, flash::FlashOutcome::ProfileMismatch, "profileMismatch", kExitVerifyMismatch,
     "the flash profile read back differs from the one sent; the drive's flash is unchanged", nullptr,
     FailureReason::None},
    {RunEnd::Procedure, flash::FlashOutcome::CompareFailed, "compareFailed", kExitVerifyMismatch, nullptr,
     CompareFailureLine, FailureReason::None},
    {RunEnd::Procedure, flash::FlashOutcome::FlashFailed, "flashFailed", kExitFlashFailed,
     "the drive did not commit the image to its flash", nullptr, FailureReason::DriveAnswer},
    {RunEnd::WorkerDied, {}, "workerDied", kExitFlashFailed, nullptr, nullptr, FailureReason::None},
    // The held interrupt's own code is the run's exit code.
    {RunEnd::Procedure, flash::FlashOutcome::Interrupted, "interrupted", kExitOfItsCause,
     "interrupted; nothing was written to the drive", nullptr, FailureReason::None},
};

inline constexpr const FlashResult& ResultOf(flash::FlashOutcome outcome) {
  for (const FlashResult& result : kFlashResults)
    if (result.end == RunEnd::Procedure && result.outcome == outcome) return result;
  return kFlashResults[0]; // every outcome has its row (the table's test)
}

inline constexpr const FlashResult& ResultOf(RunEnd end) {
  for (const FlashResult& result : kFlashResults)
    if (result.end == end) return result;
  return kFlashResults[0];
}

// The position of an exit code in kExitCodesBestFirst; codes not listed rank after all of them.
inline constexpr std::ptrdiff_t ExitCodeRank(int code) {
  return std::find(std::begin(kExitCodesBestFirst), std::end(kExitCodesBestFirst), code) -
         std::begin(kExitCodesBestFirst);
}

// The worse of two exit codes, as --all sums up its drives.
inline constexpr int WorseExitCode(int a, int b) { return ExitCodeRank(b) > ExitCodeRank(a) ? b : a; }

} // namespace cli
