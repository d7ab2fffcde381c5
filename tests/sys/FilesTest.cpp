#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "sys/Files.h"

namespace {

class PendingFileTest : public testing::Test {
protected:
  PendingFileTest() {
    std::random_device random;
    dir = std::filesystem::temp_directory_path() / ("odflash-files-" + std::to_string(random()));
    std::filesystem::create_directories(dir);
  }
  ~PendingFileTest() override { std::filesystem::remove_all(dir); }
  std::string Path(const char* name) const { return (dir / name).string(); }
  std::string Read(const char* name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::size_t FileCount() const {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
  }
  std::filesystem::path dir;
};

TEST_F(PendingFileTest, NothingStandsUnderTheNameUntilCommitted) {
  std::ofstream(Path("OUT.EXE"), std::ios::binary) << "old";
  {
    sys::PendingFile file;
    ASSERT_TRUE(file.Create(Path("OUT.EXE"), true));
    ASSERT_TRUE(file.Write("new", 3));
    EXPECT_EQ(Read("OUT.EXE"), "old");
  }  // abandoned
  EXPECT_EQ(Read("OUT.EXE"), "old");
  EXPECT_EQ(FileCount(), 1u);
  sys::PendingFile file;
  ASSERT_TRUE(file.Create(Path("OUT.EXE"), true));
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Commit(Path("OUT.EXE")));
  EXPECT_EQ(Read("OUT.EXE"), "new");
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(PendingFileTest, SameFileSeesThroughDifferentSpellings) {
  std::ofstream(Path("A.BIN"), std::ios::binary) << "a";
  EXPECT_TRUE(sys::SameFile(Path("A.BIN"), (dir / "." / "A.BIN").string()));
  EXPECT_FALSE(sys::SameFile(Path("A.BIN"), Path("B.BIN")));
  EXPECT_FALSE(sys::SameFile(Path("B.BIN"), Path("B.BIN")));  // neither exists
  EXPECT_FALSE(sys::PendingFile().Commit(Path("A.BIN")));
}

} // namespace
