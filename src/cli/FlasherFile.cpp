#include "cli/FlasherFile.h"

#include <span>

#include "builder/FlasherIntegrity.h"
#include "builder/RoutineStoreFile.h"
#include "cli/Trace.h"
#include "drive/Transport.h"
#include "flash/Profiles.h"

namespace cli {

std::optional<builder::PayloadFile> ReadFlasherFile(const std::string& path, std::string& error) {
  bool noBlock = false;
  auto payload = builder::ReadPayloadFromFile(path, error, noBlock);
  if (noBlock)
    error = path + " carries no payload block: it is not a flasher (a firmware file? build a flasher "
                   "from it with odflash build)";
  return payload;
}

std::string IntegrityText(payload::Integrity integrity) {
  switch (integrity) {
  case payload::Integrity::Intact: return "intact (its integrity record matches the header, image and routines)";
  case payload::Integrity::Damaged:
    return "damaged (its integrity record does not match what it carries: download or build it again)";
  case payload::Integrity::None: return "none (it carries no integrity record)";
  }
  return payload::IntegrityName(integrity);
}

std::optional<builder::PayloadFile> OpenFlasher(const FlashOptions& options, std::string& error, bool& damaged) {
  damaged = false;
  auto payload = ReadFlasherFile(options.flasher, error);
  if (!payload) return std::nullopt;
  const payload::Integrity integrity = builder::CheckFlasherFile(options.flasher, *payload);
  TracePayload(payload->View(), integrity);
  if (payload->View().HasBuilderTag()) {
    error = options.flasher + " is a builder, not a flasher: it carries no firmware";
    return std::nullopt;
  }
  if (integrity == payload::Integrity::Damaged) {
    damaged = true;
    error = options.flasher + ": " + payload::kDamagedFlasherText;
    return std::nullopt;
  }
  if (!options.simFile.empty() && !drive::UseEmulatedDrivesFromFile(options.simFile, error)) return std::nullopt;
  // The flasher's own routines go to the drive, as they would when it ran itself; a flasher
  // made before flashers carried a store block gets this program's.
  if (const auto store = builder::ReadRoutineStoreFromFile(options.flasher, payload->MarkerOffset))
    flash::UseRoutineStore(std::span<const std::uint8_t, flash::kRoutineStoreSize>(store->Store.data(),
                                                                                   flash::kRoutineStoreSize));
  return payload;
}

} // namespace cli
