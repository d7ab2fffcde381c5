#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "FlashFixture.h"
#include "TestPayload.h"
#include "drive/EmulatedTransport.h"
#include "flash/FlashProcedure.h"
#include "flash/Profiles.h"
#include "flash/VendorCommands.h"

namespace {

using namespace flashtest;
using flash::FlashOutcome;

constexpr std::uint32_t kFullImage = 524288;

#ifdef _WIN32
constexpr const char* kDroppedSense = "00 00 00. 00, 045D"; // ERROR_IO_DEVICE
#else
constexpr const char* kDroppedSense = "00 00 00. 00, 0005"; // EIO
#endif

flash::FlashRequest Request(const std::vector<std::uint8_t>& image, ImageKind kind,
                            const std::string& revision = "1.50") {
  flash::FlashRequest request;
  request.image = image;
  request.kind = kind;
  request.carriedRevision = revision;
  return request;
}

void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
  lines.insert(lines.end(), more.begin(), more.end());
}

std::vector<std::string> ChunkLines(bool write, std::uint32_t length) {
  std::vector<std::string> lines;
  for (std::uint32_t offset = 0; offset < length; offset += flash::kChunkSize) {
    const std::uint32_t chunk = std::min(flash::kChunkSize, length - offset);
    lines.push_back(Line(write ? flash::WriteBufferBlock(offset, chunk) : flash::ReadBufferBlock(offset, chunk)));
  }
  return lines;
}

// ---- whole runs, one per image kind ----

struct SequenceCase {
  const char* name;
  ImageKind kind;
  std::array<std::uint8_t, 4> flashId;
  std::string note;
  std::uint32_t imageLength;
  std::vector<std::uint8_t> profileHeader; // at drive offset 0x80000 (CD-RW images)
};

class FlashSequence : public EmulatedDriveTest, public testing::WithParamInterface<SequenceCase> {};

