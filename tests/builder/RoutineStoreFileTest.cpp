#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "BuilderTestSupport.h"
#include "builder/FlasherWriter.h"
#include "builder/RoutineStoreFile.h"
#include "payload/RoutineStore.h"

namespace {

using buildertest::Bytes;
using buildertest::MakeProgram;
using buildertest::Pattern;
using buildertest::ReadFile;
using buildertest::RecordingSink;
using buildertest::ScratchDir;
using buildertest::WriteFile;

Bytes Filler() {
  const auto store = payload::MakeFillerRoutineStore(0x5EED);
  return Bytes(store.begin(), store.end());
}

Bytes StoreMarker() {
  const auto marker = payload::OwnRoutineStoreMarker();
  return Bytes(marker.begin(), marker.end());
}

struct StoreCase {
  const char* name;
  Bytes store;
  std::string reason; // empty: accepted
};

// Each store file the builder must refuse, with the reason the user reads, and the one it takes.
TEST(RoutineStoreFile, IsCheckedAgainstTheProfileTable) {
  const Bytes filler = Filler();
  const auto placeholder = payload::MakePlaceholderRoutineStore();
  Bytes misplaced = filler;
  // The AMIC A29002 routine (entry 4, bytes 2046-3325) moved 2000 bytes on: its label now lies
  // in the next routine's place.
  std::fill(misplaced.begin() + 2046, misplaced.begin() + 2046 + 100, 0x11);
  std::copy_n(filler.begin() + 2046, 100, misplaced.begin() + 4046);
  Bytes erasedRoutine = filler;
  std::fill(erasedRoutine.begin() + 314, erasedRoutine.begin() + 766, 0xFF);
  const std::vector<StoreCase> cases = {
      {"right", filler, ""},
      {"short", Bytes(filler.begin(), filler.end() - 1), "it holds 5605 bytes; a routine store holds exactly 5606"},
      {"long", [&] { Bytes b = filler; b.push_back(0); return b; }(),
       "it holds 5607 bytes; a routine store holds exactly 5606"},
      {"placeholder", Bytes(placeholder.begin(), placeholder.end()),
       "it is the placeholder store the programs are built with, not the drives' real flash routines"},
      {"all zeros", Bytes(5606, 0x00), "it holds only 0x00 bytes, no flash routine"},
      {"all 0xFF", Bytes(5606, 0xFF), "it holds only 0xFF bytes, no flash routine"},
      {"one routine erased", erasedRoutine, "the routine of profile entry 1 (bytes 314 to 765) holds only 0xFF bytes"},
      {"one routine misplaced", misplaced,
       "the routine of profile entry 4 (bytes 2046 to 3325) does not carry its label "
       "\"This profile is for AMIC A29002 Top V1.2\""},
  };
  ScratchDir dir;
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Path("odflash-gui.ROUTINES");
    WriteFile(path, c.store);
    std::string reason;
    const auto store = builder::ReadRoutineStoreFile(path, reason);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(store.has_value(), c.reason.empty());
    if (store) {
      EXPECT_TRUE(*store == c.store);
    }
  }
}

class RoutineStoreBuild : public testing::Test {
protected:
  // A builder whose store block (the placeholder) stands after its payload block, and a
  // firmware that carries the store marker itself, which the search must not take.
  void SetUp() override {
    program = MakeProgram(Pattern(3000, 1));
    storeAt = program.size() + 100;
    const Bytes gap = Pattern(100, 3);
    program.insert(program.end(), gap.begin(), gap.end());
    const Bytes marker = StoreMarker();
    program.insert(program.end(), marker.begin(), marker.end());
    const auto placeholder = payload::MakePlaceholderRoutineStore();
    program.insert(program.end(), placeholder.begin(), placeholder.end());
    program.resize(program.size() + 500, 0x5A);
    WriteFile(dir.Path("odflash-gui.exe"), program);
    firmware = Pattern(70000, 2);
    firmware[0] = 0x02;
    std::copy(marker.begin(), marker.end(), firmware.begin() + 1000);
    WriteFile(dir.Path("K4P5.BIN"), firmware);
  }

  builder::BuildRequest Request() const {
    builder::BuildRequest request;
    request.ProgramPath = dir.Path("odflash-gui.exe");
    request.FirmwarePath = dir.Path("K4P5.BIN");
    request.SelectedFileName = "K4P5.BIN";
    request.OutputDirectory = dir.Path();
    request.Model = builder::ModelEntry{"MX77004150Q", "HBQ     MX77004150Q     ", "K4P1-K4PZ", "HBQ", ""};
    return request;
  }

  Bytes StoreIn(const Bytes& file) const {
    const std::size_t at = storeAt + payload::kStoreMarkerLength;
    return Bytes(file.begin() + at, file.begin() + at + payload::kRoutineStoreSize);
  }

  ScratchDir dir;
  Bytes program, firmware;
  std::size_t storeAt = 0;
};

// The store file beside the builder goes into the flasher's store block and nowhere else; an
// explicit one takes its place; without one the flasher keeps the builder's store.
TEST_F(RoutineStoreBuild, TheFlasherCarriesTheStoreFile) {
  RecordingSink plain;
  ASSERT_TRUE(builder::NewBuildFlashProgram(Request(), plain));
  const Bytes withoutStore = ReadFile(dir.Path("K4P5.EXE"));
  EXPECT_TRUE(StoreIn(withoutStore) == StoreIn(program));

  WriteFile(dir.Path("odflash-gui.ROUTINES"), Filler());
  RecordingSink beside;
  ASSERT_TRUE(builder::NewBuildFlashProgram(Request(), beside)) << testing::PrintToString(beside.Messages);
  Bytes flasher = ReadFile(dir.Path("K4P5.EXE"));
  ASSERT_EQ(flasher.size(), program.size());
  EXPECT_TRUE(StoreIn(flasher) == Filler());
  // Apart from the store, the same bytes as the build without a store file.
  std::copy_n(program.begin() + storeAt, payload::kStoreBlockLength, flasher.begin() + storeAt);
  EXPECT_TRUE(flasher == withoutStore);

  const auto block = builder::ReadRoutineStoreFromFile(dir.Path("K4P5.EXE"), 3000);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->MarkerOffset, storeAt);
  EXPECT_TRUE(block->Store == Filler());

  const auto other = payload::MakeFillerRoutineStore(77);
  WriteFile(dir.Path("other.bin"), Bytes(other.begin(), other.end()));
  builder::BuildRequest request = Request();
  request.RoutineStorePath = dir.Path("other.bin");
  RecordingSink chosen;
  ASSERT_TRUE(builder::NewBuildFlashProgram(request, chosen));
  EXPECT_TRUE(StoreIn(ReadFile(dir.Path("K4P5.EXE"))) == Bytes(other.begin(), other.end()));
}

// A bad store file stops the build before the output is created, with the reason in the box.
TEST_F(RoutineStoreBuild, ABadStoreFileStopsTheBuild) {
  WriteFile(dir.Path("odflash-gui.ROUTINES"), Bytes(5606, 0x00));
  RecordingSink sink;
  EXPECT_FALSE(builder::NewBuildFlashProgram(Request(), sink));
  EXPECT_THAT(sink.Messages, testing::ElementsAre("Building fail: the routine store " +
                                                  dir.Path("odflash-gui.ROUTINES") +
                                                  " cannot be used: it holds only 0x00 bytes, no flash routine."));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("K4P5.EXE")));
}

} // namespace
