#pragma once
// What odflash flash's JSON result reports of a single-drive run, filled in as the run goes.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/FlashEvent.h"
#include "cli/FlashResults.h"

namespace cli {

struct RunRecord {
  std::string outcome = ResultOf(RunEnd::NotStarted).name; // the procedure's outcome once it ran
  std::string error;                  // the failure line without "odflash: "
  std::optional<EventDrive> drive;    // none until a drive was chosen
  std::string revisionBefore, revisionAfter;
};

// Every failure line of the command goes through here, so that the JSON result repeats it.
void Fail(RunRecord& record, const std::string& what);

// The run's result event: the record, the exit code and the run's time.
ResultEvent ResultOfRun(const RunRecord& record, int exitCode, bool dryRun, std::int64_t durationMs);

} // namespace cli
