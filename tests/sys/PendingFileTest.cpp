#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "sys/Files.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

std::string TextOf(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What stands beside the final path after each way a pending file can end: only a kept file
// takes the final name, and no way leaves a temporary file behind.
TEST(PendingFile, OnlyKeepReplacesTheFinalFileAndNothingElseIsLeft) {
  enum class End { Keep, Discard, Destroy, KeepOntoFolder };
  struct Case {
    const char* name;
    End end;
    bool existingFinal;
    std::string finalText; // "" when nothing stands at the final path
  };
  const Case cases[] = {
      {"kept over nothing", End::Keep, false, "new"},
      {"kept over an older file", End::Keep, true, "new"},
      {"discarded", End::Discard, true, "old"},
      {"destroyed without keeping", End::Destroy, false, ""},
      {"destroyed beside an older file", End::Destroy, true, "old"},
      {"final path turned into a folder", End::KeepOntoFolder, false, ""},
  };
  const fs::path folder = fs::temp_directory_path() / "odflash_pending_file_test";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path final = folder / "OUT.EXE";
    if (c.existingFinal) std::ofstream(final, std::ios::binary) << "old";
    std::string error;
    {
      std::optional<sys::PendingFile> pending = sys::PendingFile::Create(final.string(), false, error);
      ASSERT_TRUE(pending) << error;
      ASSERT_TRUE(pending->Write("new", 3, error)) << error;
      switch (c.end) {
      case End::Keep: EXPECT_TRUE(pending->Keep(error)) << error; break;
      case End::Discard: EXPECT_TRUE(pending->Discard(error)) << error; break;
      case End::Destroy: break;
      case End::KeepOntoFolder:
        fs::create_directory(final);
        EXPECT_FALSE(pending->Keep(error));
        EXPECT_EQ(error, final.string() + " is a folder, not a file");
        fs::remove(final);
        break;
      }
      // Once kept or discarded, a file cannot be kept again.
      if (c.end != End::Destroy) {
        std::string again;
        EXPECT_FALSE(pending->Keep(again));
        EXPECT_FALSE(again.empty());
      }
    }
    const std::vector<std::string> expectedNames =
        c.finalText.empty() ? std::vector<std::string>{} : std::vector<std::string>{"OUT.EXE"};
    EXPECT_EQ(NamesIn(folder), expectedNames);
    if (!c.finalText.empty()) {
      EXPECT_EQ(TextOf(final), c.finalText);
    }
  }
  // A folder that does not exist: nothing is created, and the reason is the system's.
  std::string error;
  EXPECT_FALSE(sys::PendingFile::Create((folder / "missing" / "OUT.EXE").string(), false, error));
  EXPECT_FALSE(error.empty());
  fs::remove_all(folder);
}

} // namespace
