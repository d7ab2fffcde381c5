#pragma once
// The command line's own account of a single-drive run, after the system's messages: the final
// line of a success, or the one failure line "<what failed>: <reason>".

#include <string>

#include "cli/Command.h"
#include "flash/FlashProcedure.h"

namespace drive {
class CDDrive;
}

namespace cli {

struct RunAccount {
  int code = kExitFailure;
  std::string line;
  bool failed = true;
};

// declineReason: why the update question was declined (the sink's), empty when it was not.
RunAccount AccountOf(flash::FlashOutcome outcome, const flash::FlashProcedure& procedure,
                     const flash::FlashRequest& request, const drive::CDDrive& target,
                     const std::string& declineReason);

} // namespace cli