TEST_P(FlashSequence, SendsTheKindsCommandsAndCommitsTheImage) {
  const SequenceCase& c = GetParam();
  sim::DriveConfig config = DefaultDrive();
  std::copy(c.flashId.begin(), c.flashId.end(), config.FlashId);
  StartDrive(config);
  const auto image = MakeImage(c.kind, c.imageLength);
  PayloadFields fields;
  fields.note = c.note;
  const TestPayload payload(fields, image);
  const flash::FlashRequest request = flash::MakeFlashRequest(payload.Block());
  ASSERT_EQ(request.kind, c.kind);

  RecordingSink sink;
  sink.answers = {true, false}; // update: Yes; restart: No
  CountingSleeper sleeper;
  ScriptedRestarter restarter;
  flash::FlashProcedure procedure(sink, sleeper, restarter);
  ASSERT_EQ(procedure.Run(Drive(), request), FlashOutcome::Flashed);

  const bool flashAll = c.note.rfind("FLASH-ALL", 0) == 0;
  std::vector<std::string> expected = ReadyWaitLines(1);
  const flash::ProfileState& profile = procedure.Profile();
  if (c.kind != ImageKind::Plain) {
    expected.push_back(Line(flash::ReadFlashIdBlock()));
    expected.push_back(Line(flash::WriteProfileBlock(static_cast<std::uint16_t>(profile.length),
                                                     c.kind == ImageKind::DvdRom)));
  }
  Append(expected, ChunkLines(true, c.imageLength));
  if (c.kind == ImageKind::CdRwNewFormat) expected.push_back(Line(flash::EntryCriticalBlock()));
  if (c.kind == ImageKind::CdRwNewFormat && profile.found)
    expected.push_back(Line(flash::ReadProfileBlock(static_cast<std::uint16_t>(profile.length))));
  Append(expected, ChunkLines(false, c.imageLength));
  expected.push_back(Line(flash::FlashBlock(flashAll)));
  expected.push_back(InquiryLine());
  EXPECT_EQ(Commands(), expected);
  if (c.kind == ImageKind::CdRwNewFormat) {
    const auto memory = Emulated().Memory();
    EXPECT_EQ(std::vector<std::uint8_t>(memory.begin() + 0x80000, memory.begin() + 0x80004), c.profileHeader);
  }

  // The drive committed exactly the image, now reports the new revision, and the list entry
  // was refreshed with it.
  EXPECT_EQ(Emulated().Flash(), image);
  EXPECT_EQ(Emulated().Revision(), "1.50");
  ASSERT_EQ(sink.refreshed.size(), 1u);
  EXPECT_EQ(sink.refreshed[0].substr(sink.refreshed[0].size() - 4), "1.50");
  EXPECT_EQ(sink.status, "Flash Completed.");
  EXPECT_EQ(sink.position, 0u);
  EXPECT_THAT(sink.messages, testing::IsEmpty());
  EXPECT_EQ(sink.questions.back(), "The system needs to be restarted for the changes to take effect ?");
  EXPECT_EQ(restarter.requests, 0);
  EXPECT_EQ(procedure.FlashAll(), flashAll);
  EXPECT_EQ(sleeper.sleeps, std::vector<unsigned>{30});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FlashSequence,
    testing::Values(SequenceCase{"Plain", ImageKind::Plain, {0, 0, 0, 0}, "HBQ", kFullImage},
                    SequenceCase{"PlainFlashAll", ImageKind::Plain, {0, 0, 0, 0}, "FLASH-ALL", kFullImage},
                    SequenceCase{"CdRwNewFormat", ImageKind::CdRwNewFormat, {0xBF, 0xB6, 0, 0}, "", kFullImage, {0xBF, 0xB6, 0x05, 0x00}},
                    SequenceCase{"CdRwUnknownChip", ImageKind::CdRwNewFormat, {0x12, 0x34, 0, 0}, "", kFullImage, {0xFF, 0xFF, 0x00, 0x00}},
                    SequenceCase{"DvdRom", ImageKind::DvdRom, {0xBF, 0xD7, 0x00, 0x01}, "FLASH-ALL", kFullImage},
                    SequenceCase{"PartialLastChunk", ImageKind::CdRwNewFormat, {0x37, 0x0D, 0, 0}, "", 40000, {0x37, 0x0D, 0x05, 0x00}}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// The texts and the progress of a successful run, in order.
TEST_F(EmulatedDriveTest, CaptionsAndProgressOfACdRwRun) {
  sim::DriveConfig config = DefaultDrive();
  config.FlashId[0] = 0xBF;
  config.FlashId[1] = 0xD7;
  StartDrive(config);
  const auto image = MakeImage(ImageKind::CdRwNewFormat, 3 * flash::kChunkSize);
  RecordingSink sink;
  sink.answers = {true, false};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  ASSERT_EQ(procedure.Run(Drive(), Request(image, ImageKind::CdRwNewFormat)), FlashOutcome::Flashed);

  EXPECT_THAT(sink.events,
              testing::ElementsAre("ask \nUpdate Firmware 1.00 to 1.50 ?\n", "range 0 49152 16384", "busy",
                                   "status Write profile to drive's DRAM... ",
                                   "status Write BIN to drive's DRAM... ", "status Drive entry critical... ",
                                   "status Read back and Verify drive's DRAM... ",
                                   "status Don't turn off the system, Flash is in progress...", "range 0 200 0",
                                   "status Flash Completed.",
                                   "refreshed 0-0-0  : ODSIM   CD-RW EMULATED  1.50",
                                   "ask The system needs to be restarted for the changes to take effect ?",
                                   "idle"));
  EXPECT_EQ(sink.positions,
            (std::vector<std::uint32_t>{0, 16384, 32768, 49152, 0, 16384, 32768, 49152, 198, 200, 0}));
  EXPECT_EQ(procedure.Profile().length, 1004u);
}

// ---- the update question ----

TEST_F(EmulatedDriveTest, AnsweringNoSendsNothingAndChangesNothing) {
  StartDrive(DefaultDrive());
  const auto image = MakeImage(ImageKind::Plain, kFullImage, "0.90");
  RecordingSink sink;
  sink.answers = {false};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::Plain, "0.90")), FlashOutcome::Declined);
  EXPECT_THAT(Commands(), testing::IsEmpty());
  EXPECT_EQ(sink.events, std::vector<std::string>{
                             "ask \nWARNING !!!\n\nYour drive Firmware : 1.00 is aready the most updated !"
                             "\n\nUpdate Firmware : 1.00 to 0.90 ?\n"});
  EXPECT_EQ(sink.questionKinds, std::vector<sys::MessageKind>{sys::MessageKind::Warning});
  EXPECT_THAT(sink.positions, testing::IsEmpty());
}

