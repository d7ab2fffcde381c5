#include "SampleImages.h"

#include <algorithm>
#include <cstring>

#include "sim/ImageRevision.h"

namespace samples {
namespace {

void Put(std::vector<std::uint8_t>& image, std::size_t at, const char* text, std::size_t length) {
  std::memcpy(image.data() + at, text, length);
}

} // namespace

std::vector<std::uint8_t> MakeSampleImage(SampleKind kind, const std::string& revision,
                                          std::size_t length) {
  std::vector<std::uint8_t> image(length);
  std::uint32_t state = 0x2545F491u;  // fixed seed: the same bytes on every build
  for (auto& byte : image) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  image[0] = 0x02;  // LJMP 0x0030: an image starts with a jump, never with the builder tag
  image[1] = 0x00;
  image[2] = 0x30;
  // No accidental signature at the places the image checks read.
  for (std::size_t at : {0x1100u, 0x4000u, 0x4008u}) image[at] = 0x00;
  Put(image, sim::kImageRevisionOffset, revision.c_str(),
      std::min(revision.size(), sim::kImageRevisionLength));
  switch (kind) {
  case SampleKind::Plain: break;
  case SampleKind::CdRwNewFormat:
    image[0x1100] = 0x05;
    image[0x1101] = 0x80;
    break;
  case SampleKind::DvdRom:
    image[0x4000] = 0x05;
    image[0x4001] = 0x80;
    Put(image, 0x4010, "DVD-ROM QAX-200", 16);
    break;
  case SampleKind::DvdRomAt4008:
    image[0x4008] = 0x05;
    image[0x4009] = 0x80;
    Put(image, 0x4018, "dvd-rom qbx-310", 16);
    break;
  }
  return image;
}

} // namespace samples
