#pragma once
// The search for a payload block's marker in a byte stream. It keeps how much of the marker the
// bytes seen so far end with, and on a mismatch falls back to the longest part of the marker
// that still matches (Knuth-Morris-Pratt), so that no occurrence is skipped, whatever stands
// before it. The first completed match is the block.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace builder {

class MarkerSearch {
public:
  explicit MarkerSearch(std::span<const std::uint8_t> marker);

  // Feeds the next bytes of the stream. Returns how many were consumed: all of them, or, when
  // the marker completes inside them, up to and including its last byte.
  std::size_t Feed(const std::uint8_t* data, std::size_t length);

  bool Found() const { return matched_ == marker_.size() && !marker_.empty(); }

private:
  std::span<const std::uint8_t> marker_;
  // fallback_[i]: the length of the longest proper prefix of the marker's first i + 1 bytes
  // that is also their suffix.
  std::vector<std::size_t> fallback_;
  std::size_t matched_ = 0;
};

} // namespace builder
