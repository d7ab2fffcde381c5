#include "cli/RunRecord.h"

#include "cli/Trace.h"

namespace cli {

void Fail(RunRecord& record, const std::string& what) {
  PrintError(what);
  record.error = what;
}

ResultEvent ResultOfRun(const RunRecord& record, int exitCode, bool dryRun, std::int64_t durationMs) {
  ResultEvent result;
  result.outcome = record.outcome;
  result.exitCode = exitCode;
  result.dryRun = dryRun;
  result.drive = record.drive;
  if (!record.revisionBefore.empty()) result.revisionBefore = record.revisionBefore;
  if (!record.revisionAfter.empty()) result.revisionAfter = record.revisionAfter;
  result.durationMs = durationMs;
  if (!record.error.empty()) result.error = record.error;
  return result;
}

} // namespace cli
