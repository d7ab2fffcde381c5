#pragma once
// Helpers shared by the payload and builder tests: whole-file reads and the running program's
// own marker as bytes.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/PayloadBlock.h"

namespace payloadtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline Bytes Marker() {
  const auto marker = payload::OwnPayloadBlock().Marker();
  return Bytes(marker.begin(), marker.end());
}

} // namespace payloadtest
