#include "payload/ImageKind.h"

#include <cctype>
#include <cstddef>

namespace payload {
namespace {

constexpr std::size_t kDvdModelTextLength = 15;
constexpr std::size_t kDvdModelTextDistance = 0x10;
constexpr const char* kDvdModelTexts[] = {"DVD-ROM QAX-200", "DVD-ROM QBX-310"};

bool HasSignature(std::span<const std::uint8_t> region, std::size_t at) {
  return at + 1 < region.size() && region[at] == 0x05 && region[at + 1] == 0x80;
}

// A fixed 15-byte comparison, both sides upper-cased; it does not stop at a NUL.
bool HasDvdModelText(std::span<const std::uint8_t> region, std::size_t at) {
  if (at + kDvdModelTextLength > region.size()) return false;
  for (const char* text : kDvdModelTexts) {
    std::size_t i = 0;
    while (i < kDvdModelTextLength &&
           std::toupper(region[at + i]) == std::toupper(static_cast<unsigned char>(text[i])))
      ++i;
    if (i == kDvdModelTextLength) return true;
  }
  return false;
}

} // namespace

ImageKind CheckNewFormatBIN(std::span<const std::uint8_t> image) {
  // The first place that carries the signature decides.
  for (std::size_t place : {std::size_t{0x4000}, std::size_t{0x4008}}) {
    if (HasSignature(image, place))
      return HasDvdModelText(image, place + kDvdModelTextDistance) ? ImageKind::DvdRom
                                                                          : ImageKind::Plain;
  }
  return HasSignature(image, 0x1100) ? ImageKind::CdRwNewFormat : ImageKind::Plain;
}

const char* ImageKindName(ImageKind kind) {
  switch (kind) {
  case ImageKind::Plain: return "plain";
  case ImageKind::CdRwNewFormat: return "CD-RW new-format";
  case ImageKind::DvdRom: return "DVD-ROM";
  }
  return "plain";
}

} // namespace payload
