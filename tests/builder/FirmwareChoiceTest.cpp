#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "BuilderTestSupport.h"
#include "builder/FirmwareChoice.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

TEST(FirmwareFiles, ListsTheFilesOfEveryMask) {
  buildertest::ScratchDir dir;
  for (const char* name : {"K4P5.BIN", "k4p6.bin", "K4P7.HEX", "NOTES.TXT", "AB.BIN"})
    buildertest::WriteFile(dir.Path(name), {1});
  std::filesystem::create_directory(dir.Path("FOLDER.BIN"));
  const struct {
    std::string mask;
    std::vector<std::string> names;
  } cases[] = {
      {"*.BIN", {"AB.BIN", "K4P5.BIN", "k4p6.bin"}},
      {"*.BIN;*.HEX", {"AB.BIN", "K4P5.BIN", "k4p6.bin", "K4P7.HEX"}},
      {"K4P?.* ; *.txt", {"K4P5.BIN", "k4p6.bin", "K4P7.HEX", "NOTES.TXT"}},
      {"*.BIN;K4*.BIN", {"AB.BIN", "K4P5.BIN", "k4p6.bin"}},
      {"*.ROM", {}},
  };
  for (const auto& c : cases)
    EXPECT_THAT(builder::FirmwareFiles(dir.Path(), c.mask), ElementsAreArray(c.names)) << c.mask;
}

} // namespace
