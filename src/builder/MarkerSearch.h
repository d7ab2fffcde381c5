#pragma once
// The search for a payload block's marker in a byte stream. It keeps how much of the marker the
// bytes seen so far end with, and on a mismatch falls back to the longest part of the marker
// that still matches (Knuth-Morris-Pratt), so that no occurrence is skipped, whatever stands
// before it. The first completed match is the block.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
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

// How far ReadThroughMarker went.
struct MarkerScan {
  bool found = false;         // the marker completed
  std::uint64_t consumed = 0; // bytes handed on: through the marker's last byte when found
};

// Reads the stream from where it stands, in chunks of chunkSize, until the marker completes or
// the stream ends, handing each chunk to through (when given): up to and including the marker's
// last byte. A through that returns false stops the reading there (the answer is then not found).
// The stream is left anywhere.
MarkerScan ReadThroughMarker(std::FILE* stream, std::span<const std::uint8_t> marker, std::size_t chunkSize,
                             const std::function<bool(const std::uint8_t* data, std::size_t length)>& through = {});

// A block of a program file found by its marker: the store block, the integrity record.
struct MarkedBlock {
  std::uint64_t MarkerOffset = 0; // file offset of the block's first marker byte
  std::vector<std::uint8_t> Body; // the bodyLength bytes behind the marker
};

// The first block of marker whose marker does not start inside the payload block (payloadOffset
// and the block's length): a firmware image could hold the marker's bytes. Nothing when the
// file holds no such block or ends inside it. Leaves the stream anywhere.
std::optional<MarkedBlock> FindMarkedBlock(std::FILE* program, std::uint64_t payloadOffset,
                                           std::span<const std::uint8_t> marker, std::size_t bodyLength);

} // namespace builder
