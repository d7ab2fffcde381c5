// odflash info FILE [--json]: the payload block a file carries.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

#include "builder/FlasherIntegrity.h"
#include "builder/PayloadFile.h"
#include "builder/RoutineStoreFile.h"
#include "cli/Command.h"
#include "cli/FlasherFile.h"
#include "cli/Trace.h"
#include "payload/ImageKind.h"
#include "sys/Sha256.h"
#include "sys/Text.h"

namespace cli {
namespace {

using StoreBlock = std::optional<builder::StoreBlockInFile>;

// Which routines a program carries: "placeholder", "real", or "none" for a program made before
// programs carried a store block.
const char* RoutinesKind(const StoreBlock& store) {
  if (!store) return "none";
  return payload::IsPlaceholderRoutineStore(store->Store) ? "placeholder" : "real";
}

std::string RoutinesDigest(const StoreBlock& store) { return store ? sys::Sha256Hex(store->Store) : "-"; }

nlohmann::ordered_json PayloadJson(const builder::PayloadFile& payload, const StoreBlock& store,
                                   payload::Integrity integrity) {
  const payload::PayloadBlock block = payload.View();
  nlohmann::ordered_json json = {{"schemaVersion", kJsonSchemaVersion},
                                 {"role", block.HasBuilderTag() ? "builder" : "flasher"},
                                 {"markerOffset", payload.MarkerOffset}};
  json["routines"] = RoutinesKind(store);
  json["routinesSha256"] = store ? nlohmann::ordered_json(RoutinesDigest(store)) : nullptr;
  if (block.HasBuilderTag()) return json;
  json.update({{"model", block.Model()},
               {"inquiry", block.Inquiry()},
               {"firmwareRange", block.FirmwareRange()},
               {"vendor", block.Vendor()},
               {"note", block.Note()},
               {"newRevision", block.NewRevision()},
               {"imageLength", block.ImageLength()},
               {"imageKind", payload::ImageKindName(payload::CheckNewFormatBIN(block.Image()))},
               {"imageSha256", sys::Sha256Hex(block.Image())},
               {"integrity", payload::IntegrityName(integrity)}});
  return json;
}

// The fields with their control bytes shown as '?' (the JSON keeps them exact).
void PrintPayload(const builder::PayloadFile& payload, const StoreBlock& store, payload::Integrity integrity) {
  const payload::PayloadBlock block = payload.View();
  std::printf("Role:          %s\n", block.HasBuilderTag() ? "builder" : "flasher");
  std::printf("Marker offset: %llu\n", static_cast<unsigned long long>(payload.MarkerOffset));
  std::printf("Routines:      %s\n", RoutinesKind(store));
  std::printf("Store SHA-256: %s\n", RoutinesDigest(store).c_str());
  if (block.HasBuilderTag()) return;
  std::printf("Model:         %s\n", sys::PrintableText(block.Model()).c_str());
  std::printf("Inquiry:       %s\n", sys::PrintableText(block.Inquiry()).c_str());
  std::printf("FW-Range:      %s\n", sys::PrintableText(block.FirmwareRange()).c_str());
  std::printf("Vendor:        %s\n", sys::PrintableText(block.Vendor()).c_str());
  std::printf("Note:          %s\n", sys::PrintableText(block.Note()).c_str());
  std::printf("New revision:  %s\n", sys::PrintableText(block.NewRevision()).c_str());
  std::printf("Image length:  %u\n", static_cast<unsigned>(block.ImageLength()));
  std::printf("Image kind:    %s\n",
              payload::ImageKindName(payload::CheckNewFormatBIN(block.Image())));
  std::printf("Image SHA-256: %s\n", sys::Sha256Hex(block.Image()).c_str());
  std::printf("Integrity:     %s\n", IntegrityText(integrity).c_str());
}

} // namespace

std::function<int()> SetUpInfo(CLI::App& command) {
  auto file = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  command.add_option("FILE", *file, "Flasher or builder executable")->required();
  command.add_flag("--json", *json, "Print the payload as JSON");
  return [file, json]() {
    std::string error;
    const auto payload = ReadFlasherFile(*file, error);
    if (!payload) {
      PrintError(error);
      return int{kExitFailure};
    }
    const StoreBlock store = builder::ReadRoutineStoreFromFile(*file, payload->MarkerOffset);
    // A damaged flasher is described, not refused: info is how its damage is found.
    const payload::Integrity integrity = builder::CheckFlasherFile(*file, *payload);
    if (*json)
      std::printf("%s\n", PayloadJson(*payload, store, integrity)
                              .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                              .c_str());
    else
      PrintPayload(*payload, store, integrity);
    return int{kExitSuccess};
  };
}

} // namespace cli
