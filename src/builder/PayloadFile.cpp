#include "builder/PayloadFile.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "builder/MarkerSearch.h"
#include "sys/Files.h"

namespace builder {

std::optional<PayloadFile> ReadPayloadFromFile(const std::string& path, std::string& error) {
  bool noBlock = false;
  return ReadPayloadFromFile(path, error, noBlock);
}

std::optional<PayloadFile> ReadPayloadFromFile(const std::string& path, std::string& error, bool& noBlock) {
  noBlock = false;
  std::uint64_t size = 0;
  sys::FileHandle file = sys::OpenRegularFile(path, payload::kMaxProgramBytes, size, error);
  if (!file) return std::nullopt;
  const auto marker = payload::OwnPayloadBlock().Marker();
  MarkerSearch search(marker);
  std::vector<std::uint8_t> buffer(64 * 1024);
  std::uint64_t consumed = 0;
  std::size_t got = 0, used = 0;
  while (!search.Found()) {
    got = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (got == 0) break;
    used = search.Feed(buffer.data(), got);
    consumed += used;
  }
  if (!search.Found()) {
    error = "no payload block in " + path;
    noBlock = true;
    return std::nullopt;
  }

  PayloadFile payload;
  payload.MarkerOffset = consumed - marker.size();
  payload.Block.assign(marker.begin(), marker.end());
  payload.Block.insert(payload.Block.end(), buffer.begin() + static_cast<std::ptrdiff_t>(used),
                       buffer.begin() + static_cast<std::ptrdiff_t>(got));
  // Never more than the block: a damaged length cannot make us read past the region.
  while (payload.Block.size() < payload::kBlockLength) {
    const std::size_t want = std::min(buffer.size(), payload::kBlockLength - payload.Block.size());
    const std::size_t more = std::fread(buffer.data(), 1, want, file.get());
    if (more == 0) break;
    payload.Block.insert(payload.Block.end(), buffer.begin(),
                         buffer.begin() + static_cast<std::ptrdiff_t>(more));
  }
  payload.Block.resize(std::min(payload.Block.size(), payload::kBlockLength));

  if (payload.Block.size() < payload::kMarkerLength + payload::kHeaderLength) {
    error = "payload header in " + path + " is cut short";
    return std::nullopt;
  }
  const payload::PayloadBlock view = payload.View();
  if (view.HasBuilderTag()) return payload;
  if (!view.ImageLengthFits()) {
    error = "damaged payload in " + path + ": image length " + std::to_string(view.ImageLength()) +
            " exceeds the image region of " + std::to_string(payload::kImageCapacity) + " bytes";
    return std::nullopt;
  }
  const std::size_t present = view.ImageRegion().size();
  if (view.ImageLength() > present) {
    error = "image in " + path + " is cut short: " + std::to_string(view.ImageLength()) +
            " bytes announced, " + std::to_string(present) + " present";
    return std::nullopt;
  }
  return payload;
}

} // namespace builder
