#include "cli/DriveChoice.h"

#include <algorithm>

#include "cli/Command.h"
#include "drive/Cddrive.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "sys/Text.h"

namespace cli {
namespace {

// "  N: identity  (device)", as the listing of a failure shows a drive.
std::string DriveLine(int index, const drive::CDDrive& drive) {
  return "  " + std::to_string(index) + ": " + drive.IdentityText + "  (" + drive.DevicePath() + ")";
}

// The drives that enumeration left alone because they are being updated; kExitDriveInUse.
int RefuseBusyDrives(const drive::CDDrives& drives, RunRecord& record) {
  for (const std::string& path : drives.BusyDevicePaths())
    RefuseDriveInUse(path, drive::kRefusedBeingUpdated, record);
  return kExitDriveInUse;
}

} // namespace

std::string FitListing(const std::vector<flash::DriveFit>& drives) {
  std::string listing;
  for (const flash::DriveFit& found : drives)
    listing += DriveLine(found.index, *found.drive) + (found.fits ? "  fits\n" : "  does not fit\n");
  return listing;
}

std::string WantedDrive(const payload::PayloadTexts& texts) {
  return sys::PrintableText("a " + texts.InquiryId + " drive with firmware " + texts.FirmwareLow + " to " +
                            texts.FirmwareHigh);
}

int RefuseDriveInUse(const std::string& name, const std::string& refusal, RunRecord& record) {
  Fail(record, "cannot update drive " + name + ": " + refusal + "; nothing was sent to it");
  return kExitDriveInUse;
}

drive::CDDrive* ChooseDrive(const drive::CDDrives& drives, const payload::PayloadTexts& texts,
                            const FlashOptions& options, int& exitCode, RunRecord& record) {
  const std::vector<std::string>& busy = drives.BusyDevicePaths();
  const std::vector<flash::DriveFit> found = flash::MatchDrives(drives, texts);
  std::vector<int> eligible;
  for (const flash::DriveFit& drive : found)
    if (drive.fits) eligible.push_back(drive.index);
  const std::string listing = FitListing(found);
  const std::string wanted = WantedDrive(texts);
  if (!options.drive.empty() && std::find(busy.begin(), busy.end(), options.drive) != busy.end()) {
    exitCode = RefuseDriveInUse(options.drive, drive::kRefusedBeingUpdated, record);
    return nullptr;
  }
  if (!busy.empty() && (drives.Count() == 0 || (options.drive.empty() && eligible.empty()))) {
    exitCode = RefuseBusyDrives(drives, record);
    return nullptr;
  }
  if (drives.Count() == 0) {
    Fail(record, "no optical drive found");
    exitCode = kExitNoEligibleDrive;
    return nullptr;
  }
  if (!options.drive.empty()) {
    int chosen = -1;
    for (int i = 0; i < drives.Count(); ++i) {
      if (drives.Drive(i)->DevicePath() == options.drive || std::to_string(i) == options.drive) chosen = i;
    }
    if (chosen < 0) {
      Fail(record, "no drive " + options.drive + "; the drives found are:\n" + listing);
      exitCode = kExitUsage;
      return nullptr;
    }
    if (std::find(eligible.begin(), eligible.end(), chosen) == eligible.end()) {
      Fail(record, "drive " + options.drive + " does not fit this flasher (it wants " + wanted +
                       "):\n" + DriveLine(chosen, *drives.Drive(chosen)));
      exitCode = kExitNoEligibleDrive;
      return nullptr;
    }
    return drives.Drive(chosen);
  }
  if (eligible.empty()) {
    Fail(record, "no drive fits this flasher (it wants " + wanted + "); the drives found are:\n" + listing);
    exitCode = kExitNoEligibleDrive;
    return nullptr;
  }
  if (eligible.size() > 1) {
    Fail(record, "several drives fit this flasher; name one with --drive:\n" + listing);
    exitCode = kExitUsage;
    return nullptr;
  }
  return drives.Drive(eligible.front());
}

} // namespace cli
