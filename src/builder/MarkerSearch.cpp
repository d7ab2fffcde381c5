#include "builder/MarkerSearch.h"

#include <cstring>

#include "payload/PayloadLayout.h"
#include "sys/Files.h"

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

MarkerScan ReadThroughMarker(std::FILE* stream, std::span<const std::uint8_t> marker, std::size_t chunkSize,
                             const std::function<bool(const std::uint8_t* data, std::size_t length)>& through) {
  MarkerSearch search(marker);
  std::vector<std::uint8_t> buffer(chunkSize);
  MarkerScan scan;
  while (!search.Found()) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), stream);
    if (got == 0) return scan;
    const std::size_t used = search.Feed(buffer.data(), got);
    if (through && !through(buffer.data(), used)) return scan;
    scan.consumed += used;
  }
  scan.found = true;
  return scan;
}

std::optional<MarkedBlock> FindMarkedBlock(std::FILE* program, std::uint64_t payloadOffset,
                                           std::span<const std::uint8_t> marker, std::size_t bodyLength) {
  const std::uint64_t payloadEnd = payloadOffset + payload::kBlockLength;
  std::uint64_t position = 0; // file offset where the current scan started
  if (!sys::SeekTo(program, 0)) return std::nullopt;
  while (true) {
    const MarkerScan scan = ReadThroughMarker(program, marker, 64 * 1024);
    if (!scan.found) return std::nullopt;
    const std::uint64_t markerOffset = position + scan.consumed - marker.size();
    if (markerOffset >= payloadOffset && markerOffset < payloadEnd) {
      // Inside the payload block: go on behind it with a fresh search.
      position = payloadEnd;
      if (!sys::SeekTo(program, position)) return std::nullopt;
      continue;
    }
    MarkedBlock block;
    block.MarkerOffset = markerOffset;
    block.Body.resize(bodyLength);
    if (!sys::SeekTo(program, markerOffset + marker.size()) ||
        std::fread(block.Body.data(), 1, block.Body.size(), program) != block.Body.size())
      return std::nullopt;
    return block;
  }
}

} // namespace builder
