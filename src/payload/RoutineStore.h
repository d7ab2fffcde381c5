#pragma once
// The routine store: the flash chips' programming routines (5606 bytes, back to back in profile
// table order), the table that says where each routine lies, and the store block every program
// carries. Like the payload block, the store block is marker-delimited static data that a
// builder may replace in its copy of the program, so the running program reads it only through
// a pointer the optimiser cannot see through, and decides at run time whether it holds the
// placeholder.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace payload {

inline constexpr std::size_t kRoutineStoreSize = 5606;
inline constexpr std::size_t kProfileEntryCount = 7;
inline constexpr std::size_t kStoreMarkerLength = 15; // 14 printable characters and a NUL
inline constexpr std::size_t kStoreBlockLength = kStoreMarkerLength + kRoutineStoreSize;

struct ProfileEntry {
  std::uint8_t manufacturer;  // flash ID byte 0
  std::uint8_t device;        // flash ID byte 1
  std::uint16_t routineSize;
  std::uint8_t extra4;        // compared with flash ID byte 2, DVD-ROM images only
  std::uint8_t extra5;        // compared with flash ID byte 3, DVD-ROM images only
  bool sharesNextRoutine;     // this entry's routine is also the next entry's: not counted
  std::string_view label;     // text carried inside the routine, empty when none
};

// Searched in this order; the first match wins. The routine offsets are the running sums of
// the sizes, skipping the entry that shares its routine with the next one.
inline constexpr std::array<ProfileEntry, kProfileEntryCount> kProfileTable{{
    {0xDA, 0xC8, 0x013A, 0x00, 0x00, false, ""},
    {0xBF, 0xB4, 0x01C4, 0x00, 0x00, false, ""},
    {0xBF, 0xD6, 0x0500, 0x00, 0x01, true, "This profile is for SST39VF020/SST39SF020 V1.2"},
    {0xBF, 0xB6, 0x0500, 0x00, 0x01, false, "This profile is for SST39VF020/SST39SF020 V1.2"},
    {0x37, 0x8C, 0x0500, 0x00, 0x01, false, "This profile is for AMIC A29002 Top V1.2"},
    {0xBF, 0xD7, 0x03E8, 0x00, 0x01, false, "This profile is for SST39VF040/SST39SF040 V1.0"},
    {0x37, 0x0D, 0x0500, 0x00, 0x01, false, "This profile is for AMIC A290021 Top V0.9"},
}};

// Offset of each entry's routine in the store.
constexpr std::array<std::uint32_t, kProfileEntryCount> RoutineOffsets() {
  std::array<std::uint32_t, kProfileEntryCount> offsets{};
  std::uint32_t running = 0;
  for (std::size_t i = 0; i < kProfileEntryCount; ++i) {
    offsets[i] = running;
    if (!kProfileTable[i].sharesNextRoutine) running += kProfileTable[i].routineSize;
  }
  return offsets;
}

// Where a labelled routine carries its label in the stores this program generates.
inline constexpr std::size_t kGeneratedLabelAt = 8;

// A store of deterministic filler bytes (from seed), with each labelled routine carrying its
// label text (NUL-terminated) a few bytes into the routine: laid out as a real store is.
constexpr std::array<std::uint8_t, kRoutineStoreSize> MakeFillerRoutineStore(std::uint32_t seed) {
  std::array<std::uint8_t, kRoutineStoreSize> store{};
  for (auto& byte : store) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  const auto offsets = RoutineOffsets();
  for (std::size_t i = 0; i < kProfileEntryCount; ++i) {
    const auto& label = kProfileTable[i].label;
    for (std::size_t c = 0; c < label.size(); ++c) store[offsets[i] + kGeneratedLabelAt + c] = label[c];
    if (!label.empty()) store[offsets[i] + kGeneratedLabelAt + label.size()] = 0;
  }
  return store;
}

// The placeholder store that programs are built with: filler bytes holding no real flash
// routine, which must never reach a real drive.
constexpr std::array<std::uint8_t, kRoutineStoreSize> MakePlaceholderRoutineStore() {
  return MakeFillerRoutineStore(0x0DF1A5u);
}

// True when store is exactly the placeholder.
bool IsPlaceholderRoutineStore(std::span<const std::uint8_t> store);

// The store block of this program: its 15 marker bytes (NUL included) and the store behind
// them, as they stand in the program file or as a builder replaced them.
std::span<const std::uint8_t, kStoreMarkerLength> OwnRoutineStoreMarker();
std::span<const std::uint8_t, kRoutineStoreSize> OwnRoutineStore();

} // namespace payload
