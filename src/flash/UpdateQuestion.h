#pragma once
// The question asked before a drive is updated, and the comparison of revisions behind it.

#include <string>
#include <string_view>

#include "sys/Messages.h"

namespace flash {

// Ordinal comparison of revisions (or identities): byte by byte as unsigned values; when one
// is the start of the other, the shorter is the smaller. Negative, zero or positive.
int CompareRevisions(std::string_view a, std::string_view b);

// What an update would do to the drive's revision.
enum class UpdateKind {
  Update,    // the carried revision is newer
  Reinstall, // the same revision
  Downgrade, // the drive's revision is newer
};

struct UpdateQuestion {
  std::string text;
  sys::MessageKind kind; // Warning when the drive's revision is newer, Confirmation otherwise
  UpdateKind update;     // by revision, whatever the any-firmware marker
};

// driveRevision: the drive's 4-character revision; carriedRevision: the flasher's.
// anyFirmware: the payload's firmware range carries the any-firmware marker.
UpdateQuestion MakeUpdateQuestion(std::string_view driveRevision, std::string_view carriedRevision,
                                  bool anyFirmware);

// The question after a successful update.
inline constexpr std::string_view kRestartQuestion =
    "The system needs to be restarted for the changes to take effect ?";

} // namespace flash
