// odflash scan [--sim FILE] [--json] [-v] [--log FILE]: the drives found on the platform's
// transport (or on the emulated drives of FILE), each with its device and its identity text.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>

#include "cli/Command.h"
#include "cli/Trace.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"

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

int Scan(const std::string& simFile, bool json, const TraceOptions& trace) {
  if (!StartTrace(trace, {simFile})) return kExitFailure;
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
    for (int i = 0; i < drives.Count(); ++i) list.push_back(DriveJson(*drives.Drive(i)));
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
    std::printf("%-12s %s\n", drive.DevicePath().c_str(), drive.IdentityText.c_str());
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
  command.add_option("--sim", *simFile, "Use the emulated drives of this drive INI file");
  auto trace = std::make_shared<TraceOptions>();
  command.add_flag("--json", *json, "Print the drives as JSON");
  AddTraceOptions(command, *trace);
  return [simFile, json, trace]() { return Scan(*simFile, *json, *trace); };
}

} // namespace cli
