#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "flash/Profiles.h"

namespace {

using flash::FlashId;
using flash::ImageKind;

TEST(ProfileTable, OffsetsLabelsAndStoreSizeAreConsistent) {
  const auto offsets = flash::RoutineOffsets();
  const std::array<std::uint32_t, 7> expected{0, 314, 766, 766, 2046, 3326, 4326};
  EXPECT_EQ(offsets, expected);
  const auto& last = flash::kProfileTable.back();
  EXPECT_EQ(offsets.back() + last.routineSize, flash::kRoutineStoreSize);

  const auto store = flash::RoutineStore();
  for (std::size_t i = 0; i < flash::kProfileEntryCount; ++i) {
    const auto& entry = flash::kProfileTable[i];
    if (entry.label.empty()) continue;
    SCOPED_TRACE(entry.label);
    // The label, with its NUL, lies wholly inside the entry's own routine.
    const auto routineBegin = store.begin() + offsets[i];
    const auto routineEnd = routineBegin + entry.routineSize;
    std::string needle(entry.label);
    needle.push_back('\0');
    EXPECT_NE(std::search(routineBegin, routineEnd, needle.begin(), needle.end()), routineEnd);
  }
  // Entries sharing a routine share its label too.
  for (std::size_t i = 0; i + 1 < flash::kProfileEntryCount; ++i) {
    if (flash::kProfileTable[i].sharesNextRoutine) {
      EXPECT_EQ(flash::kProfileTable[i].label, flash::kProfileTable[i + 1].label);
      EXPECT_EQ(flash::kProfileTable[i].routineSize, flash::kProfileTable[i + 1].routineSize);
    }
  }
}

TEST(ProfileTable, NoTwoEntriesShareAnIdForEitherKind) {
  std::set<std::pair<int, int>> cdRwIds;
  std::set<std::array<int, 4>> dvdIds;
  for (const auto& entry : flash::kProfileTable) {
    EXPECT_TRUE(cdRwIds.insert({entry.manufacturer, entry.device}).second);
    EXPECT_TRUE(dvdIds.insert({entry.manufacturer, entry.device, entry.extra4, entry.extra5}).second);
  }
}

TEST(RoutineStore, BuildsWithThePlaceholderUnlessAStoreIsGiven) {
  const auto placeholder = flash::MakePlaceholderRoutineStore();
  const auto store = flash::RoutineStore();
  EXPECT_EQ(flash::RoutineStoreIsPlaceholder(), std::equal(store.begin(), store.end(), placeholder.begin()));
}

struct SelectionCase {
  const char* name;
  ImageKind kind;
  FlashId id;
  bool found;
  int entry;
  std::uint32_t offset;
  std::uint32_t length;
  std::vector<std::uint8_t> header;
};

class ProfileSelection : public testing::TestWithParam<SelectionCase> {};

TEST_P(ProfileSelection, ChoosesEntryAndBuildsImage) {
  const SelectionCase& c = GetParam();
  std::vector<std::uint8_t> area(flash::kMaxProfileImage, 0xEE);
  const flash::ProfileState state = flash::BuildProfileImage(c.kind, c.id, area);
  EXPECT_EQ(state.found, c.found);
  EXPECT_EQ(state.entry, c.entry);
  EXPECT_EQ(state.length, c.length);
  EXPECT_EQ(std::vector<std::uint8_t>(area.begin(), area.begin() + c.header.size()), c.header);
  if (!c.found) return;
  EXPECT_EQ(state.offset, c.offset);
  EXPECT_EQ(state.headerLength, c.header.size());
  // The header is followed by the routine's bytes from the store.
  const auto store = flash::RoutineStore();
  const std::size_t routineBytes = state.length - state.headerLength;
  EXPECT_TRUE(std::equal(area.begin() + state.headerLength,
                         area.begin() + state.headerLength + routineBytes,
                         store.begin() + c.offset));
  EXPECT_TRUE(flash::ProfileCopyMatchesStore(state, area));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProfileSelection,
    testing::Values(
        SelectionCase{"CdRwEntry0", ImageKind::CdRwNewFormat, {0xDA, 0xC8, 9, 9}, true, 0, 0, 318, {0xDA, 0xC8, 0x01, 0x3A}},
        SelectionCase{"CdRwEntry1", ImageKind::CdRwNewFormat, {0xBF, 0xB4, 0, 0}, true, 1, 314, 456, {0xBF, 0xB4, 0x01, 0xC4}},
        SelectionCase{"CdRwSharedRoutine", ImageKind::CdRwNewFormat, {0xBF, 0xB6, 0, 0}, true, 3, 766, 1284, {0xBF, 0xB6, 0x05, 0x00}},
        SelectionCase{"CdRwEntry2", ImageKind::CdRwNewFormat, {0xBF, 0xD6, 0, 0}, true, 2, 766, 1284, {0xBF, 0xD6, 0x05, 0x00}},
        SelectionCase{"CdRwEntry4", ImageKind::CdRwNewFormat, {0x37, 0x8C, 0, 0}, true, 4, 2046, 1284, {0x37, 0x8C, 0x05, 0x00}},
        SelectionCase{"CdRwEntry5", ImageKind::CdRwNewFormat, {0xBF, 0xD7, 0, 0}, true, 5, 3326, 1004, {0xBF, 0xD7, 0x03, 0xE8}},
        SelectionCase{"CdRwIgnoresBytes2And3", ImageKind::CdRwNewFormat, {0x37, 0x0D, 0x12, 0x34}, true, 6, 4326, 1284, {0x37, 0x0D, 0x05, 0x00}},
        SelectionCase{"CdRwUnknownChip", ImageKind::CdRwNewFormat, {0x01, 0x02, 0, 0}, false, -1, 0, 4, {0xFF, 0xFF, 0x00, 0x00}},
        SelectionCase{"DvdEntry5", ImageKind::DvdRom, {0xBF, 0xD7, 0x00, 0x01}, true, 5, 3326, 1000, {0xBF, 0xD7, 0x00, 0x01, 0x03, 0xE8}},
        SelectionCase{"DvdEntry0", ImageKind::DvdRom, {0xDA, 0xC8, 0x00, 0x00}, true, 0, 0, 314, {0xDA, 0xC8, 0x00, 0x00, 0x01, 0x3A}},
        SelectionCase{"DvdEntry6", ImageKind::DvdRom, {0x37, 0x0D, 0x00, 0x01}, true, 6, 4326, 1280, {0x37, 0x0D, 0x00, 0x01, 0x05, 0x00}},
        SelectionCase{"DvdExtraBytesDiffer", ImageKind::DvdRom, {0xBF, 0xD7, 0x00, 0x00}, false, -1, 0, 0, {0xFF, 0xFF, 0x00, 0x00}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ProfileCheck, DvdCopyWithOneChangedRoutineByteFails) {
  std::vector<std::uint8_t> area(flash::kMaxProfileImage);
  const auto state = flash::BuildProfileImage(ImageKind::DvdRom, {0xBF, 0xD7, 0x00, 0x01}, area);
  ASSERT_EQ(state.length - state.headerLength, 994u);
  area[state.length - 1] ^= 0x01; // the last of the 994 compared bytes
  EXPECT_FALSE(flash::ProfileCopyMatchesStore(state, area));
  area[state.length - 1] ^= 0x01;
  area[state.length] ^= 0x01; // beyond what was sent: not compared
  EXPECT_TRUE(flash::ProfileCopyMatchesStore(state, area));
}

} // namespace
