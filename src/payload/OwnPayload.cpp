// The payload block of this program. A builder patches these bytes in its copy of the file,
// so they must stand in the file exactly as laid out here: one packed, initialised, read-only
// object with no pointers inside. The marker exists only here; the builder's search takes the
// marker bytes from this object, so the block is the first occurrence in the file.

#include "payload/PayloadBlock.h"

namespace payload {
namespace {

struct RawBlock {
  std::uint8_t marker[kMarkerLength];
  std::uint8_t header[kHeaderLength];
  std::uint8_t region[kImageCapacity];
};
static_assert(sizeof(RawBlock) == kBlockLength, "the block must be packed");

// The marker's first character occurs nowhere else in it, so the byte-wise search cannot
// stumble over a partial match inside the marker.
__attribute__((used)) const RawBlock kOwnBlock = {
    {'{', 'o', 'd', 'f', 'l', 'a', 's', 'h', ':', 'd', 'a', 't', 'a', '}', 0},
    {},
    {'R', 'U', 'S', 'K'},
};

// Hides where the pointer comes from: without this an optimising build folds reads of the
// const object to their link-time values (every flasher would start as a builder).
const std::uint8_t* Launder(const std::uint8_t* pointer) {
  asm volatile("" : "+r"(pointer) : : "memory");
  return pointer;
}

} // namespace

const PayloadBlock& OwnPayloadBlock() {
  static const PayloadBlock block(Launder(kOwnBlock.marker), kBlockLength);
  return block;
}

} // namespace payload