// ---- the drive-ready wait ----

struct ReadyCase {
  const char* name;
  unsigned becomingReadyPolls;
  bool neverReady;
  bool medium;
  unsigned polls;   // polls expected
  bool ready;
};

class ReadyWait : public EmulatedDriveTest, public testing::WithParamInterface<ReadyCase> {};

TEST_P(ReadyWait, PollsEvery30MillisecondsUpToAHundredTimes) {
  const ReadyCase& c = GetParam();
  sim::DriveConfig config = DefaultDrive();
  config.BecomingReadyPolls = c.becomingReadyPolls;
  config.NeverReady = c.neverReady;
  config.Medium = c.medium;
  StartDrive(config);
  const auto image = MakeImage(ImageKind::Plain, flash::kChunkSize);
  RecordingSink sink;
  sink.answers = {true, false};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  const FlashOutcome outcome = procedure.Run(Drive(), Request(image, ImageKind::Plain));

  EXPECT_EQ(sleeper.sleeps, std::vector<unsigned>(c.polls, 30));
  const auto commands = Commands();
  const auto wait = ReadyWaitLines(c.polls, c.ready);
  ASSERT_GE(commands.size(), wait.size());
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + wait.size()), wait);
  if (c.ready) {
    EXPECT_EQ(outcome, FlashOutcome::Flashed);
  } else {
    EXPECT_EQ(outcome, FlashOutcome::NotReady);
    EXPECT_EQ(commands.size(), wait.size()); // nothing after the last poll
    EXPECT_EQ(sink.messages, std::vector<std::string>{"Drive can't ready !!!"});
    EXPECT_EQ(sink.status, "");
    EXPECT_THAT(sink.positions, testing::IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, ReadyWait,
    testing::Values(ReadyCase{"ReadyAtOnce", 0, false, true, 1, true},
                    ReadyCase{"BecomesReady", 3, false, true, 4, true},
                    ReadyCase{"ReadyOnLastPoll", 99, false, true, 100, true},
                    ReadyCase{"NoMediumLeavesAtOnce", 0, false, false, 1, true},
                    ReadyCase{"NeverReady", 0, true, true, 100, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// ---- the fault matrix: every command of the CD-RW sequence fails in turn ----

struct FaultCase {
  std::string name;
  std::uint8_t opcode;
  unsigned nth;              // which command of that opcode fails
  bool dropped;              // the transport fails without sense instead
  FlashOutcome outcome;
  const char* caption;       // status caption at the end
  const char* message;       // the label (sense text follows)
  std::size_t commandsSent;  // after the ready wait
  std::uint32_t failedChunkOffset = 0;
};

class FaultMatrix : public EmulatedDriveTest, public testing::WithParamInterface<FaultCase> {};

// Image of 4 chunks; profile entry 0 (CD-RW 318 bytes). After the ready wait the commands are:
// Read Flash ID, Write Profile, 4 Write Buffer, Entry critical, Read Profile, 4 Read Buffer, Flash.
TEST_P(FaultMatrix, EndsTheRunAtTheFailureWithItsCaptionAndMessage) {
  const FaultCase& c = GetParam();
  sim::DriveConfig config = DefaultDrive();
  config.FlashId[0] = 0xDA;
  config.FlashId[1] = 0xC8;
  sim::CommandFault fault;
  fault.Opcode = c.opcode;
  fault.Nth = c.nth;
  fault.NoSense = c.dropped;
  fault.Failure = {0x04, 0x08, 0x00};
  config.Faults.push_back(fault);
  StartDrive(config);
  const auto image = MakeImage(ImageKind::CdRwNewFormat, 4 * flash::kChunkSize);
  RecordingSink sink;
  sink.answers = {true, false};
  CountingSleeper sleeper;
  ScriptedRestarter restarter;
  flash::FlashProcedure procedure(sink, sleeper, restarter);

  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::CdRwNewFormat)), c.outcome);
  EXPECT_EQ(sink.status, c.caption);
  const std::string sense = c.dropped ? kDroppedSense : "04 08 00. 02, 0000";
  EXPECT_EQ(sink.messages, std::vector<std::string>{std::string(c.message) + sense});
  EXPECT_EQ(sink.messageKinds, std::vector<sys::MessageKind>{sys::MessageKind::Plain});
  const std::size_t waitLength = ReadyWaitLines(1).size();
  EXPECT_EQ(Commands().size(), waitLength + c.commandsSent); // nothing after the failure
  EXPECT_EQ(Emulated().CommitCount(), 0u);
  EXPECT_EQ(sink.position, 0u);
  EXPECT_EQ(sink.events.back(), "idle");
  EXPECT_EQ(restarter.requests, 0);
  EXPECT_EQ(procedure.FailedChunkOffset(), c.failedChunkOffset);
}

constexpr const char* kProfileFail = "Write profile to drive's DRAM... , Fail! ";
constexpr const char* kUploadFail = "Write BIN to drive's DRAM... , Fail! ";

std::vector<FaultCase> FaultCases() {
  std::vector<FaultCase> cases;
  for (bool dropped : {false, true}) {
    const std::vector<FaultCase> each = {
        {"ReadFlashId", 0xDF, 1, dropped, FlashOutcome::ProfileFailed, kProfileFail, "Read Flash ID> ", 1},
        {"WriteProfile", 0x3B, 1, dropped, FlashOutcome::ProfileFailed, kProfileFail, "Write Profile> ", 2},
        {"FirstChunk", 0x3B, 2, dropped, FlashOutcome::UploadFailed, kUploadFail, "Write Buffer> ", 3},
        {"LastChunk", 0x3B, 5, dropped, FlashOutcome::UploadFailed, kUploadFail, "Write Buffer> ", 6, 0xC000},
        {"EntryCritical", 0x3B, 6, dropped, FlashOutcome::EntryCriticalFailed,
         "Drive entry critical... , Fail! ", "Entry critical> ", 7},
        {"ReadProfile", 0x3C, 1, dropped, FlashOutcome::ProfileCheckFailed,
         "Read back and Verify drive's DRAM... , Valid Profile Fail!", "Read Profile> ", 8},
        {"ReadBackChunk", 0x3C, 3, dropped, FlashOutcome::ReadBackFailed,
         "Read back and Verify drive's DRAM... , Read Fail! ", "Read Buffer> ", 10, 0x4000},
        {"Flash", 0x3B, 7, dropped, FlashOutcome::FlashFailed, "Flash Fail.", "Write Buffer> ", 13},
    };
    for (FaultCase c : each) {
      c.name += dropped ? "Dropped" : "Sense";
      cases.push_back(c);
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(
    EachCommand, FaultMatrix, testing::ValuesIn(FaultCases()),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(EmulatedDriveTest, MismatchInThirdChunkStopsAfterThreeReadsWithoutFlash) {
  sim::DriveConfig config = DefaultDrive();
  config.CorruptReadAt = 2 * flash::kChunkSize + 5;
  StartDrive(config);
  const auto image = MakeImage(ImageKind::Plain, kFullImage);
  RecordingSink sink;
  sink.answers = {true};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::Plain)), FlashOutcome::CompareFailed);

  auto expected = ReadyWaitLines(1);
  Append(expected, ChunkLines(true, kFullImage));
  Append(expected, ChunkLines(false, 3 * flash::kChunkSize));
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(sink.status, "Read back and Verify drive's DRAM... , Compare BIN and DRAM Fail! ");
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Compare BIN and DRAM fail!"});
  // The suffix comes before the message.
  EXPECT_EQ(sink.events[sink.events.size() - 3], "append , Compare BIN and DRAM Fail! ");
  const flash::Mismatch& mismatch = procedure.LastMismatch();
  EXPECT_EQ(mismatch.offset, 2 * flash::kChunkSize + 5);
  EXPECT_EQ(mismatch.expected, image[mismatch.offset]);
  EXPECT_EQ(mismatch.found, static_cast<std::uint8_t>(~image[mismatch.offset]));
  EXPECT_EQ(mismatch.differingBytes, 1u);
}

TEST_F(EmulatedDriveTest, CorruptedProfileReadBackStopsBeforeTheImageReadBack) {
  sim::DriveConfig config = DefaultDrive();
  config.FlashId[0] = 0xBF;
  config.FlashId[1] = 0xD6;
  config.CorruptReadAt = 0x80000 + 700;
  StartDrive(config);
  const auto image = MakeImage(ImageKind::CdRwNewFormat, 2 * flash::kChunkSize);
  RecordingSink sink;
  sink.answers = {true};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::CdRwNewFormat)), FlashOutcome::ProfileMismatch);
  EXPECT_EQ(sink.status, "Read back and Verify drive's DRAM... , Valid Profile Fail!");
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Compared profile error!"});
  EXPECT_EQ(Commands().back(), Line(flash::ReadProfileBlock(1284)));
}

