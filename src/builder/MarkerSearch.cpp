#include "builder/MarkerSearch.h"

#include <cstring>

namespace builder {

MarkerSearch::MarkerSearch(std::span<const std::uint8_t> marker) : marker_(marker), fallback_(marker.size(), 0) {
  for (std::size_t i = 1, length = 0; i < marker_.size(); ++i) {
    while (length > 0 && marker_[i] != marker_[length]) length = fallback_[length - 1];
    if (marker_[i] == marker_[length]) ++length;
    fallback_[i] = length;
  }
}

std::size_t MarkerSearch::Feed(const std::uint8_t* data, std::size_t length) {
  if (marker_.empty()) return length;
  std::size_t at = 0;
  while (at < length && !Found()) {
    if (matched_ == 0) {
      // Nothing matched yet: skip to the next first marker byte in one go.
      const void* hit = std::memchr(data + at, marker_[0], length - at);
      if (hit == nullptr) return length;
      at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    }
    while (matched_ > 0 && data[at] != marker_[matched_]) matched_ = fallback_[matched_ - 1];
    if (data[at] == marker_[matched_]) ++matched_;
    ++at;
  }
  return at;
}

} // namespace builder
