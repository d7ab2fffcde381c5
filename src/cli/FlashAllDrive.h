#pragma once
// flash --all's account of one drive, kept from its worker's events: what the live line shows,
// the summary table and the drive's JSON entry.

#include <string>

#include "cli/FlashEvent.h"

namespace cli {

// The phase of a drive whose worker has reported none yet.
inline constexpr const char* kNoPhaseYet = "waiting";

struct DriveProgress {
  std::string device, identity, revisionBefore, revisionAfter;
  std::string phase = kNoPhaseYet; // the last phase its worker reported
  int percent = -1;              // of the current phase, when it reports progress
  std::string outcome;
  std::string error;
  int exitCode = 0;
  bool resultSeen = false; // its worker sent its result event
  bool ended = false;      // its worker's standard output ended

  DriveProgress();
  // Takes in one of its worker's events.
  void Take(const FlashEvent& event);
  // Its worker's output ended; started: a worker ran for it (one that never reported its result
  // died).
  void OutputEnded(bool started);
};

// The drive's live line: device and phase with its percent, or the outcome once its worker ended.
std::string LiveLine(const DriveProgress& drive);

} // namespace cli
