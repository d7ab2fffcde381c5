#include "sim/EmulatedDrive.h"

#include <cstdio>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/ImageRevision.h"

namespace {

using sim::EmulatedDrive;
using Cdb = std::uint8_t[12];

sim::DriveConfig Config(const std::string& ini) {
  sim::SimConfig config;
  std::string error;
  EXPECT_TRUE(sim::ParseSimConfig(ini, config, error)) << error;
  return config.empty() ? sim::DriveConfig{} : config[0];
}

sim::Sense SenseOf(const sim::CommandResult& result) {
  return {result.SenseData[2], result.SenseData[12], result.SenseData[13]};
}

TEST(EmulatedDrive, AnswersEachCommandAsARealDriveWould) {
  struct Case {
    const char* Name;
    std::array<std::uint8_t, 12> Cdb;
    bool DataIn;
    std::uint32_t Length;
    sim::Sense Expected;
  };
  const Case cases[] = {
      {"test unit ready, no medium", {0x00}, true, 0, {0x02, 0x3A, 0x00}},
      {"play audio, no medium", {0x45, 0, 0, 0, 0, 0x4B, 0, 0x60}, true, 8, {0x02, 0x3A, 0x00}},
      {"stop play/scan, no medium", {0x4E}, true, 0, {0x02, 0x3A, 0x00}},
      {"unknown opcode", {0x28}, true, 0, {0x05, 0x20, 0x00}},
      {"write beyond memory", {0x3B, 0x05, 0x01, 0x08, 0xFF, 0xF0, 0, 0, 0x20}, false, 32, {0x05, 0x24, 0x00}},
      {"read beyond memory", {0x3C, 0x01, 0x01, 0x09, 0, 0, 0, 0, 1}, true, 1, {0x05, 0x24, 0x00}},
      {"write, buffer id 0", {0x3B, 0x05, 0x00, 0, 0, 0, 0, 0, 0x10}, false, 16, {0x05, 0x24, 0x00}},
      {"write, unknown control", {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0x10, 0x42}, false, 16, {0x05, 0x24, 0x00}},
      {"vendor, unknown sub-code", {0xDF, 0x22}, true, 0, {0x05, 0x24, 0x00}},
      {"commit before any image", {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x80}, true, 16, {0x05, 0x2C, 0x00}},
      {"last profile byte", {0x3B, 0x05, 0x01, 0x08, 0xFF, 0xFF, 0, 0, 0x01, 0x7F}, false, 1, {}},
      {"entry critical", {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x7F}, true, 0, {}},
      {"start stop, load", {0x1B, 0, 0, 0, 0x03}, true, 0, {}},
  };
  EmulatedDrive drive(Config("[Drive0]\n"));
  std::uint8_t data[64] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::uint8_t cdb[12];
    std::copy(c.Cdb.begin(), c.Cdb.end(), cdb);
    const sim::CommandResult result = drive.Execute(cdb, c.DataIn, data, c.Length);
    EXPECT_TRUE(result.Delivered);
    EXPECT_EQ(SenseOf(result), c.Expected);
    EXPECT_EQ(result.Status, c.Expected == sim::Sense{} ? 0 : 2);
  }
  EXPECT_TRUE(drive.InCriticalPhase());
}

TEST(EmulatedDrive, InquiryCarriesTheConfiguredIdentity) {
  EmulatedDrive drive(Config("[Drive0]\nVendor=ODSIM\nProduct=DVD 16X\nRevision=B7\n"));
  std::uint8_t data[128];
  std::fill(std::begin(data), std::end(data), 0xEE);
  const Cdb inquiry = {0x12, 0, 0, 0, 0x80};
  const sim::CommandResult result = drive.Execute(inquiry, true, data, 128);
  EXPECT_EQ(result.Transferred, 36u);
  EXPECT_EQ(data[0], 0x05);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 28), "ODSIM   DVD 16X         B7  ");
  EXPECT_EQ(data[36], 0xEE); // beyond the answer nothing is touched
}

