// The store block of this program. A builder may replace the store in its copy of the file,
// so the block must stand in the file exactly as laid out here: one initialised, read-only
// object with no pointers inside. Its marker exists only here; the builder's search takes the
// marker bytes from this object.

#include "payload/RoutineStore.h"

#include <algorithm>

namespace payload {
namespace {

struct RawStoreBlock {
  std::uint8_t marker[kStoreMarkerLength];
  std::uint8_t store[kRoutineStoreSize];
};
static_assert(sizeof(RawStoreBlock) == kStoreBlockLength, "the block must be packed");

#ifdef ODFLASH_ROUTINE_STORE_INC
// A store supplied at configure time, turned into a byte list by EmbedRoutineStore.cmake.
constexpr std::uint8_t kBuiltInStore[kRoutineStoreSize] = {
#include ODFLASH_ROUTINE_STORE_INC
};
#else
constexpr std::array<std::uint8_t, kRoutineStoreSize> kBuiltInStore = MakePlaceholderRoutineStore();
#endif

// Evaluated by the compiler alone, so the marker stands in the file only inside the block.
consteval RawStoreBlock MakeStoreBlock() {
  RawStoreBlock block{{'{', 'o', 'd', 'f', 'l', 'a', 's', 'h', ':', 'c', 'o', 'd', 'e', '}', 0}, {}};
  std::copy(std::begin(kBuiltInStore), std::end(kBuiltInStore), block.store);
  return block;
}

__attribute__((used)) const RawStoreBlock kOwnStoreBlock = MakeStoreBlock();

// Hides where the pointer comes from, as for the payload block: without it an optimising build
// folds the placeholder test to its link-time answer.
const std::uint8_t* Launder(const std::uint8_t* pointer) {
  asm volatile("" : "+r"(pointer) : : "memory");
  return pointer;
}

} // namespace

bool IsPlaceholderRoutineStore(std::span<const std::uint8_t> store) {
  static constexpr auto kPlaceholder = MakePlaceholderRoutineStore();
  return std::equal(store.begin(), store.end(), kPlaceholder.begin(), kPlaceholder.end());
}

std::span<const std::uint8_t, kStoreMarkerLength> OwnRoutineStoreMarker() {
  return std::span<const std::uint8_t, kStoreMarkerLength>(Launder(kOwnStoreBlock.marker), kStoreMarkerLength);
}

std::span<const std::uint8_t, kRoutineStoreSize> OwnRoutineStore() {
  return std::span<const std::uint8_t, kRoutineStoreSize>(Launder(kOwnStoreBlock.store), kRoutineStoreSize);
}

} // namespace payload
