// odflash scan [--sim FILE] [--flasher FLASHER] [--json] [-v] [--log FILE]: the drives found on
// the platform's transport (or on the emulated drives of FILE), each with its device and its
// identity text; with a flasher, whether each drive fits it and what an update would do. Sends
// the drives nothing beyond the scan's own INQUIRY.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>

#include "cli/Command.h"
#include "cli/FlashEvent.h"
#include "cli/FlasherFile.h"
#include "cli/Trace.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/Eligibility.h"
#include "flash/UpdateQuestion.h"
#include "payload/PayloadTexts.h"

namespace cli {
namespace {

const char* TransportName(drive::TransportKind kind) {
  switch (kind) {
  case drive::TransportKind::PassThrough: return "pass-through";
  case drive::TransportKind::Aspi: return "aspi";
  case drive::TransportKind::SgIo: return "sg_io";
  case drive::TransportKind::Emulated: return "emulated";
  }
  return "unknown";
}

// The flasher a scan is asked about: its payload and the texts the drives are matched with.
struct ScannedFlasher {
  builder::PayloadFile file;
  payload::PayloadTexts texts;
};

nlohmann::json DriveJson(const drive::CDDrive& drive) {
  return {{"device", drive.DevicePath()},
          {"letter", std::string(1, drive.Letter)},
          {"adapter", drive.Adapter},
          {"target", drive.Target},
          {"lun", drive.Lun},
          {"identity", drive.IdentityText},
          {"vendorProduct", drive.VendorProductText()},
          {"revision", drive.RevisionText()}};
}

// "fits" and, for a drive that fits, "update": what flashing it would do to its revision.
void AddFit(nlohmann::json& entry, const drive::CDDrive& drive, const ScannedFlasher& flasher) {
  const bool fits = flash::DriveFits(flasher.texts, drive);
  entry["fits"] = fits;
  if (!fits) return;
  const flash::UpdateQuestion question =
      flash::MakeUpdateQuestion(drive.RevisionText(), flasher.file.View().NewRevision(), flasher.texts.AnyFirmware);
  entry["update"] = UpdateKindName(question.update);
}

int Scan(const std::string& simFile, const std::string& flasherFile, bool json, const TraceOptions& trace) {
  if (!StartTrace(trace, {simFile, flasherFile})) return kExitFailure;
  std::optional<ScannedFlasher> flasher;
  if (!flasherFile.empty()) {
    std::string error;
    std::optional<builder::PayloadFile> file = ReadFlasherFile(flasherFile, error);
    if (file && file->View().HasBuilderTag()) error = flasherFile + " is a builder, not a flasher: it carries no firmware";
    if (!error.empty()) {
      PrintError(error);
      return kExitFailure;
    }
    flasher = ScannedFlasher{*file, payload::MakePayloadTexts(file->View())};
  }
  if (!simFile.empty()) {
    std::string error;
    if (!drive::UseEmulatedDrivesFromFile(simFile, error)) {
      PrintError(error);
      return kExitFailure;
    }
  }
  PrintLeftToRestore();
  drive::CDDrives drives;
  const char* transport = TransportName(drive::CurrentTransport().Kind());
  for (int i = 0; i < drives.Count(); ++i) TraceDrive("found drive", *drives.Drive(i));
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (int i = 0; i < drives.Count(); ++i) {
      nlohmann::json entry = DriveJson(*drives.Drive(i));
      if (flasher) AddFit(entry, *drives.Drive(i), *flasher);
      list.push_back(std::move(entry));
    }
    const nlohmann::json result = {{"schemaVersion", kJsonSchemaVersion},
                                   {"transport", transport},
                                   {"emulated", drive::IsEmulatedTransport()},
                                   {"drives", list},
                                   {"busy", drives.BusyDevicePaths()}};
    std::printf("%s\n", result.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    return kExitSuccess;
  }
  if (drives.Count() == 0 && drives.BusyDevicePaths().empty()) {
    std::fprintf(stderr, "No optical drive found (%s transport).\n", transport);
    return kExitSuccess;
  }
  for (int i = 0; i < drives.Count(); ++i) {
    const drive::CDDrive& drive = *drives.Drive(i);
    std::printf("%-12s %s", drive.DevicePath().c_str(), drive.IdentityText.c_str());
    if (flasher) std::printf("  (%s)", flash::DriveFits(flasher->texts, drive) ? "fits" : "does not fit");
    std::printf("\n");
  }
  // Not probed: an INQUIRY could disturb the update.
  for (const std::string& path : drives.BusyDevicePaths())
    std::printf("%-12s (busy: %s)\n", path.c_str(), drive::kRefusedBeingUpdated);
  return kExitSuccess;
}

} // namespace

void PrintLeftToRestore() {
  for (const std::string& notice : drive::CurrentTransport().LeftToRestore()) PrintError("warning: " + notice);
}

std::function<int()> SetUpScan(CLI::App& command) {
  auto simFile = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto flasherFile = std::make_shared<std::string>();
  command.add_option("--sim", *simFile, "Use the emulated drives of this drive INI file");
  command.add_option("--flasher", *flasherFile,
                     "Also say whether each drive fits this flasher and what flashing it would do");
  auto trace = std::make_shared<TraceOptions>();
  command.add_flag("--json", *json, "Print the drives as JSON");
  AddTraceOptions(command, *trace);
  return [simFile, flasherFile, json, trace]() { return Scan(*simFile, *flasherFile, *json, *trace); };
}

} // namespace cli
