#pragma once
// Finding and reading the payload block inside any file (a flasher or a builder), for the
// command line: the same marker search the builder uses, then the header and the image.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "payload/PayloadBlock.h"

namespace builder {

struct PayloadFile {
  std::uint64_t MarkerOffset = 0;   // file offset of the block's first byte
  std::vector<std::uint8_t> Block;  // marker, header and image region as far as the file holds them

  payload::PayloadBlock View() const { return payload::PayloadBlock(Block.data(), Block.size()); }
};

// Reads the first payload block of the file. On failure returns nothing and sets error to a
// one-line reason: the file cannot be read, holds no block, is cut short inside the header, or
// announces an image longer than the image region or than the bytes present. A builder's
// block (builder tag in the region) is returned whatever its header holds.
std::optional<PayloadFile> ReadPayloadFromFile(const std::string& path, std::string& error);
// The same; noBlock tells a file without any block (a firmware file, say) from the other
// failures.
std::optional<PayloadFile> ReadPayloadFromFile(const std::string& path, std::string& error, bool& noBlock);

} // namespace builder
