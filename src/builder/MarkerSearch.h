#pragma once
// The search for a payload block's marker in a byte stream: a counter of matched marker bytes
// that advances on a match and returns to 0 on a mismatch, without testing the mismatching byte
// again as a first marker byte. The first completed match is the block.

#include <cstddef>
#include <cstdint>
#include <span>

namespace builder {

class MarkerSearch {
public:
  explicit MarkerSearch(std::span<const std::uint8_t> marker) : marker_(marker) {}

  // Feeds the next bytes of the stream. Returns how many were consumed: all of them, or, when
  // the marker completes inside them, up to and including its last byte.
  std::size_t Feed(const std::uint8_t* data, std::size_t length);

  bool Found() const { return matched_ == marker_.size() && !marker_.empty(); }

private:
  std::span<const std::uint8_t> marker_;
  std::size_t matched_ = 0;
};

} // namespace builder