TEST(EmulatedDrive, BecomingReadyForTheConfiguredNumberOfPolls) {
  struct Case {
    const char* Ini;
    int PollsBecomingReady; // -1: every poll
    sim::Sense Settled;
  };
  const Case cases[] = {
      {"[Drive0]\nBecomingReadyPolls=3\nMedium=1\n", 3, {}},
      {"[Drive0]\nBecomingReadyPolls=0\nMedium=0\n", 0, {0x02, 0x3A, 0x00}},
      {"[Drive0]\nNeverReady=1\nMedium=1\n", -1, {}},
  };
  const Cdb load = {0x1B, 0, 0, 0, 0x03};
  const Cdb testUnitReady = {0x00};
  const Cdb stopPlayScan = {0x4E};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Ini);
    EmulatedDrive drive(Config(c.Ini));
    drive.Execute(load, true, nullptr, 0);
    for (int poll = 1; poll <= 100; ++poll) {
      drive.Execute(testUnitReady, true, nullptr, 0);
      const sim::Sense sense = SenseOf(drive.Execute(stopPlayScan, true, nullptr, 0));
      const bool becoming = c.PollsBecomingReady < 0 || poll <= c.PollsBecomingReady;
      const sim::Sense expected = becoming ? sim::Sense{0x02, 0x04, 0x01} : c.Settled;
      ASSERT_EQ(sense, expected) << "poll " << poll;
    }
  }
}

// The whole update as the flash procedure sends it: profile, image, read-back, commit.
TEST(EmulatedDrive, CommitTakesTheImageAndInquiryReportsItsRevision) {
  EmulatedDrive drive(Config("[Drive0]\nRevision=1.00\nFlashId=C2A71122\n"));
  std::vector<std::uint8_t> image(0x8000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  std::copy_n("2.05", 4, image.begin() + sim::kImageRevisionOffset);

  std::uint8_t id[128];
  const Cdb flashId = {0xDF, 0x11};
  ASSERT_EQ(SenseOf(drive.Execute(flashId, true, id, 128)), sim::Sense{});
  EXPECT_THAT(std::vector<std::uint8_t>(id, id + 6), ::testing::ElementsAre(0xC2, 0xA7, 0x11, 0x22, 0, 0));

  for (std::uint32_t offset = 0; offset < image.size(); offset += 0x4000) {
    const Cdb write = {0x3B, 0x05, 0x01, 0, static_cast<std::uint8_t>(offset >> 8), 0, 0, 0x40, 0x00};
    ASSERT_EQ(SenseOf(drive.Execute(write, false, image.data() + offset, 0x4000)), sim::Sense{});
  }
  std::vector<std::uint8_t> back(0x4000);
  const Cdb read = {0x3C, 0x01, 0x01, 0, 0x40, 0, 0, 0x40, 0x00};
  ASSERT_EQ(SenseOf(drive.Execute(read, true, back.data(), 0x4000)), sim::Sense{});
  EXPECT_TRUE(std::equal(back.begin(), back.end(), image.begin() + 0x4000));

  const Cdb commit = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x80};
  std::uint8_t reply[16];
  ASSERT_EQ(SenseOf(drive.Execute(commit, true, reply, 16)), sim::Sense{});
  EXPECT_EQ(drive.Flash(), image);
  EXPECT_EQ(drive.Revision(), "2.05");
  EXPECT_EQ(drive.CommitCount(), 1u);
  EXPECT_THAT(drive.Log(), ::testing::Contains("3B 05 01 00 40 00 00 40 00 00 00 00 out 16384"));
  EXPECT_EQ(drive.Log().back(), "3B 05 01 00 00 00 00 00 00 80 00 00 in 16");
}