// A commit refused with sense: "Flash Fail." and the time-out stays raised.
TEST_F(EmulatedDriveTest, RefusedCommitLeavesFlashFailAndTheLongTimeout) {
  sim::DriveConfig config = DefaultDrive();
  config.FailCommit = sim::Sense{0x03, 0x0C, 0x00};
  StartDrive(config);
  const auto image = MakeImage(ImageKind::Plain, flash::kChunkSize);
  RecordingSink sink;
  sink.answers = {true};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::Plain)), FlashOutcome::FlashFailed);
  EXPECT_EQ(sink.status, "Flash Fail.");
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Write Buffer> 03 0C 00. 02, 0000"});
  EXPECT_EQ(drive::State().TimeoutSeconds, 180);
}

// ---- after the Flash command ----

TEST_F(EmulatedDriveTest, DryRunVerifiesAndSendsNoFlashCommand) {
  StartDrive(DefaultDrive());
  const auto image = MakeImage(ImageKind::Plain, 2 * flash::kChunkSize);
  RecordingSink sink;
  sink.answers = {true};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  flash::FlashRequest request = Request(image, ImageKind::Plain);
  request.stopBeforeFlash = true;
  EXPECT_EQ(procedure.Run(Drive(), request), FlashOutcome::Verified);
  auto expected = ReadyWaitLines(1);
  Append(expected, ChunkLines(true, 2 * flash::kChunkSize));
  Append(expected, ChunkLines(false, 2 * flash::kChunkSize));
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(Emulated().CommitCount(), 0u);
  EXPECT_EQ(Emulated().Revision(), "1.00");
}

