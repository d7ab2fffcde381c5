#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sys/Directory.h"

namespace {

namespace fs = std::filesystem;

TEST(ListFiles, MasksAreJoinedListedOnceAndSortedWithoutCase) {
  const fs::path folder = fs::temp_directory_path() / "odflash_listfiles_test";
  fs::remove_all(folder);
  fs::create_directories(folder / "SUB.BIN");
  for (const char* name : {"K4P5.BIN", "k4p6.bin", "2.30.DVD", "README", "K4P5.BAK"})
    std::ofstream(folder / name) << "x";

  const std::string directory = folder.string();
  const struct {
    const char* masks;
    std::vector<std::string> expected;
  } cases[] = {
      {"*.BIN", {"K4P5.BIN", "k4p6.bin"}},           // folders are not listed
      {"K4*.BIN; *.DVD", {"2.30.DVD", "K4P5.BIN", "k4p6.bin"}},
      {"*.BIN;K4*.BIN", {"K4P5.BIN", "k4p6.bin"}},   // a name matching two masks once
      {"*.ROM", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(sys::ListFiles(directory, c.masks), c.expected) << c.masks;
  EXPECT_TRUE(sys::ListFiles((folder / "missing").string(), "*.*").empty());
  fs::remove_all(folder);
}

TEST(CurrentDirectory, IsWhereRelativeNamesResolve) {
  const fs::path here = fs::current_path();
  const fs::path folder = fs::temp_directory_path() / "odflash_cwd_test";
  fs::create_directories(folder);
  fs::current_path(folder);
  EXPECT_TRUE(fs::equivalent(sys::CurrentDirectory(), folder));
  fs::current_path(here);
  fs::remove_all(folder);
}

} // namespace
