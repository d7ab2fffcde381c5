#pragma once
// Flash chip profiles: the table of supported flash chips, the routine store holding their
// programming routines, the choice of a routine from the drive's flash ID, and the profile
// image that is uploaded to the drive.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "payload/ImageKind.h"

namespace flash {

using payload::ImageKind;

inline constexpr std::size_t kRoutineStoreSize = 5606;
inline constexpr std::size_t kProfileEntryCount = 7;
// The largest profile image: a 6-byte header and a 1280-byte routine.
inline constexpr std::size_t kMaxProfileImage = 6 + 1280;

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

// The embedded routine store (5606 bytes) and whether it is the generated placeholder,
// which holds no real flash routine and must never reach a real drive.
std::span<const std::uint8_t, kRoutineStoreSize> RoutineStore();
bool RoutineStoreIsPlaceholder();

// The placeholder store: deterministic filler bytes, with each labelled routine carrying its
// label text (NUL-terminated) a few bytes into the routine.
constexpr std::array<std::uint8_t, kRoutineStoreSize> MakePlaceholderRoutineStore() {
  std::array<std::uint8_t, kRoutineStoreSize> store{};
  std::uint32_t seed = 0x0DF1A5u;
  for (auto& byte : store) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  constexpr std::size_t kLabelAt = 8;
  const auto offsets = RoutineOffsets();
  for (std::size_t i = 0; i < kProfileEntryCount; ++i) {
    const auto& label = kProfileTable[i].label;
    for (std::size_t c = 0; c < label.size(); ++c) store[offsets[i] + kLabelAt + c] = label[c];
    if (!label.empty()) store[offsets[i] + kLabelAt + label.size()] = 0;
  }
  return store;
}

using FlashId = std::array<std::uint8_t, 4>;

// The per-run profile state of one upload.
struct ProfileState {
  bool found = false;
  int entry = -1;                  // index into kProfileTable when found
  std::uint32_t length = 0;        // bytes uploaded and later compared
  std::uint32_t offset = 0;        // routine offset in the store
  std::uint32_t headerLength = 0;  // 4 or 6 when found
};

// Chooses the entry for a flash ID. kind must be one of the two new-format kinds.
ProfileState SelectProfile(ImageKind kind, const FlashId& flashId);

// Builds the profile image for the choice into buildArea (at least kMaxProfileImage bytes)
// and returns the state with its length set. Without a match the image is the 4-byte
// no-profile header FF FF 00 00, of which 4 bytes are sent for a CD-RW new-format image and
// none for a DVD-ROM image.
ProfileState BuildProfileImage(ImageKind kind, const FlashId& flashId,
                               std::span<std::uint8_t> buildArea);

// The local check of a DVD-ROM profile copy: the routine bytes behind the header against the
// store. True when they are equal.
bool ProfileCopyMatchesStore(const ProfileState& state, std::span<const std::uint8_t> copy);

} // namespace flash