// A drive with a state file keeps its flash across processes: the next drive made from the same
// configuration starts from what the last one committed, as a real drive after a restart does,
// and a file it did not write stops it from starting at all.
TEST(EmulatedDrive, StateFileCarriesACommitToTheNextInstance) {
  const std::string path = std::string(ODFLASH_BINARY_DIR) + "/tests/sim/drive-state-test.state";
  std::remove(path.c_str());
  const sim::DriveConfig config = Config("[Drive0]\nRevision=1.00\nStateFile=" + path + "\n");
  std::vector<std::uint8_t> image(0x4000, 0x5A);
  std::copy_n("2.05", 4, image.begin() + sim::kImageRevisionOffset);
  {
    EmulatedDrive first(config);
    EXPECT_EQ(first.Revision(), "1.00");
    const Cdb write = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0x40, 0x00};
    ASSERT_EQ(SenseOf(first.Execute(write, false, image.data(), 0x4000)), sim::Sense{});
    EmulatedDrive uncommitted(config);
    EXPECT_EQ(uncommitted.Revision(), "1.00");
    const Cdb commit = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0x80};
    ASSERT_EQ(SenseOf(first.Execute(commit, true, nullptr, 0)), sim::Sense{});
  }
  EmulatedDrive next(config);
  EXPECT_EQ(next.SetupError(), "");
  EXPECT_EQ(next.Revision(), "2.05");
  EXPECT_EQ(next.Flash(), image);

  std::FILE* foreign = std::fopen(path.c_str(), "wb");
  ASSERT_NE(foreign, nullptr);
  std::fputs("[Drive0]\n", foreign);
  std::fclose(foreign);
  EXPECT_EQ(EmulatedDrive(config).SetupError(),
            "emulated drive state file " + path + " is not one this drive wrote");
  std::remove(path.c_str());
}

TEST(EmulatedDrive, InjectedFaults) {
  const Cdb write = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0x10};
  const Cdb read = {0x3C, 0x01, 0x01, 0, 0, 0, 0, 0, 0x10};
  const Cdb commit = {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0xA0};
  std::uint8_t data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

  EmulatedDrive nth(Config("[Drive0]\nFailCommand=3B:2:04 08 00, *:4:03 11 00\nDropCommand=3C:1\n"));
  EXPECT_EQ(SenseOf(nth.Execute(write, false, data, 16)), sim::Sense{});
  EXPECT_EQ(SenseOf(nth.Execute(write, false, data, 16)), (sim::Sense{0x04, 0x08, 0x00}));
  EXPECT_FALSE(nth.Execute(read, true, data, 16).Delivered);
  EXPECT_EQ(SenseOf(nth.Execute(read, true, data, 16)), (sim::Sense{0x03, 0x11, 0x00}));
  EXPECT_EQ(SenseOf(nth.Execute(read, true, data, 16)), sim::Sense{});
  EXPECT_EQ(nth.Log().size(), 5u);

  EmulatedDrive corrupt(Config("[Drive0]\nCorruptReadAt=0x5\nFailCommit=03 0C 00\n"));
  corrupt.Execute(write, false, data, 16);
  std::uint8_t back[16] = {};
  corrupt.Execute(read, true, back, 16);
  EXPECT_EQ(back[5], static_cast<std::uint8_t>(6 ^ 0xFF));
  EXPECT_EQ(back[4], 5);
  EXPECT_EQ(SenseOf(corrupt.Execute(commit, true, back, 16)), (sim::Sense{0x03, 0x0C, 0x00}));
  EXPECT_TRUE(corrupt.Flash().empty());
}

