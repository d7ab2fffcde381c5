#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "SampleImages.h"
#include "payload/ImageKind.h"

namespace {

using payload::ImageKind;

struct Patch {
  std::size_t at;
  std::string bytes;
};

TEST(CheckNewFormatBIN, FirstSignaturePlaceDecides) {
  const std::string sig("\x05\x80", 2);
  const struct {
    const char* label;
    std::vector<Patch> patches;
    ImageKind expected;
  } cases[] = {
      {"nothing", {}, ImageKind::Plain},
      {"CD-RW at 0x1100", {{0x1100, sig}}, ImageKind::CdRwNewFormat},
      {"DVD at 0x4000, first text", {{0x4000, sig}, {0x4010, "DVD-ROM QAX-200"}}, ImageKind::DvdRom},
      {"DVD at 0x4000, second text in lower case", {{0x4000, sig}, {0x4010, "dvd-rom qbx-310"}}, ImageKind::DvdRom},
      {"16th byte not compared", {{0x4000, sig}, {0x4010, "DVD-ROM QAX-2001"}}, ImageKind::DvdRom},
      {"signature at 0x4000 and 0x1100, no DVD text", {{0x4000, sig}, {0x1100, sig}, {0x4010, "CD-RW DRIVE 123"}}, ImageKind::Plain},
      {"signature at 0x4008: text from 0x4018", {{0x4008, sig}, {0x4018, "DVD-ROM QBX-310"}}, ImageKind::DvdRom},
      {"signature at 0x4008, text at 0x4010 only", {{0x4008, sig}, {0x4010, "DVD-ROM QBX-310"}}, ImageKind::Plain},
      {"0x4000 decides before 0x4008", {{0x4000, sig}, {0x4008, sig}, {0x4018, "DVD-ROM QBX-310"}}, ImageKind::Plain},
      {"signature in the other order", {{0x4000, "\x80\x05"}, {0x4008, "\x80\x05"}, {0x1100, "\x80\x05"}, {0x4010, "DVD-ROM QAX-200"}}, ImageKind::Plain},
      {"text one letter off", {{0x4000, sig}, {0x4010, "DVD-ROM QAX-201"}}, ImageKind::Plain},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> region(0x8000, 0xFF);
    for (const Patch& p : c.patches) std::memcpy(region.data() + p.at, p.bytes.data(), p.bytes.size());
    EXPECT_EQ(payload::CheckNewFormatBIN(region), c.expected) << c.label;
  }
}

// The generated samples are of the kinds their names promise.
TEST(CheckNewFormatBIN, SampleImagesHaveTheirKinds) {
  const struct {
    samples::SampleKind kind;
    ImageKind expected;
  } cases[] = {{samples::SampleKind::Plain, ImageKind::Plain},
               {samples::SampleKind::CdRwNewFormat, ImageKind::CdRwNewFormat},
               {samples::SampleKind::DvdRom, ImageKind::DvdRom},
               {samples::SampleKind::DvdRomAt4008, ImageKind::DvdRom}};
  for (const auto& c : cases) {
    const auto image = samples::MakeSampleImage(c.kind, "K4P5");
    EXPECT_EQ(payload::CheckNewFormatBIN(image), c.expected);
    EXPECT_EQ(std::string(image.begin() + 0x100, image.begin() + 0x104), "K4P5");
  }
}

} // namespace
