#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "BuilderTestSupport.h"
#include "builder/FlasherWriter.h"
#include "builder/PayloadFile.h"

#include <filesystem>

namespace {

using buildertest::Bytes;
using buildertest::MakeProgram;
using buildertest::Pattern;
using buildertest::ReadFile;
using buildertest::RecordingSink;
using buildertest::ScratchDir;
using buildertest::WriteFile;
using testing::ElementsAre;
using testing::IsEmpty;

const builder::ModelEntry kModel{"MX77004150Q", "HBQ     MX77004150Q     ", "K4P1-K4PZ", "HBQ",
                                 "FLASH-ALL"};

// The flasher as the byte-at-a-time copy writes it, and how often that copy steps the
// progress bar: the yardstick for the block-wise writer.
struct ReferenceBuild {
  Bytes Output;
  std::uint64_t Steps = 0;
  bool Complete = false;
};

ReferenceBuild BuildByteWise(const Bytes& program, const Bytes& firmware, const std::string& name) {
  const Bytes marker = buildertest::Marker();
  ReferenceBuild result;
  std::size_t matched = 0, j = 0;
  bool found = false;
  for (j = 0; j < program.size(); ++j) {
    result.Output.push_back(program[j]);
    if (j % 1024 == 0) ++result.Steps;
    matched = program[j] == marker[matched] ? matched + 1 : 0;
    if (matched == marker.size()) {
      found = true;
      break;
    }
  }
  if (!found) return result;
  const auto header = builder::MakePayloadHeader(kModel, name, static_cast<std::uint32_t>(firmware.size()));
  result.Output.insert(result.Output.end(), header.begin(), header.end());
  std::size_t read = j + 1 + payload::kHeaderLength + firmware.size();
  result.Output.insert(result.Output.end(), firmware.begin(), firmware.end());
  result.Steps += firmware.size() / 1024;
  j = j + firmware.size() + payload::kHeaderLength;
  // The image region past the firmware is zero-filled, never the program's own bytes.
  const std::size_t regionEnd = read - firmware.size() + payload::kImageCapacity;
  for (; j < program.size() - 1; ++j) {
    result.Output.push_back(read < regionEnd ? 0 : program[read]);
    ++read;
    if (j % 1024 == 0) ++result.Steps;
  }
  result.Complete = j + 1 == program.size();
  return result;
}

class FlasherWriterTest : public testing::Test {
protected:
  builder::BuildRequest Request(const std::string& firmwareName) {
    builder::BuildRequest request;
    request.ProgramPath = dir.Path("BUILDER.EXE");
    request.FirmwarePath = dir.Path(firmwareName);
    request.SelectedFileName = firmwareName;
    request.OutputDirectory = dir.Path();
    request.Model = kModel;
    return request;
  }