TEST(SimConfig, BadFilesAreClearErrors) {
  struct Case {
    const char* Ini;
    const char* Error;
  };
  const Case cases[] = {
      {"", "no [Drive0] section"},
      {"[Drive1]\n", "line 1: expected section [Drive0], found [Drive1]"},
      {"Vendor=X\n", "line 1: key outside a [DriveN] section"},
      {"[Drive0]\nFlashId=C2A7\n", "line 2: bad value for FlashId: \"C2A7\", expected 8 hexadecimal digits"},
      {"[Drive0]\nMedium=yes\n", "line 2: bad value for Medium: \"yes\", expected 1 or 0"},
      {"[Drive0]\nBecomingReadyPolls=-3\n",
       "line 2: bad value for BecomingReadyPolls: \"-3\", expected a number of polls"},
      {"[Drive0]\nSpeed=4\n", "line 2: unknown key Speed; the keys are Vendor, Product, Revision, FlashId, "
                              "BecomingReadyPolls, NeverReady, Medium, Letter, Adapter, Target, Log, StateFile, FailCommand, "
                              "DropCommand, StatusCommand, TimeoutCommand, ShortCommand, HoldCommand, SenseFormat, "
                              "DeviceType, InquiryLength, "
                              "CorruptReadAt, FailCommit, CommitMilliseconds, LatencyMicroseconds, BusBytesPerSecond"},
      {"[Drive0]\nTarget=2\n", "line 2: bad value for Target: \"2\", expected 0 or 1"},
      {"[Drive0]\n[Drive1]\nAdapter=0\nTarget=0\n", "[Drive1] sits at adapter 0 target 0, as [Drive0] does"},
      {"[Drive0]\nBusBytesPerSecond=100\n[Drive1]\n",
       "[Drive1] gives adapter 0 another BusBytesPerSecond than the drive before it on that adapter"},
      {"[Drive0]\nFailCommand=3B:0:05 24 00\n",
       "line 2: bad value for FailCommand: \"3B:0:05 24 00\", expected OP:N:KK AA QQ[, ...] (OP hex or *)"},
      {"[Drive0]\nVendor=NINECHARS\n", "line 2: bad value for Vendor: \"NINECHARS\", expected at most 8 characters"},
      {"[Drive0\n", "line 1: unterminated section header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Ini);
    sim::SimConfig config;
    std::string error;
    EXPECT_FALSE(sim::ParseSimConfig(c.Ini, config, error));
    EXPECT_EQ(error, c.Error);
  }
  // A file that cannot be read names itself; a folder is refused before a byte is read.
  const struct {
    std::string Path;
    std::string ErrorStart;
  } unreadable[] = {
      {"/nonexistent/drives.ini", "cannot open /nonexistent/drives.ini: "},
      {ODFLASH_SOURCE_DIR "/data/sim", ODFLASH_SOURCE_DIR "/data/sim is a folder, not a file"},
  };
  for (const auto& c : unreadable) {
    SCOPED_TRACE(c.Path);
    sim::SimConfig config;
    std::string error;
    EXPECT_FALSE(sim::LoadSimConfig(c.Path, config, error));
    EXPECT_EQ(error.rfind(c.ErrorStart, 0), 0u) << error;
  }
}

// Every key of the table is found by its name in any letter case, and no name is there twice.
TEST(SimConfig, KeyTableNamesAreUnique) {
  std::set<std::string> names;
  for (const sim::SimKey& key : sim::SimKeys()) {
    std::string lower = key.Name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(names.insert(lower).second) << key.Name;
    sim::SimConfig config;
    std::string error;
    sim::ParseSimConfig("[Drive0]\n" + lower + "=!\n", config, error);
    EXPECT_EQ(error.find("unknown key"), std::string::npos) << error;
  }
}

TEST(SimConfig, SampleFileParses) {
  sim::SimConfig config;
  std::string error;
  ASSERT_TRUE(sim::LoadSimConfig(ODFLASH_SOURCE_DIR "/data/sim/drives.ini", config, error)) << error;
  EXPECT_EQ(config.size(), 3u);
}

} // namespace

namespace {

TEST(EmulatedDrive, LogFileGetsOneLinePerCommandAppended) {
  const std::string path = std::string(ODFLASH_BINARY_DIR) + "/tests/sim/drive-log-test.log";
  std::remove(path.c_str());
  std::FILE* existing = std::fopen(path.c_str(), "wb");
  ASSERT_NE(existing, nullptr);
  std::fputs("earlier run\n", existing);
  std::fclose(existing);
  {
    sim::DriveConfig config;
    config.LogPath = path;
    EmulatedDrive drive(config);
    const Cdb write = {0x3B, 0x05, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00};
    std::vector<std::uint8_t> data(0x4000);
    drive.Execute(write, false, data.data(), 0x4000);
    const Cdb testUnitReady = {0x00};
    drive.Execute(testUnitReady, true, nullptr, 0);
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  char text[256] = {};
  const std::size_t read = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  EXPECT_EQ(std::string(text, read), "earlier run\n"
                                     "3B 05 01 00 40 00 00 40 00 00 00 00 out 16384\n"
                                     "00 00 00 00 00 00 00 00 00 00 00 00 in 0\n");
  std::remove(path.c_str());
}

} // namespace
