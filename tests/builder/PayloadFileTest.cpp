#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BuilderTestSupport.h"
#include "builder/PayloadFile.h"

namespace {

using buildertest::Bytes;
using buildertest::MakeProgram;
using buildertest::ScratchDir;

void SetLength(Bytes& file, std::size_t markerOffset, std::uint32_t length) {
  const std::size_t header = markerOffset + payload::kMarkerLength;
  const std::uint8_t littleEndian[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  std::copy(littleEndian, littleEndian + 4, file.begin() + static_cast<std::ptrdiff_t>(header + payload::kImageLengthOffset));
  file.at(header + payload::kHeaderLength) = 0x02;  // not a builder
}

TEST(ReadPayloadFromFile, RefusesFilesItCannotTrust) {
  ScratchDir dir;
  const std::string path = dir.Path("FILE.EXE");
  Bytes flasher = MakeProgram(Bytes(100, 'x'));
  SetLength(flasher, 100, 524288);
  Bytes damaged = flasher;
  SetLength(damaged, 100, 524289);
  Bytes huge = flasher;
  SetLength(huge, 100, 0xFFFFFFFF);
  Bytes cutInImage = MakeProgram(Bytes(100, 'x'), 4000);
  SetLength(cutInImage, 100, 5000);
  Bytes cutInHeader(flasher.begin(), flasher.begin() + 100 + 15 + 136);
  const struct {
    const char* label;
    Bytes file;
    std::string error;  // empty: accepted
  } cases[] = {
      {"full flasher", flasher, ""},
      {"builder", MakeProgram({}), ""},
      {"image length beyond the region", damaged,
       "damaged payload in " + path + ": image length 524289 exceeds the image region of 524288 bytes"},
      {"image length 0xFFFFFFFF", huge,
       "damaged payload in " + path + ": image length 4294967295 exceeds the image region of 524288 bytes"},
      {"image cut short", cutInImage, "image in " + path + " is cut short: 5000 bytes announced, 4000 present"},
      {"header cut short", cutInHeader, "payload header in " + path + " is cut short"},
      {"no marker", Bytes(5000, 'x'), "no payload block in " + path},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    buildertest::WriteFile(path, c.file);
    std::string error;
    const auto payload = builder::ReadPayloadFromFile(path, error);
    EXPECT_EQ(payload.has_value(), c.error.empty());
    EXPECT_EQ(error, c.error);
    if (payload) {
      EXPECT_EQ(payload->MarkerOffset, c.label == std::string("builder") ? 0u : 100u);
    }
  }
  std::string error;
  EXPECT_FALSE(builder::ReadPayloadFromFile(dir.Path("NONE.EXE"), error));
  // The system's own reason follows (its wording differs between systems).
  EXPECT_THAT(error, testing::StartsWith("cannot open " + dir.Path("NONE.EXE") + ": "));
  EXPECT_GT(error.size(), ("cannot open " + dir.Path("NONE.EXE") + ": ").size());
}

} // namespace