  ScratchDir dir;
  RecordingSink sink;
};

// Output bytes and progress steps equal the byte-wise copy's, for program files whose marker
// sits at, before and after step boundaries and chunk boundaries, with near-miss prefixes.
TEST_F(FlasherWriterTest, OutputAndProgressMatchTheByteWiseCopy) {
  const Bytes marker = buildertest::Marker();
  Bytes nearMiss(marker.begin(), marker.begin() + 9);  // a partial marker before the real one
  nearMiss.push_back('x');
  struct Case {
    const char* label;
    Bytes prefix;
    std::size_t firmwareLength;
    std::size_t suffixLength;
  };
  const std::vector<Case> cases = {
      {"marker at the start", {}, 1000, 0},
      {"marker ends on a step boundary", Pattern(1024 - 15 + 1, 3), 4096, 5000},
      {"marker across a copy chunk", Pattern(65536 - 7, 4), 524288, 1},
      {"near miss first", nearMiss, 1025, 70000},
      {"odd sizes", Pattern(200001, 5), 3, 1023},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes program = MakeProgram(c.prefix, payload::kImageCapacity, c.suffixLength);
    Bytes firmware = Pattern(c.firmwareLength, 9);
    firmware[0] = 0x02;
    WriteFile(dir.Path("BUILDER.EXE"), program);
    WriteFile(dir.Path("K4P5.BIN"), firmware);
    RecordingSink run;
    ASSERT_TRUE(builder::NewBuildFlashProgram(Request("K4P5.BIN"), run));
    const ReferenceBuild reference = BuildByteWise(program, firmware, "K4P5.BIN");
    ASSERT_TRUE(reference.Complete);
    EXPECT_TRUE(ReadFile(dir.Path("K4P5.EXE")) == reference.Output);
    EXPECT_EQ(run.Steps, reference.Steps);
    EXPECT_EQ(run.ProgressMaximum, program.size());
    EXPECT_EQ(run.ProgressStep, 1024u);
    EXPECT_THAT(run.Captions, ElementsAre("Building K4P5.BIN  Please wait... ", "Build K4P5.EXE complete!"));
    EXPECT_THAT(run.Positions, ElementsAre(0u));
    EXPECT_THAT(run.Messages, IsEmpty());
  }
}

// Every refused build shows one message, writes nothing and leaves an earlier flasher of the
// same name as it was.
TEST_F(FlasherWriterTest, RefusedBuildsLeaveNothingBehind) {
  const Bytes goodProgram = MakeProgram(Pattern(5000, 1));
  const Bytes firmware = [] {
    Bytes bytes = Pattern(4096, 2);
    bytes[0] = 0x02;
    return bytes;
  }();
  struct Case {
    const char* label;
    Bytes program;
    Bytes firmwareBytes;
    bool withModel;
    std::string message;
  };
  Bytes startsWithTag = firmware;
  std::copy(payload::kBuilderTag, payload::kBuilderTag + 4, startsWithTag.begin());
  const std::vector<Case> cases = {
      {"firmware one byte too long", goodProgram, Pattern(524289, 3), true,
       "Firmware K4P5.BIN is 524289 bytes; a flasher carries at most 524288 bytes."},
      {"empty firmware", goodProgram, {}, true,
       "Firmware K4P5.BIN is empty (0 bytes): there is nothing to flash."},
      {"firmware starting with the builder tag", goodProgram, startsWithTag, true,
       "Firmware K4P5.BIN starts with the builder tag RUSK: the flasher would start as a builder."},
      {"no model selected", goodProgram, firmware, false,
       "No model selected: choose a model before building."},
      {"program without marker", Pattern(700000, 4), firmware, true,
       "Building fail: not found key-word in BUILDER.EXE"},
      {"program cut short after the marker", MakeProgram(Pattern(100, 5), 1000), firmware, true,
       "Building fail: some problem in BUILDER.EXE"},
      {"program missing", {}, firmware, true, "Open " + dir.Path("BUILDER.EXE") + " fail!"},
      {"firmware is a folder", goodProgram, {}, true, "Open K4P5.BIN fail!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(dir.Path("BUILDER.EXE"));
    if (!c.program.empty()) WriteFile(dir.Path("BUILDER.EXE"), c.program);
    std::filesystem::remove(dir.Path("K4P5.BIN"));
    if (c.label == std::string("firmware is a folder"))
      std::filesystem::create_directory(dir.Path("K4P5.BIN"));
    else
      WriteFile(dir.Path("K4P5.BIN"), c.firmwareBytes);
    WriteFile(dir.Path("K4P5.EXE"), {'o', 'l', 'd'});
    builder::BuildRequest request = Request("K4P5.BIN");
    if (!c.withModel) request.Model.reset();
    RecordingSink run;
    EXPECT_FALSE(builder::NewBuildFlashProgram(request, run));
    EXPECT_THAT(run.Messages, ElementsAre(c.message));
    EXPECT_EQ(ReadFile(dir.Path("K4P5.EXE")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(dir.Names().size(), c.program.empty() ? 2u : 3u);  // no partial file beside them
  }
}

// A later, larger firmware is carried whole: nothing of an earlier build's size sticks.
TEST_F(FlasherWriterTest, EachBuildCarriesItsOwnFirmware) {
  WriteFile(dir.Path("BUILDER.EXE"), MakeProgram(Pattern(300, 1)));
  for (std::size_t length : {std::size_t{1000}, std::size_t{300000}, std::size_t{20}}) {
    Bytes firmware = Pattern(length, static_cast<std::uint32_t>(length));
    firmware[0] = 0x02;
    WriteFile(dir.Path("K4P5.BIN"), firmware);
    ASSERT_TRUE(builder::NewBuildFlashProgram(Request("K4P5.BIN"), sink));
    std::string error;
    const auto payload = builder::ReadPayloadFromFile(dir.Path("K4P5.EXE"), error);
    ASSERT_TRUE(payload) << error;
    const auto image = payload->View().Image();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), firmware.begin(), firmware.end()));
  }
}

#ifndef _WIN32
TEST_F(FlasherWriterTest, FlasherIsExecutableAsTheUmaskAllows) {
  WriteFile(dir.Path("BUILDER.EXE"), MakeProgram({}));
  WriteFile(dir.Path("K4P5.BIN"), {0x02, 0, 0x30});
  for (const auto& [mask, mode] : {std::pair{022, 0755}, std::pair{077, 0700}}) {
    const mode_t previous = umask(static_cast<mode_t>(mask));
    ASSERT_TRUE(builder::NewBuildFlashProgram(Request("K4P5.BIN"), sink));
    umask(previous);
    struct stat status {};
    ASSERT_EQ(stat(dir.Path("K4P5.EXE").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, static_cast<mode_t>(mode));
  }
}
#endif

} // namespace
