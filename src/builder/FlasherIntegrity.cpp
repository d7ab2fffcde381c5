#include "builder/FlasherIntegrity.h"

#include "builder/RoutineStoreFile.h"
#include "sys/Files.h"

namespace builder {

std::optional<MarkedBlock> FindIntegrityRecordBlock(std::FILE* program, std::uint64_t payloadOffset) {
  return FindMarkedBlock(program, payloadOffset, payload::OwnIntegrityRecordMarker(), payload::kRecordLength);
}

payload::Integrity CheckFlasherFile(const std::string& path, const PayloadFile& payload) {
  std::uint64_t size = 0;
  std::string error;
  sys::FileHandle file = sys::OpenRegularFile(path, payload::kMaxProgramBytes, size, error);
  if (!file) return payload::Integrity::Damaged;
  const auto record = FindIntegrityRecordBlock(file.get(), payload.MarkerOffset);
  if (!record) return payload::Integrity::None;
  const auto store = FindRoutineStoreBlock(file.get(), payload.MarkerOffset);
  std::optional<std::span<const std::uint8_t>> storeBytes;
  if (store) storeBytes = store->Store;
  return payload::CheckIntegrity(payload.View(), storeBytes, std::span<const std::uint8_t>(record->Body));
}

} // namespace builder
