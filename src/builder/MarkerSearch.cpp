#include "builder/MarkerSearch.h"

#include <cstring>

namespace builder {

std::size_t MarkerSearch::Feed(const std::uint8_t* data, std::size_t length) {
  std::size_t at = 0;
  while (at < length && !Found()) {
    if (matched_ == 0) {
      // Bytes other than the first marker byte leave the counter at 0: skip them in one go.
      const void* hit = std::memchr(data + at, marker_[0], length - at);
      if (hit == nullptr) return length;
      at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    }
    matched_ = data[at] == marker_[matched_] ? matched_ + 1 : 0;
    ++at;
  }
  return at;
}

} // namespace builder
