#include <gtest/gtest.h>

#include <vector>

#include "flash/CommandBlocks.h"

namespace {

using flash::CommandBlock;

struct BlockCase {
  const char* name;
  CommandBlock block;
  std::array<std::uint8_t, 12> cdb;
  std::uint8_t direction;
  std::uint32_t transferLength;
};

class CommandBlocks : public testing::TestWithParam<BlockCase> {};

TEST_P(CommandBlocks, AreByteExact) {
  const BlockCase& c = GetParam();
  EXPECT_EQ(c.block.Cdb, c.cdb);
  EXPECT_EQ(c.block.DataIn, c.direction == flash::kDataIn);
  EXPECT_EQ(c.block.Length, c.transferLength);
}

INSTANTIATE_TEST_SUITE_P(
    VendorSet, CommandBlocks,
    testing::Values(
        BlockCase{"WriteE2", flash::WriteE2Block(0x0011, 0x5A), {0xDF, 0x0A, 0, 0, 0, 0, 0, 0x00, 0x11, 0x5A, 0, 0}, 1, 0},
        BlockCase{"ReadFlashId", flash::ReadFlashIdBlock(), {0xDF, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 128},
        BlockCase{"WriteBufferSecondChunk", flash::WriteBufferBlock(0x4000, 16384), {0x3B, 0x05, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00, 0, 0}, 0, 16384},
        BlockCase{"WriteBufferPartialChunk", flash::WriteBufferBlock(0x8000, 0x123), {0x3B, 0x05, 0x01, 0x00, 0x80, 0x00, 0x00, 0x01, 0x23, 0x00, 0, 0}, 0, 0x123},
        BlockCase{"WriteProfileCdRw", flash::WriteProfileBlock(1284, false), {0x3B, 0x05, 0x01, 0x08, 0, 0, 0, 0x05, 0x04, 0x7F, 0, 0}, 0, 1284},
        BlockCase{"WriteProfileDvd", flash::WriteProfileBlock(1000, true), {0x3B, 0x05, 0x01, 0x00, 0, 0, 0, 0x03, 0xE8, 0x7F, 0, 0}, 0, 1000},
        BlockCase{"EntryCritical", flash::EntryCriticalBlock(), {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x7F, 0, 0}, 1, 0},
        BlockCase{"Flash", flash::FlashBlock(false), {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x80, 0, 0}, 1, 16},
        BlockCase{"FlashAll", flash::FlashBlock(true), {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0xA0, 0, 0}, 1, 16},
        BlockCase{"ReadBuffer", flash::ReadBufferBlock(0x8000, 16384), {0x3C, 0x01, 0x01, 0x00, 0x80, 0x00, 0x00, 0x40, 0x00, 0, 0, 0}, 1, 16384},
        BlockCase{"ReadProfile", flash::ReadProfileBlock(1284), {0x3C, 0x01, 0x01, 0x08, 0, 0, 0, 0x05, 0x04, 0, 0, 0}, 1, 1284},
        BlockCase{"StartStopUnitLoad", flash::StartStopUnitBlock(true), {0x1B, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0}, 1, 0},
        BlockCase{"StopPlayScan", flash::StopPlayScanBlock(), {0x4E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
