#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "PayloadTestSupport.h"
#include "payload/PayloadBlock.h"
#include "payload/PayloadTexts.h"

namespace {

using payloadtest::Bytes;

// A block in memory with the given header texts and first image bytes.
struct BlockBytes {
  Bytes bytes = Bytes(payload::kBlockLength, 0);
  void Text(std::size_t headerOffset, const std::string& text) {
    std::memcpy(bytes.data() + payload::kMarkerLength + headerOffset, text.data(), text.size());
  }
  void Region(const std::string& text) {
    std::memcpy(bytes.data() + payload::kMarkerLength + payload::kHeaderLength, text.data(), text.size());
  }
  void Length(std::uint32_t length) {
    for (int i = 0; i < 4; ++i)
      bytes[payload::kMarkerLength + payload::kImageLengthOffset + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  payload::PayloadBlock View() const { return payload::PayloadBlock(bytes.data(), bytes.size()); }
};

TEST(PayloadBlock, BuilderTagIsAnExactFourByteMatch) {
  const struct {
    std::string region;
    bool builder;
  } cases[] = {
      {"RUSK", true},
      {std::string("RUSK\0", 5), true},
      {"RUSKY", true},
      {"RUSk", false},
      {"RUSX", false},
      {"rusk", false},
      {std::string("RUS\0", 4), false},
      {"\x02\x00\x30", false},
  };
  for (const auto& c : cases) {
    BlockBytes block;
    block.Region(c.region);
    EXPECT_EQ(block.View().HasBuilderTag(), c.builder) << c.region;
  }
}

TEST(PayloadBlock, TextFieldsStopAtTheirTerminatorOrTwentyFourCharacters) {
  BlockBytes block;
  block.Text(payload::kModelOffset, "ABCDEFGHIJKLMNOPQRSTUVWX");   // 24 characters, NUL at 24
  block.Text(payload::kInquiryOffset, "HBQ     MX77004150Q     Z");  // no NUL in the field
  block.Text(payload::kVendorOffset, std::string("hbq\0junk", 8));
  block.Text(payload::kNewRevisionOffset, "K4P5.");
  const payload::PayloadBlock view = block.View();
  EXPECT_EQ(view.Model(), "ABCDEFGHIJKLMNOPQRSTUVWX");
  EXPECT_EQ(view.Inquiry(), "HBQ     MX77004150Q     ");
  EXPECT_EQ(view.Vendor(), "hbq");
  EXPECT_EQ(view.Note(), "");
  EXPECT_EQ(view.NewRevisionField(), "K4P5.");
  EXPECT_EQ(view.NewRevision(), "K4P5");
}

TEST(PayloadBlock, WildcardsAndFlashAllAreTestedOnTheStoredBytes) {
  const struct {
    std::string inquiry, range, note;
    bool anyDrive, anyFirmware, flashAll;
  } cases[] = {
      {"--", "-ABCD-", "FLASH-ALL", true, true, true},
      {"-X", "-K4P1", "FLASH-ALL!", false, false, true},
      {"HBQ", "K4P1-K4PZ", "", false, false, false},
      {"--any", "------", "FLASH-AL", true, true, false},
      {"- -", "K4P1-", "flash-all", false, false, false},
      {"", "-K4P1K4PZ", "", false, false, false},
  };
  for (const auto& c : cases) {
    BlockBytes block;
    block.Text(payload::kInquiryOffset, c.inquiry);
    block.Text(payload::kFirmwareRangeOffset, c.range);
    block.Text(payload::kNoteOffset, c.note);
    const payload::PayloadBlock view = block.View();
    EXPECT_EQ(view.AcceptsAnyDrive(), c.anyDrive) << c.inquiry;
    EXPECT_EQ(view.AcceptsAnyFirmware(), c.anyFirmware) << c.range;
    EXPECT_EQ(view.IsFlashAll(), c.flashAll) << c.note;
  }
}

TEST(PayloadBlock, ImageViewNeverReachesPastTheRegion) {
  const struct {
    std::uint32_t length;
    bool fits;
    std::size_t imageSize;
  } cases[] = {{0, true, 0}, {1000, true, 1000}, {524288, true, 524288}, {524289, false, 0},
               {0xFFFFFFFF, false, 0}};
  for (const auto& c : cases) {
    BlockBytes block;
    block.Length(c.length);
    EXPECT_EQ(block.View().ImageLength(), c.length);
    EXPECT_EQ(block.View().ImageLengthFits(), c.fits);
    EXPECT_EQ(block.View().Image().size(), c.imageSize);
    EXPECT_EQ(block.View().ImageRegion().size(), payload::kImageCapacity);
  }
}

TEST(PayloadTexts, FormatsTheFieldsAsTheFlasherShowsThem) {
  const struct {
    std::string vendor, model, inquiry, range;
    payload::PayloadTexts expected;
  } cases[] = {
      {"hbq", "MX77004150Q", "HBQ     MX77004150Q", "K4P1-K4PZ",
       {"HBQ", "MX77004150Q", "HBQ     MX77004150Q     ", "K4P1-K4PZ", "K4P1", "K4PZ", false, false}},
      {"Odsim", "cdrw", "--", "K4P1",
       {"ODSIM", "cdrw", "--                      ", "     K4P1", "K4P1", "    ", true, false}},
      {"", "", "ABCDEFGHIJKLMNOPQRSTUVWX", "---------",
       {"", "", "ABCDEFGHIJKLMNOPQRSTUVWX", "---------", "----", "----", false, true}},
      // Control bytes: shown as '?', but compared with a drive's answers as they are.
      {"od\asim", "cd\x1b[2Jrw", "HBQ\x1b    MX77004150Q", "K4P\x7f-K4PZ",
       {"OD?SIM", "cd?[2Jrw", "HBQ\x1b    MX77004150Q     ", "K4P?-K4PZ", "K4P\x7f", "K4PZ", false, false}},
  };
  for (const auto& c : cases) {
    BlockBytes block;
    block.Text(payload::kVendorOffset, c.vendor);
    block.Text(payload::kModelOffset, c.model);
    block.Text(payload::kInquiryOffset, c.inquiry);
    block.Text(payload::kFirmwareRangeOffset, c.range);
    const payload::PayloadTexts texts = payload::MakePayloadTexts(block.View());
    EXPECT_EQ(texts.VendorName, c.expected.VendorName);
    EXPECT_EQ(texts.ModelName, c.expected.ModelName);
    EXPECT_EQ(texts.InquiryId, c.expected.InquiryId);
    EXPECT_EQ(texts.FirmwareRange, c.expected.FirmwareRange);
    EXPECT_EQ(texts.FirmwareLow, c.expected.FirmwareLow);
    EXPECT_EQ(texts.FirmwareHigh, c.expected.FirmwareHigh);
    EXPECT_EQ(texts.AnyDrive, c.expected.AnyDrive);
    EXPECT_EQ(texts.AnyFirmware, c.expected.AnyFirmware);
  }
}

TEST(OwnPayloadBlock, MarkerIsFourteenPrintablesAndANulWithAnUnrepeatedFirstCharacter) {
  const auto marker = payload::OwnPayloadBlock().Marker();
  ASSERT_EQ(marker.size(), 15u);
  EXPECT_EQ(marker[14], 0);
  EXPECT_TRUE(std::all_of(marker.begin(), marker.begin() + 14, [](std::uint8_t c) { return c > 0x20 && c < 0x7F; }));
  EXPECT_EQ(std::count(marker.begin(), marker.end(), marker[0]), 1);
  EXPECT_TRUE(payload::OwnPayloadBlock().HasBuilderTag());
}

// In the probe program's file the first run of marker bytes is the block itself: the builder's
// header placeholder and the image region with the builder tag follow it.
TEST(OwnPayloadBlock, FirstMarkerInTheProbeFileIsTheBlock) {
  const Bytes file = payloadtest::ReadFile(ODFLASH_PROBE_PATH);
  const Bytes marker = payloadtest::Marker();
  const auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end());
  ASSERT_NE(at, file.end());
  const auto offset = static_cast<std::size_t>(at - file.begin());
  ASSERT_GE(file.size(), offset + payload::kBlockLength);
  const payload::PayloadBlock block(file.data() + offset, payload::kBlockLength);
  EXPECT_TRUE(block.HasBuilderTag());
  EXPECT_TRUE(std::all_of(block.Header().begin(), block.Header().end(), [](std::uint8_t c) { return c == 0; }));
  const auto region = block.ImageRegion();
  EXPECT_TRUE(std::all_of(region.begin() + 4, region.end(), [](std::uint8_t c) { return c == 0; }));
}

} // namespace
