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
#include "payload/RoutineStore.h"

namespace flash {

using payload::ImageKind;

using payload::kProfileEntryCount;
using payload::kProfileTable;
using payload::kRoutineStoreSize;
using payload::MakePlaceholderRoutineStore;
using payload::ProfileEntry;
using payload::RoutineOffsets;

// The largest profile image: a 6-byte header and a 1280-byte routine.
inline constexpr std::size_t kMaxProfileImage = 6 + 1280;

// The routine store the profiles are taken from: this program's own store block, unless
// UseRoutineStore named another (the command line flashing from a flasher file uses the store
// that file carries).
std::span<const std::uint8_t, kRoutineStoreSize> RoutineStore();
void UseRoutineStore(std::span<const std::uint8_t, kRoutineStoreSize> store);
// Whether the store in use is the placeholder, which holds no real flash routine and must
// never reach a real drive; decided from the store's bytes.
bool RoutineStoreIsPlaceholder();

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
