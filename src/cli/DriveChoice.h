#pragma once
// Which drive odflash flash updates, and how the drives found are named when none is chosen.

#include <string>
#include <vector>

#include "cli/FlashOptions.h"
#include "cli/RunRecord.h"
#include "flash/Eligibility.h"
#include "payload/PayloadTexts.h"

namespace drive {
class CDDrive;
class CDDrives;
} // namespace drive

namespace cli {

// The drives found, a line each ("  N: identity  (device)  fits"), as a failure lists them.
std::string FitListing(const std::vector<flash::DriveFit>& drives);

// What a flasher wants of a drive, in words.
std::string WantedDrive(const payload::PayloadTexts& texts);

// A drive that another odflash process or another program holds; name: its identity and device
// path, or the device path alone of a drive that enumeration left alone. kExitDriveInUse.
int RefuseDriveInUse(const std::string& name, const std::string& refusal, RunRecord& record);

// Picks the drive to update: the one named by --drive, else the only eligible one. A drive being
// updated by another odflash process was not probed: when it is the one wanted, or no listed
// drive fits, the answer is kExitDriveInUse. Null, with exitCode and the failure recorded, when
// no drive is updated.
drive::CDDrive* ChooseDrive(const drive::CDDrives& drives, const payload::PayloadTexts& texts,
                            const FlashOptions& options, int& exitCode, RunRecord& record);

} // namespace cli
