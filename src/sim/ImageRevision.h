#pragma once
// Where a firmware image names its own revision, as far as the emulated drive is concerned:
// four ASCII characters at this image offset. After the emulated drive commits an image to its
// flash, INQUIRY reports these four bytes as the product revision level. The sample-image
// generator writes the revision there, so a sample flashed into the emulated drive shows its
// new revision the way a real drive would after an update.

#include <cstddef>

namespace sim {

inline constexpr std::size_t kImageRevisionOffset = 0x100;
inline constexpr std::size_t kImageRevisionLength = 4;

} // namespace sim
