#include "cli/RunAccount.h"

#include "cli/FlashResults.h"
#include "drive/Cddrive.h"

namespace cli {

RunAccount AccountOf(flash::FlashOutcome outcome, const flash::FlashProcedure& procedure,
                     const flash::FlashRequest& request, const drive::CDDrive& target,
                     const std::string& declineReason) {
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
  case FailureReason::DeclineReason: reason = declineReason; break;
  }
  return {code, reason.empty() ? line : line + ": " + reason, true};
}

} // namespace cli
