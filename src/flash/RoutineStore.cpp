#include <algorithm>
#include <optional>

#include "flash/Profiles.h"

namespace flash {
namespace {

// A store named by UseRoutineStore, copied so that its owner's lifetime does not matter.
std::optional<std::array<std::uint8_t, kRoutineStoreSize>>& ChosenStore() {
  static std::optional<std::array<std::uint8_t, kRoutineStoreSize>> store;
  return store;
}

} // namespace

std::span<const std::uint8_t, kRoutineStoreSize> RoutineStore() {
  if (const auto& chosen = ChosenStore()) return std::span<const std::uint8_t, kRoutineStoreSize>(*chosen);
  return payload::OwnRoutineStore();
}

void UseRoutineStore(std::span<const std::uint8_t, kRoutineStoreSize> store) {
  ChosenStore().emplace();
  std::copy(store.begin(), store.end(), ChosenStore()->begin());
}

bool RoutineStoreIsPlaceholder() { return payload::IsPlaceholderRoutineStore(RoutineStore()); }

} // namespace flash
