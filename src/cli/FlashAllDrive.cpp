#include "cli/FlashAllDrive.h"

#include <cstdio>
#include <type_traits>

#include "cli/Command.h"
#include "cli/FlashResults.h"

namespace cli {

DriveProgress::DriveProgress() : outcome(ResultOf(RunEnd::NotStarted).name), exitCode(kExitFailure) {}

void DriveProgress::Take(const FlashEvent& event) {
  std::visit(
      [this](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, PhaseEvent>) {
          phase = PhaseName(e.phase);
          percent = -1;
        } else if constexpr (std::is_same_v<E, ProgressEvent>) {
          if (e.total != 0) percent = static_cast<int>(100.0 * e.bytes / e.total);
        } else if constexpr (std::is_same_v<E, ResultEvent>) {
          resultSeen = true;
          outcome = e.outcome;
          exitCode = e.exitCode;
          error = e.error.value_or("");
          if (e.revisionAfter) revisionAfter = *e.revisionAfter;
        }
      },
      event);
}

void DriveProgress::OutputEnded(bool started) {
  ended = true;
  if (started && !resultSeen) outcome = ResultOf(RunEnd::WorkerDied).name;
}

std::string LiveLine(const DriveProgress& drive) {
  char line[160];
  if (drive.ended)
    std::snprintf(line, sizeof line, "%-14s %s", drive.device.c_str(), drive.outcome.c_str());
  else if (drive.percent >= 0)
    std::snprintf(line, sizeof line, "%-14s %-14s %3d%%", drive.device.c_str(), drive.phase.c_str(), drive.percent);
  else
    std::snprintf(line, sizeof line, "%-14s %s", drive.device.c_str(), drive.phase.c_str());
  return line;
}

} // namespace cli
