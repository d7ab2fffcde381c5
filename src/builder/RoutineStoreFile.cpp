#include "builder/RoutineStoreFile.h"

#include <algorithm>
#include <cstdio>

#include "builder/MarkerSearch.h"
#include "builder/ModelTable.h"
#include "payload/PayloadLayout.h"
#include "sys/Files.h"

namespace builder {
namespace {

using payload::kRoutineStoreSize;

std::string Hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

// A place that holds one byte repeated holds no routine: an erased or zeroed dump.
bool IsOneByteRepeated(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t byte) { return byte == bytes.front(); });
}

std::string Place(std::size_t entry, std::uint32_t offset, std::uint32_t size) {
  return "the routine of profile entry " + std::to_string(entry) + " (bytes " + std::to_string(offset) +
         " to " + std::to_string(offset + size - 1) + ")";
}

std::string LengthProblem(std::uint64_t size) {
  return "it holds " + std::to_string(size) + " bytes; a routine store holds exactly " +
         std::to_string(kRoutineStoreSize);
}

} // namespace

std::string RoutineStoreFileName(const std::string& programPath) {
  return FileBesideProgram(programPath, ".ROUTINES");
}

std::optional<std::string> CheckRoutineStore(std::span<const std::uint8_t> store) {
  if (store.size() != kRoutineStoreSize) return LengthProblem(store.size());
  if (IsOneByteRepeated(store)) return "it holds only " + Hex(store.front()) + " bytes, no flash routine";
  if (payload::IsPlaceholderRoutineStore(store))
    return "it is the placeholder store the programs are built with, not the drives' real flash routines";
  const auto offsets = payload::RoutineOffsets();
  for (std::size_t i = 0; i < payload::kProfileEntryCount; ++i) {
    const payload::ProfileEntry& entry = payload::kProfileTable[i];
    const auto routine = store.subspan(offsets[i], entry.routineSize);
    if (IsOneByteRepeated(routine))
      return Place(i, offsets[i], entry.routineSize) + " holds only " + Hex(routine.front()) + " bytes";
    if (entry.label.empty()) continue;
    // The label with its NUL, wholly inside the routine's own place: a store laid out in
    // another order, or shifted, carries it elsewhere or not at all.
    std::string label(entry.label);
    label.push_back('\0');
    if (std::search(routine.begin(), routine.end(), label.begin(), label.end()) == routine.end())
      return Place(i, offsets[i], entry.routineSize) + " does not carry its label \"" +
             std::string(entry.label) + "\"";
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadRoutineStoreFile(const std::string& path, std::string& reason) {
  // Any length is opened so that a wrong one can be named; only the store's own is read.
  std::uint64_t size = 0;
  sys::FileHandle file = sys::OpenRegularFile(path, ~std::uint64_t{0}, size, reason);
  if (!file) return std::nullopt;
  if (size != kRoutineStoreSize) {
    reason = LengthProblem(size);
    return std::nullopt;
  }
  std::vector<std::uint8_t> store(kRoutineStoreSize);
  if (std::fread(store.data(), 1, store.size(), file.get()) != store.size()) {
    reason = "cannot read " + path + ": " + sys::LastFileErrorText();
    return std::nullopt;
  }
  if (const auto problem = CheckRoutineStore(store)) {
    reason = *problem;
    return std::nullopt;
  }
  return store;
}

std::optional<StoreBlockInFile> FindRoutineStoreBlock(std::FILE* program, std::uint64_t payloadOffset) {
  auto found = FindMarkedBlock(program, payloadOffset, payload::OwnRoutineStoreMarker(), kRoutineStoreSize);
  if (!found) return std::nullopt;
  return StoreBlockInFile{found->MarkerOffset, std::move(found->Body)};
}

std::optional<StoreBlockInFile> ReadRoutineStoreFromFile(const std::string& path, std::uint64_t payloadOffset) {
  std::uint64_t size = 0;
  std::string error;
  sys::FileHandle file = sys::OpenRegularFile(path, payload::kMaxProgramBytes, size, error);
  if (!file) return std::nullopt;
  return FindRoutineStoreBlock(file.get(), payloadOffset);
}

} // namespace builder
