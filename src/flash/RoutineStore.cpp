#include "flash/Profiles.h"

namespace flash {
namespace {

#ifdef ODFLASH_ROUTINE_STORE_INC
// A store supplied at configure time, turned into a byte list by EmbedRoutineStore.cmake.
constexpr std::uint8_t kStore[kRoutineStoreSize] = {
#include ODFLASH_ROUTINE_STORE_INC
};
constexpr bool kIsPlaceholder = false;
#else
constexpr std::array<std::uint8_t, kRoutineStoreSize> kStore = MakePlaceholderRoutineStore();
constexpr bool kIsPlaceholder = true;
#endif

} // namespace

std::span<const std::uint8_t, kRoutineStoreSize> RoutineStore() {
  return std::span<const std::uint8_t, kRoutineStoreSize>(kStore);
}

bool RoutineStoreIsPlaceholder() { return kIsPlaceholder; }

} // namespace flash
