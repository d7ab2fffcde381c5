#include "flash/Profiles.h"

#include <algorithm>

namespace flash {

ProfileState SelectProfile(ImageKind kind, const FlashId& flashId) {
  const auto offsets = RoutineOffsets();
  ProfileState state;
  for (std::size_t i = 0; i < kProfileEntryCount; ++i) {
    const ProfileEntry& entry = kProfileTable[i];
    bool matches = flashId[0] == entry.manufacturer && flashId[1] == entry.device;
    if (kind == ImageKind::DvdRom) matches = matches && flashId[2] == entry.extra4 && flashId[3] == entry.extra5;
    if (matches) {
      state.found = true;
      state.entry = static_cast<int>(i);
      state.offset = offsets[i];
      state.headerLength = kind == ImageKind::DvdRom ? 6 : 4;
      return state;
    }
  }
  return state;
}

ProfileState BuildProfileImage(ImageKind kind, const FlashId& flashId,
                               std::span<std::uint8_t> buildArea) {
  ProfileState state = SelectProfile(kind, flashId);
  std::uint32_t length = 0;
  if (state.found) {
    const ProfileEntry& entry = kProfileTable[state.entry];
    const std::uint8_t sizeHigh = static_cast<std::uint8_t>(entry.routineSize >> 8);
    const std::uint8_t sizeLow = static_cast<std::uint8_t>(entry.routineSize);
    std::size_t at = 0;
    buildArea[at++] = entry.manufacturer;
    buildArea[at++] = entry.device;
    if (kind == ImageKind::DvdRom) {
      buildArea[at++] = entry.extra4;
      buildArea[at++] = entry.extra5;
    }
    buildArea[at++] = sizeHigh;
    buildArea[at++] = sizeLow;
    const auto routine = RoutineStore().subspan(state.offset, entry.routineSize);
    std::copy(routine.begin(), routine.end(), buildArea.begin() + at);
    // An odd-sized routine is padded with a zero byte to an even length.
    length = (entry.routineSize + 1u) & ~1u;
    if (length != entry.routineSize) buildArea[at + entry.routineSize] = 0;
  } else {
    const std::uint8_t noProfile[] = {0xFF, 0xFF, 0x00, 0x00};
    std::copy(std::begin(noProfile), std::end(noProfile), buildArea.begin());
  }
  // The CD-RW header comes on top of the routine; a DVD-ROM upload stays at the routine's
  // length, so its last six routine bytes are not sent.
  if (kind == ImageKind::CdRwNewFormat) length += 4;
  state.length = length;
  return state;
}

bool ProfileCopyMatchesStore(const ProfileState& state, std::span<const std::uint8_t> copy) {
  if (state.length < state.headerLength) return true;
  const std::uint32_t routineBytes = state.length - state.headerLength;
  const auto store = RoutineStore();
  if (copy.size() < state.length || state.offset + routineBytes > store.size()) return false;
  return std::equal(copy.begin() + state.headerLength, copy.begin() + state.length,
                    store.begin() + state.offset);
}

} // namespace flash