struct AfterFlashCase {
  const char* name;
  std::string imageRevision;  // what the drive will report
  bool restartAnswer;
  bool restartAccepted;
  const char* refusal;
  std::vector<std::string> messages;
  int restartRequests;
};

class AfterFlash : public EmulatedDriveTest, public testing::WithParamInterface<AfterFlashCase> {};

TEST_P(AfterFlash, ChecksTheNewRevisionAndReportsARefusedRestart) {
  const AfterFlashCase& c = GetParam();
  StartDrive(DefaultDrive());
  const auto image = MakeImage(ImageKind::Plain, flash::kChunkSize, c.imageRevision);
  RecordingSink sink;
  sink.answers = {true, c.restartAnswer};
  CountingSleeper sleeper;
  ScriptedRestarter restarter;
  restarter.result.accepted = c.restartAccepted;
  restarter.result.refusal = c.refusal;
  flash::FlashProcedure procedure(sink, sleeper, restarter);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::Plain, "1.50")), FlashOutcome::Flashed);
  EXPECT_EQ(sink.messages, c.messages);
  EXPECT_EQ(restarter.requests, c.restartRequests);
  EXPECT_EQ(sink.status, "Flash Completed.");
  EXPECT_EQ(drive::State().TimeoutSeconds, 60);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AfterFlash,
    testing::Values(
        AfterFlashCase{"RestartAccepted", "1.50", true, true, "", {}, 1},
        AfterFlashCase{"RestartRefused", "1.50", true, false, "Access is denied.",
                       {"The system refused to restart: Access is denied.\n"
                        "Restart the computer yourself for the new firmware to take effect."},
                       1},
        AfterFlashCase{"OtherRevision", "1.49", false, true, "",
                       {"The drive reports firmware revision 1.49 after the update, not 1.50. "
                        "The update may not have taken effect."},
                       0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// ---- runs that are refused before anything is written ----

// An emulated drive that the drive layer takes for real hardware.
class HardwareLookalike : public drive::EmulatedTransport {
public:
  using EmulatedTransport::EmulatedTransport;
  drive::TransportKind Kind() const override { return drive::TransportKind::SgIo; }
};

TEST_F(EmulatedDriveTest, PlaceholderRoutinesNeverReachARealDrive) {
  if (!flash::RoutineStoreIsPlaceholder()) GTEST_SKIP() << "built with a real routine store";
  machine_ = std::make_shared<sim::SimMachine>(sim::SimConfig{DefaultDrive()});
  drive::UseTransport(std::make_unique<HardwareLookalike>(machine_));
  drives_ = std::make_unique<drive::CDDrives>();
  ASSERT_EQ(drives_->Count(), 1);
  drive::CDDrive::SetBuffer(transfer_.data(), static_cast<std::uint32_t>(transfer_.size()));
  logStart_ = Emulated().Log().size();

  const auto image = MakeImage(ImageKind::DvdRom, kFullImage);
  RecordingSink sink;
  sink.answers = {true};
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::DvdRom)), FlashOutcome::Refused);
  EXPECT_EQ(Commands(), ReadyWaitLines(1)); // no vendor command at all
  EXPECT_EQ(sink.status, "Write profile to drive's DRAM... , Fail! ");
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_THAT(sink.messages[0], testing::HasSubstr("placeholder flash routines"));
}

