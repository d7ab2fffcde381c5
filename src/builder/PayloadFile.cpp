#include "builder/PayloadFile.h"

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
  const MarkerScan scan = ReadThroughMarker(file.get(), marker, 64 * 1024);
  if (!scan.found) {
    error = "no payload block in " + path;
    noBlock = true;
    return std::nullopt;
  }

  PayloadFile payload;
  payload.MarkerOffset = scan.consumed - marker.size();
  payload.Block.assign(marker.begin(), marker.end());
  // Never more than the block: a damaged length cannot make us read past the region.
  payload.Block.resize(payload::kBlockLength);
  const std::size_t more = sys::SeekTo(file.get(), scan.consumed)
                               ? std::fread(payload.Block.data() + marker.size(), 1,
                                            payload.Block.size() - marker.size(), file.get())
                               : 0;
  payload.Block.resize(marker.size() + more);

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
