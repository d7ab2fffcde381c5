#pragma once
// Classification of a firmware image by its fixed signatures; it decides whether and how a
// flash-chip profile is uploaded before the image.

#include <cstdint>
#include <span>

namespace payload {

enum class ImageKind {
  Plain,          // neither flag
  CdRwNewFormat,  // signature 05 80 at 0x1100 (and not at 0x4000 or 0x4008)
  DvdRom,         // signature at 0x4000 (or else 0x4008) and a DVD-ROM model text 16 bytes on
};

// Classifies an image by its own bytes (the tests read fixed offsets whatever the image
// length). Bytes beyond the span count as not matching: what a region holds past the image
// never decides the kind.
ImageKind CheckNewFormatBIN(std::span<const std::uint8_t> image);

const char* ImageKindName(ImageKind kind);  // "plain", "CD-RW new-format", "DVD-ROM"

} // namespace payload