TEST_F(EmulatedDriveTest, NoImageOrNoDataBufferIsRefusedBeforeTheQuestion) {
  StartDrive(DefaultDrive());
  RecordingSink sink;
  CountingSleeper sleeper;
  flash::FlashProcedure procedure(sink, sleeper);
  const std::vector<std::uint8_t> empty;
  EXPECT_EQ(procedure.Run(Drive(), Request(empty, ImageKind::Plain)), FlashOutcome::Refused);
  drive::CDDrive::SetBuffer(nullptr, 0); // the 2352-byte default buffer
  const auto image = MakeImage(ImageKind::Plain, flash::kChunkSize);
  EXPECT_EQ(procedure.Run(Drive(), Request(image, ImageKind::Plain)), FlashOutcome::Refused);
  EXPECT_THAT(sink.questions, testing::IsEmpty());
  EXPECT_EQ(sink.messages.size(), 2u);
  EXPECT_THAT(Commands(), testing::IsEmpty());
}

// ---- WriteE2, which the procedure does not use ----

TEST_F(EmulatedDriveTest, WriteE2StopsAtTheFirstFailedByte) {
  sim::DriveConfig config = DefaultDrive();
  config.Faults.push_back({std::uint8_t{0xDF}, 2, false, {0x05, 0x24, 0x00}});
  StartDrive(config);
  RecordingSink sink;
  flash::VendorCommands commands(Drive(), sink);
  const std::uint8_t data[] = {0xA1, 0xB2, 0xC3};
  EXPECT_FALSE(commands.WriteE2(data, 0x0010, 3));
  EXPECT_EQ(Commands(), (std::vector<std::string>{Line(flash::WriteE2Block(0x0010, 0xA1)),
                                                  Line(flash::WriteE2Block(0x0011, 0xB2))}));
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Write E2> 05 24 00. 02, 0000"});
  EXPECT_TRUE(commands.WriteE2(data, 0xFFFF, 2)); // the address wraps to 0
  EXPECT_EQ(Emulated().Eeprom()[0xFFFF], 0xA1);
  EXPECT_EQ(Emulated().Eeprom()[0x0000], 0xB2);
}

} // namespace
