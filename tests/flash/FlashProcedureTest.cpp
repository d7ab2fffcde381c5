#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>

#include "drive/Cddrives.h"
#include "drive/CommandObserver.h"
#include "drive/EmulatedTransport.h"
#include "flash/CommandBlocks.h"
#include "flash/FlashProcedure.h"
#include "flash/VendorCommands.h"
#include "sim/EmulatedDrive.h"
#include "sim/ImageRevision.h"
#include "sys/UpdateGuard.h"

namespace {

using payload::ImageKind;
using flash::FlashOutcome;
using testing::ElementsAre;
using testing::IsEmpty;
using Lines = std::vector<std::string>;

constexpr std::uint32_t kChunk = flash::kChunkSize;

// Image bytes with the signatures of one kind and the revision where the drive reads it.
std::vector<std::uint8_t> MakeImage(ImageKind kind, std::size_t length, const std::string& revision = "1.50") {
  std::vector<std::uint8_t> image(length);
  std::uint32_t seed = static_cast<std::uint32_t>(length);
  for (auto& byte : image) byte = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  for (std::size_t at : {0x1100, 0x4000, 0x4008})
    if (at < length) image[at] = 0;
  std::copy(revision.begin(), revision.end(), image.begin() + sim::kImageRevisionOffset);
  const std::size_t signature = kind == ImageKind::DvdRom ? 0x4000 : 0x1100;
  if (kind != ImageKind::Plain) image[signature] = 0x05, image[signature + 1] = 0x80;
  if (kind == ImageKind::DvdRom) std::ranges::copy(std::string("DVD-ROM QAX-200"), image.begin() + 0x4010);
  return image;
}

std::string Line(const flash::CommandBlock& block) {
  std::uint8_t cdb[12];
  std::ranges::copy(block.Cdb, cdb);
  return sim::EmulatedDrive::LogLine(cdb, block.DataIn, block.Length);
}

// START STOP UNIT load, the polls, then STOP PLAY/SCAN and START STOP UNIT stop once ready.
Lines ReadyWaitLines(unsigned polls, bool ready = true) {
  Lines lines{Line(flash::StartStopUnitBlock(true))};
  for (unsigned i = 0; i < polls; ++i) lines.insert(lines.end(), {Line(flash::TestUnitReadyBlock()), Line(flash::StopPlayScanBlock())});
  if (ready) lines.insert(lines.end(), {Line(flash::StopPlayScanBlock()), Line(flash::StartStopUnitBlock(false))});
  return lines;
}

void AppendChunks(Lines& lines, bool write, std::uint32_t length) {
  for (std::uint32_t offset = 0; offset < length; offset += kChunk) {
    const std::uint32_t chunk = std::min(kChunk, length - offset);
    lines.push_back(Line(write ? flash::WriteBufferBlock(offset, chunk) : flash::ReadBufferBlock(offset, chunk)));
  }
}

// Records every call as a line; answers questions from a script, then No.
class RecordingSink : public flash::FlashSink {
public:
  void SetStatus(const std::string& text) override { events.push_back("status " + (status = text)); }
  void AppendStatus(const std::string& suffix) override { status += suffix; }
  void SetProgressRange(std::uint32_t low, std::uint32_t high, std::uint32_t step) override {
    events.push_back("range " + std::to_string(low) + " " + std::to_string(high) + " " + std::to_string(step));
  }
  void SetProgressPosition(std::uint32_t position) override { positions.push_back(position); }
  void EnterPhase(flash::FlashPhase phase) override {
    if (onPhase) onPhase(phase);
  }
  void ShowMessage(const std::string& text, sys::MessageKind kind) override {
    messages.push_back(text);
    messageKinds.push_back(kind);
  }
  bool Ask(const std::string& text, sys::MessageKind kind) override {
    events.push_back("ask " + text);
    questionKinds.push_back(kind);
    const bool answer = !answers.empty() && answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return answer;
  }
  void SetBusy(bool busy) override { events.push_back(busy ? "busy" : "idle"); }
  void DriveRefreshed(const std::string& identity) override { events.push_back("refreshed " + identity); }

  std::vector<bool> answers{true, false}; // update Yes, restart No
  std::function<void(flash::FlashPhase)> onPhase;
  std::string status;
  Lines events, messages;
  std::vector<std::uint32_t> positions;
  std::vector<sys::MessageKind> messageKinds, questionKinds;
};

class CountingSleeper : public sys::Sleeper {
public:
  void SleepMilliseconds(unsigned milliseconds) override {
    sleeps.push_back(milliseconds);
    if (onSleep) onSleep(sleeps.size());
  }
  std::vector<unsigned> sleeps;
  std::function<void(std::size_t count)> onSleep;
};

class ScriptedRestarter : public sys::Restarter {
public:
  sys::RestartResult RequestRestart() override { return ++requests, result; }
  sys::RestartResult result{true, ""};
  int requests = 0;
};

// An emulated drive taken for real hardware by the drive layer.
class HardwareLookalike : public drive::EmulatedTransport {
public:
  using EmulatedTransport::EmulatedTransport;
  drive::TransportKind Kind() const override { return drive::TransportKind::SgIo; }
};

// The emulated drive behind a transport that reports no residual, as an ASPI layer may not: the
// fill the drive layer put in the buffer then decides whether the data arrived.
class ResidualHidingTransport : public drive::EmulatedTransport {
public:
  using EmulatedTransport::EmulatedTransport;
  std::unique_ptr<drive::DeviceChannel> Open(const drive::DriveAddress& address, drive::CommandOutcome& failure) override {
    struct Channel : drive::DeviceChannel {
      std::unique_ptr<drive::DeviceChannel> inner;
      drive::CommandOutcome Send(const drive::CommandBlock& command) override {
        drive::CommandOutcome outcome = inner->Send(command);
        outcome.ResidualKnown = false;
        outcome.Residual = 0;
        return outcome;
      }
    };
    auto channel = std::make_unique<Channel>();
    channel->inner = EmulatedTransport::Open(address, failure);
    if (!channel->inner) return nullptr;
    return channel;
  }
};

// One emulated drive behind the real drive layer, with a 16384-byte data buffer.
class FlashTest : public testing::Test {
protected:
  FlashTest() {
    config.Vendor = "ODSIM";
    config.Product = "CD-RW EMULATED";
    config.Revision = "1.00";
    config.Medium = true;
  }
  void TearDown() override {
    drives.reset();
    drive::ResetTransportState();
  }
  std::string carriedRevision = "1.50"; // what the flasher carries

  // The configured drive, listed by the drive layer.
  drive::CDDrive& Connect(bool lookalike = false) {
    machine = std::make_shared<sim::SimMachine>(sim::SimConfig{config});
    if (hideResidual) drive::UseTransport(std::make_unique<ResidualHidingTransport>(machine));
    else if (lookalike) drive::UseTransport(std::make_unique<HardwareLookalike>(machine));
    else drive::UseEmulatedDrives(machine);
    drives = std::make_unique<drive::CDDrives>();
    EXPECT_EQ(drives->Count(), 1);
    drive::CDDrive::SetBuffer(transfer.data(), kChunk);
    logStart = Emulated().Log().size();
    return *drives->Current();
  }
  FlashOutcome Run(const std::vector<std::uint8_t>& image, ImageKind kind, bool dryRun = false,
                   bool lookalike = false) {
    drive::CDDrive& drive = Connect(lookalike);
    request.image = image;
    request.kind = kind;
    request.carriedRevision = carriedRevision;
    request.stopBeforeFlash = dryRun;
    return procedure.Run(drive, request);
  }
  sim::EmulatedDrive& Emulated() { return machine->Drive(0); }
  Lines Commands() { // sent since the drive was listed
    const Lines log = Emulated().Log();
    return Lines(log.begin() + static_cast<std::ptrdiff_t>(logStart), log.end());
  }

  sim::DriveConfig config;
  bool hideResidual = false;
  std::shared_ptr<sim::SimMachine> machine;
  std::unique_ptr<drive::CDDrives> drives;
  std::array<std::uint8_t, kChunk> transfer{};
  std::size_t logStart = 0;
  flash::FlashRequest request;
  RecordingSink sink;
  CountingSleeper sleeper;
  ScriptedRestarter restarter;
  flash::FlashProcedure procedure{sink, sleeper, restarter};
};

struct SequenceCase {
  std::string name;
  ImageKind kind;
  std::array<std::uint8_t, 4> flashId;
  bool flashAll;
  std::uint32_t imageLength;
  std::vector<std::uint8_t> profileHeader; // what lands at drive offset 0x80000 (CD-RW)
};

class FlashSequence : public FlashTest, public testing::WithParamInterface<SequenceCase> {};

TEST_P(FlashSequence, SendsTheKindsCommandsAndCommitsTheImage) {
  const SequenceCase& c = GetParam();
  for (std::size_t i = 0; i < c.flashId.size(); ++i) config.FlashId[i] = c.flashId[i];
  request.flashAll = c.flashAll;
  const auto image = MakeImage(c.kind, c.imageLength);
  ASSERT_EQ(Run(image, c.kind), FlashOutcome::Flashed);

  const auto profileLength = static_cast<std::uint16_t>(procedure.Profile().length);
  Lines expected = ReadyWaitLines(1);
  if (c.kind != ImageKind::Plain)
    expected.insert(expected.end(), {Line(flash::ReadFlashIdBlock()),
                                     Line(flash::WriteProfileBlock(profileLength, c.kind == ImageKind::DvdRom))});
  AppendChunks(expected, true, c.imageLength);
  if (c.kind == ImageKind::CdRwNewFormat) expected.push_back(Line(flash::EntryCriticalBlock()));
  if (c.kind == ImageKind::CdRwNewFormat && procedure.Profile().found)
    expected.push_back(Line(flash::ReadProfileBlock(profileLength)));
  AppendChunks(expected, false, c.imageLength);
  expected.push_back(Line(flash::FlashBlock(c.flashAll)));
  expected.push_back("12 00 00 00 80 00 00 00 00 00 00 00 in 128"); // the refreshed identity
  EXPECT_EQ(Commands(), expected);
  if (c.kind == ImageKind::CdRwNewFormat) {
    const auto memory = Emulated().Memory();
    EXPECT_EQ(std::vector<std::uint8_t>(memory.begin() + 0x80000, memory.begin() + 0x80004), c.profileHeader);
  }
  EXPECT_EQ(Emulated().Flash(), image);
  EXPECT_EQ(sink.events.back(), "idle");
  EXPECT_THAT(sink.messages, IsEmpty());
  EXPECT_EQ(restarter.requests, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FlashSequence,
    testing::Values(SequenceCase{"Plain", ImageKind::Plain, {}, false, 524288, {}},
                    SequenceCase{"PlainFlashAll", ImageKind::Plain, {}, true, 524288, {}},
                    SequenceCase{"CdRw", ImageKind::CdRwNewFormat, {0xBF, 0xB6, 0, 0}, false, 524288, {0xBF, 0xB6, 0x05, 0x00}},
                    SequenceCase{"CdRwUnknownChip", ImageKind::CdRwNewFormat, {0x12, 0x34, 0, 0}, false, 524288, {0xFF, 0xFF, 0, 0}},
                    SequenceCase{"DvdRom", ImageKind::DvdRom, {0xBF, 0xD7, 0x00, 0x01}, true, 524288, {}},
                    SequenceCase{"PartialLastChunk", ImageKind::CdRwNewFormat, {0x37, 0x0D, 0, 0}, false, 40000, {0x37, 0x0D, 0x05, 0x00}}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(FlashTest, CaptionsProgressAndRefreshedEntryOfASuccessfulRun) {
  config.FlashId[0] = 0xBF;
  config.FlashId[1] = 0xD7;
  ASSERT_EQ(Run(MakeImage(ImageKind::CdRwNewFormat, 3 * kChunk), ImageKind::CdRwNewFormat), FlashOutcome::Flashed);
  EXPECT_THAT(sink.events,
              ElementsAre("ask \nUpdate Firmware 1.00 to 1.50 ?\n", "range 0 49152 16384", "busy",
                          "status Write profile to drive's DRAM... ", "status Write BIN to drive's DRAM... ",
                          "status Drive entry critical... ", "status Read back and Verify drive's DRAM... ",
                          "status Don't turn off the system, Flash is in progress...", "range 0 200 0",
                          "status Flash Completed.", "refreshed 0-0-0  : ODSIM   CD-RW EMULATED  1.50",
                          "ask The system needs to be restarted for the changes to take effect ?", "idle"));
  EXPECT_EQ(sink.positions, (std::vector<std::uint32_t>{0, 16384, 32768, 49152, 0, 16384, 32768, 49152, 198, 200, 0}));
  EXPECT_EQ(sleeper.sleeps, std::vector<unsigned>{30});
  EXPECT_EQ(drive::State().TimeoutSeconds, 60);
}

TEST_F(FlashTest, AnsweringNoSendsNothing) {
  sink.answers = {false};
  request.anyFirmware = true;
  config.Revision = "1.60";
  EXPECT_EQ(Run(MakeImage(ImageKind::Plain, kChunk), ImageKind::Plain), FlashOutcome::Declined);
  EXPECT_THAT(Commands(), IsEmpty());
  EXPECT_THAT(sink.events, ElementsAre("ask \nUpdate Firmware : 1.60 to 1.50 ?\n"));
  EXPECT_THAT(sink.questionKinds, ElementsAre(sys::MessageKind::Warning));
  EXPECT_THAT(sink.positions, IsEmpty());
}

struct ReadyCase {
  std::string name;
  unsigned becomingReadyPolls;
  bool neverReady, medium;
  unsigned polls;
};

class ReadyWait : public FlashTest, public testing::WithParamInterface<ReadyCase> {};

TEST_P(ReadyWait, PollsEvery30MillisecondsAtMostAHundredTimes) {
  const ReadyCase& c = GetParam();
  config.BecomingReadyPolls = c.becomingReadyPolls;
  config.NeverReady = c.neverReady;
  config.Medium = c.medium;
  const FlashOutcome outcome = Run(MakeImage(ImageKind::Plain, kChunk), ImageKind::Plain);
  EXPECT_EQ(sleeper.sleeps, std::vector<unsigned>(c.polls, 30));
  const Lines wait = ReadyWaitLines(c.polls, !c.neverReady);
  const Lines commands = Commands();
  ASSERT_GE(commands.size(), wait.size());
  EXPECT_EQ(Lines(commands.begin(), commands.begin() + static_cast<std::ptrdiff_t>(wait.size())), wait);
  EXPECT_EQ(outcome, c.neverReady ? FlashOutcome::NotReady : FlashOutcome::Flashed);
  if (!c.neverReady) return;
  EXPECT_EQ(commands, wait);
  EXPECT_THAT(sink.messages, ElementsAre("Drive can't ready !!!"));
  EXPECT_THAT(sink.positions, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Drives, ReadyWait,
                         testing::Values(ReadyCase{"ReadyAtOnce", 0, false, true, 1},
                                         ReadyCase{"BecomesReady", 3, false, true, 4},
                                         ReadyCase{"ReadyOnLastPoll", 99, false, true, 100},
                                         ReadyCase{"NoMediumLeavesAtOnce", 0, false, false, 1},
                                         ReadyCase{"NeverReady", 0, true, true, 100}),
                         [](const auto& testCase) { return testCase.param.name; });

// Every way a command can fail: sense in either format, CHECK CONDITION whose sense is all
// zero or missing, the other failing statuses, a transport that loses the command, a time-out.
enum class Fault {
  Sense, DescriptorSense, ZeroSense, CheckConditionNoSense, Busy, ReservationConflict, TaskSetFull,
  Dropped, TimedOut, Corrupt
};

struct FaultKindCase {
  const char* name;
  Fault fault;
  std::string senseText; // what follows the label in the message; "io" for the I/O error code
};

const FaultKindCase kFaultKinds[] = {
    {"Sense", Fault::Sense, "04 08 00. 02, 0000"},
    {"DescriptorSense", Fault::DescriptorSense, "04 08 00. 02, 0000"},
    {"ZeroSense", Fault::ZeroSense, "00 00 00. 02, 0000"},
    {"CheckConditionNoSense", Fault::CheckConditionNoSense, "00 00 00. 02, 0000"},
    {"Busy", Fault::Busy, "00 00 00. 08, 0000"},
    {"ReservationConflict", Fault::ReservationConflict, "00 00 00. 18, 0000"},
    {"TaskSetFull", Fault::TaskSetFull, "00 00 00. 28, 0000"},
    {"Dropped", Fault::Dropped, "io"},
    {"TimedOut", Fault::TimedOut, "io"},
};

void InjectFault(sim::DriveConfig& config, Fault fault, std::uint8_t opcode, unsigned nth) {
  sim::CommandFault injected{opcode, nth};
  switch (fault) {
  case Fault::Sense: injected.Failure = {0x04, 0x08, 0x00}; break;
  case Fault::DescriptorSense:
    injected.Failure = {0x04, 0x08, 0x00};
    config.DescriptorSense = true;
    break;
  case Fault::ZeroSense: break;
  case Fault::CheckConditionNoSense: injected.Kind = sim::FaultKind::Status, injected.Status = 0x02; break;
  case Fault::Busy: injected.Kind = sim::FaultKind::Status, injected.Status = 0x08; break;
  case Fault::ReservationConflict: injected.Kind = sim::FaultKind::Status, injected.Status = 0x18; break;
  case Fault::TaskSetFull: injected.Kind = sim::FaultKind::Status, injected.Status = 0x28; break;
  case Fault::Dropped: injected.Kind = sim::FaultKind::Drop; break;
  case Fault::TimedOut: injected.Kind = sim::FaultKind::Timeout; break;
  case Fault::Corrupt: config.CorruptReadAt = nth; return;
  }
  config.Faults.push_back(injected);
}

struct FaultCase {
  std::string name;
  Fault fault;
  std::uint8_t opcode; // the Nth command of this opcode fails
  unsigned nth;        // Corrupt: READ BUFFER returns this drive-memory byte inverted
  FlashOutcome outcome;
  std::string caption;
  std::string message; // the label, followed by the sense text
  std::size_t commandsSent;
  std::uint32_t failedChunkOffset;
  std::string senseText;
};

class FaultMatrix : public FlashTest, public testing::WithParamInterface<FaultCase> {};

// A CD-RW image of 4 chunks, profile entry 0. After the ready wait: Read Flash ID, Write
// Profile, 4 Write Buffer, Entry critical, Read Profile, 4 Read Buffer, Flash.
TEST_P(FaultMatrix, EndsTheRunAtTheFailureWithItsCaptionAndMessage) {
  const FaultCase& c = GetParam();
  config.FlashId[0] = 0xDA;
  config.FlashId[1] = 0xC8;
  InjectFault(config, c.fault, c.opcode, c.nth);
  const auto image = MakeImage(ImageKind::CdRwNewFormat, 4 * kChunk);
  EXPECT_EQ(Run(image, ImageKind::CdRwNewFormat), c.outcome);

  EXPECT_EQ(sink.status, c.caption);
#ifdef _WIN32
  const std::string ioError = "00 00 00. 00, 045D"; // ERROR_IO_DEVICE
#else
  const std::string ioError = "00 00 00. 00, 0005"; // EIO
#endif
  EXPECT_THAT(sink.messages, ElementsAre(c.message + (c.senseText == "io" ? ioError : c.senseText)));
  EXPECT_THAT(sink.messageKinds, ElementsAre(sys::MessageKind::Plain));
  EXPECT_EQ(Commands().size(), ReadyWaitLines(1).size() + c.commandsSent); // nothing after the failure
  EXPECT_EQ(Emulated().CommitCount(), 0u);
  EXPECT_EQ(sink.positions.back(), 0u);
  EXPECT_EQ(sink.events.back(), "idle");
  EXPECT_EQ(procedure.FailedChunkOffset(), c.failedChunkOffset);
  EXPECT_EQ(drive::State().TimeoutSeconds, c.outcome == FlashOutcome::FlashFailed ? 180 : 60);
  if (c.outcome == FlashOutcome::CompareFailed) {
    const flash::Mismatch& mismatch = procedure.LastMismatch();
    EXPECT_EQ(mismatch.offset, c.nth);
    EXPECT_EQ(mismatch.found, static_cast<std::uint8_t>(~image[c.nth]));
    EXPECT_EQ(mismatch.differingBytes, 1u);
  }
}

std::vector<FaultCase> FaultCases() {
  const std::string profile = "Write profile to drive's DRAM... , Fail! ";
  const std::string upload = "Write BIN to drive's DRAM... , Fail! ";
  const std::string verify = "Read back and Verify drive's DRAM... ";
  std::vector<FaultCase> cases;
  for (const FaultKindCase& kind : kFaultKinds) {
    for (FaultCase c : std::vector<FaultCase>{
             {"ReadFlashId", kind.fault, 0xDF, 1, FlashOutcome::ProfileFailed, profile, "Read Flash ID> ", 1, 0},
             {"WriteProfile", kind.fault, 0x3B, 1, FlashOutcome::ProfileFailed, profile, "Write Profile> ", 2, 0},
             {"FirstChunk", kind.fault, 0x3B, 2, FlashOutcome::UploadFailed, upload, "Write Buffer> ", 3, 0},
             {"LastChunk", kind.fault, 0x3B, 5, FlashOutcome::UploadFailed, upload, "Write Buffer> ", 6, 0xC000},
             {"EntryCritical", kind.fault, 0x3B, 6, FlashOutcome::EntryCriticalFailed, "Drive entry critical... , Fail! ",
              "Entry critical> ", 7, 0},
             {"ReadProfile", kind.fault, 0x3C, 1, FlashOutcome::ProfileCheckFailed, verify + ", Valid Profile Fail!",
              "Read Profile> ", 8, 0},
             {"ReadBack", kind.fault, 0x3C, 3, FlashOutcome::ReadBackFailed, verify + ", Read Fail! ", "Read Buffer> ", 10, 0x4000},
             {"Flash", kind.fault, 0x3B, 7, FlashOutcome::FlashFailed, "Flash Fail.", "Write Buffer> ", 13, 0}}) {
      c.name += kind.name;
      c.senseText = kind.senseText;
      cases.push_back(c);
    }
  }
  cases.push_back({"CorruptProfile", Fault::Corrupt, 0, 0x80000 + 100, FlashOutcome::ProfileMismatch,
                   verify + ", Valid Profile Fail!", "Compared profile error!", 8, 0, ""});
  cases.push_back({"CorruptThirdChunk", Fault::Corrupt, 0, 2 * kChunk + 5, FlashOutcome::CompareFailed,
                   verify + ", Compare BIN and DRAM Fail! ", "Compare BIN and DRAM fail!", 11, 0, ""});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EachCommand, FaultMatrix, testing::ValuesIn(FaultCases()),
                         [](const auto& testCase) { return testCase.param.name; });

struct ShortCase {
  std::string name;
  ImageKind kind;
  std::uint8_t opcode; // the Nth command of this opcode moves only part of its data
  unsigned nth;
  std::uint32_t needed; // the bytes of it that the procedure reads
  bool half;            // half of them arrive, else none
  bool residualReported;
  FlashOutcome outcome;
  std::string caption;
  std::string label;
  std::size_t commandsSent; // after the ready wait, the short one included
  std::uint32_t failedChunkOffset;
};

class ShortDataIn : public FlashTest, public testing::WithParamInterface<ShortCase> {};

// A data-in command answered GOOD without all the bytes the procedure reads. A 3-chunk image
// whose last chunk is zeros: a chunk that never arrived must not pass for it, nor for the chunk
// before it that the buffer held.
TEST_P(ShortDataIn, FailsTheCommandAndSendsNothingAfterIt) {
  const ShortCase& c = GetParam();
  config.FlashId[0] = 0xDA;
  config.FlashId[1] = 0xC8;
  hideResidual = !c.residualReported;
  const std::uint32_t arrived = c.half ? c.needed / 2 : 0;
  sim::CommandFault fault{c.opcode, c.nth};
  fault.Kind = sim::FaultKind::Short;
  fault.Bytes = arrived;
  config.Faults.push_back(fault);
  auto image = MakeImage(c.kind, 3 * kChunk);
  std::fill(image.begin() + 2 * kChunk, image.end(), std::uint8_t{0});
  EXPECT_EQ(Run(image, c.kind), c.outcome);

  EXPECT_EQ(sink.status, c.caption);
  EXPECT_THAT(sink.messages, ElementsAre(c.label + "00 00 00. 00, 0000"));
  const Lines sent = Commands();
  EXPECT_EQ(sent.size(), ReadyWaitLines(1).size() + c.commandsSent); // nothing after the short one
  EXPECT_THAT(sent, testing::Not(testing::Contains(Line(flash::FlashBlock(false)))));
  EXPECT_EQ(Emulated().CommitCount(), 0u);
  EXPECT_EQ(procedure.FailedChunkOffset(), c.failedChunkOffset);
  const std::uint32_t length = c.opcode == flash::kVendorOpcode ? flash::kFlashIdLength : c.needed;
  char answer[96];
  if (!c.residualReported)
    std::snprintf(answer, sizeof answer, "GOOD, but the data did not arrive (no residual reported)");
  else if (c.needed < length)
    std::snprintf(answer, sizeof answer, "GOOD, but the drive returned %u of %u bytes (%u needed)",
                  static_cast<unsigned>(arrived), static_cast<unsigned>(length), static_cast<unsigned>(c.needed));
  else
    std::snprintf(answer, sizeof answer, "GOOD, but the drive returned %u of %u bytes",
                  static_cast<unsigned>(arrived), static_cast<unsigned>(length));
  EXPECT_EQ(drive::DescribeOutcome(drives->Current()->LastOutcome()), answer);
}

std::vector<ShortCase> ShortCases() {
  const std::string profile = "Write profile to drive's DRAM... , Fail! ";
  const std::string verify = "Read back and Verify drive's DRAM... ";
  const std::string readFail = verify + ", Read Fail! ";
  const std::uint16_t profileLength = 0x013A + 4; // entry 0 and the CD-RW header
  struct Kind {
    const char* name;
    ImageKind kind;
    std::size_t beforeReadBack; // commands after the ready wait before the first read-back chunk
    unsigned firstChunkRead;    // which READ BUFFER reads chunk 0
  };
  const Kind kinds[] = {{"Plain", ImageKind::Plain, 3, 1}, {"CdRw", ImageKind::CdRwNewFormat, 7, 2},
                        {"DvdRom", ImageKind::DvdRom, 5, 1}};
  std::vector<ShortCase> cases;
  for (const Kind& k : kinds) {
    std::vector<ShortCase> commands;
    if (k.kind != ImageKind::Plain)
      commands.push_back({"FlashId", k.kind, 0xDF, 1, 4, false, true, FlashOutcome::ProfileFailed, profile,
                          "Read Flash ID> ", 1, 0});
    if (k.kind == ImageKind::CdRwNewFormat)
      commands.push_back({"Profile", k.kind, 0x3C, 1, profileLength, false, true, FlashOutcome::ProfileCheckFailed,
                          verify + ", Valid Profile Fail!", "Read Profile> ", 7, 0});
    for (unsigned chunk = 0; chunk < 3; ++chunk)
      commands.push_back({"Chunk" + std::to_string(chunk), k.kind, 0x3C, k.firstChunkRead + chunk, kChunk, false,
                          true, FlashOutcome::ReadBackFailed, readFail, "Read Buffer> ", k.beforeReadBack + 1 + chunk,
                          chunk * kChunk});
    for (const ShortCase& command : commands) {
      for (const bool half : {false, true}) {
        for (const bool residual : {true, false}) {
          ShortCase c = command;
          c.name = std::string(k.name) + c.name + (half ? "Half" : "None") + (residual ? "" : "NoResidual");
          c.half = half;
          c.residualReported = residual;
          cases.push_back(c);
        }
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EachDataInCommand, ShortDataIn, testing::ValuesIn(ShortCases()),
                         [](const auto& testCase) { return testCase.param.name; });

// WriteE2, which no step of the procedure calls: one command per byte, the address wrapping
// past 0xFFFF, nothing sent after the first failure and its message shown once.
TEST_F(FlashTest, WriteE2SendsOneCommandPerByteAndStopsAtTheFirstFailure) {
  const std::uint8_t data[] = {0x11, 0x22, 0x33};
  const struct {
    const char* name;
    std::uint16_t address;
    std::uint8_t count;
    unsigned failingCommand; // 0: none
    bool succeeds;
    Lines commands;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> eeprom; // address, byte afterwards
    Lines messages;
  } cases[] = {
      {"three bytes", 0x0010, 3, 0, true,
       {Line(flash::WriteE2Block(0x0010, 0x11)), Line(flash::WriteE2Block(0x0011, 0x22)),
        Line(flash::WriteE2Block(0x0012, 0x33))},
       {{0x0010, 0x11}, {0x0011, 0x22}, {0x0012, 0x33}}, {}},
      {"wraps", 0xFFFF, 2, 0, true,
       {Line(flash::WriteE2Block(0xFFFF, 0x11)), Line(flash::WriteE2Block(0x0000, 0x22))},
       {{0xFFFF, 0x11}, {0x0000, 0x22}}, {}},
      {"second fails", 0x0010, 3, 2, false,
       {Line(flash::WriteE2Block(0x0010, 0x11)), Line(flash::WriteE2Block(0x0011, 0x22))},
       {{0x0010, 0x11}, {0x0011, 0xFF}, {0x0012, 0xFF}}, {"Write E2> 04 08 00. 02, 0000"}},
      {"no bytes", 0x0010, 0, 0, true, {}, {{0x0010, 0xFF}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    config.Faults.clear();
    if (c.failingCommand != 0) {
      sim::CommandFault fault{flash::kVendorOpcode, c.failingCommand};
      fault.Failure = {0x04, 0x08, 0x00};
      config.Faults.push_back(fault);
    }
    sink.messages.clear();
    flash::VendorCommands commands(Connect(), sink);
    EXPECT_EQ(commands.WriteE2(data, c.address, c.count), c.succeeds);
    EXPECT_EQ(Commands(), c.commands);
    const std::vector<std::uint8_t> eeprom = Emulated().Eeprom();
    for (const auto& [address, byte] : c.eeprom) EXPECT_EQ(eeprom[address], byte) << address;
    EXPECT_EQ(sink.messages, c.messages);
  }
}

// The dry run sends neither the Flash command nor, for a CD-RW new-format image, Entry
// critical and the Read Profile check of the critical phase.
TEST_F(FlashTest, DryRunVerifiesWithoutEnteringTheCriticalPhase) {
  config.FlashId[0] = 0xBF;
  config.FlashId[1] = 0xB6;
  for (const ImageKind kind : {ImageKind::Plain, ImageKind::CdRwNewFormat, ImageKind::DvdRom}) {
    SCOPED_TRACE(payload::ImageKindName(kind));
    sink = RecordingSink{};
    EXPECT_EQ(Run(MakeImage(kind, 2 * kChunk), kind, true), FlashOutcome::Verified);
    Lines expected = ReadyWaitLines(1);
    if (kind != ImageKind::Plain)
      expected.insert(expected.end(),
                      {Line(flash::ReadFlashIdBlock()),
                       Line(flash::WriteProfileBlock(static_cast<std::uint16_t>(procedure.Profile().length),
                                                     kind == ImageKind::DvdRom))});
    AppendChunks(expected, true, 2 * kChunk);
    AppendChunks(expected, false, 2 * kChunk);
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(Emulated().CommitCount(), 0u);
    EXPECT_THAT(sink.messages, IsEmpty());
  }
}

struct AfterFlashCase {
  std::string name;
  std::string imageRevision; // what the drive reports after the commit
  bool restartAnswer, restartAccepted;
  Lines messages;
  int restartRequests;
  std::string carried = "1.50";
};

class AfterFlash : public FlashTest, public testing::WithParamInterface<AfterFlashCase> {};

TEST_P(AfterFlash, ChecksTheNewRevisionAndReportsARefusedRestart) {
  const AfterFlashCase& c = GetParam();
  sink.answers = {true, c.restartAnswer};
  restarter.result = {c.restartAccepted, "Access is denied."};
  carriedRevision = c.carried;
  EXPECT_EQ(Run(MakeImage(ImageKind::Plain, kChunk, c.imageRevision), ImageKind::Plain), FlashOutcome::Flashed);
  EXPECT_EQ(sink.messages, c.messages);
  EXPECT_EQ(restarter.requests, c.restartRequests);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AfterFlash,
    testing::Values(AfterFlashCase{"RestartAccepted", "1.50", true, true, {}, 1},
                    AfterFlashCase{"RestartRefused", "1.50", true, false,
                                   {"The system refused to restart: Access is denied.\n"
                                    "Restart the computer yourself for the new firmware to take effect."}, 1},
                    AfterFlashCase{"OtherRevision", "1.49", false, true,
                                   {"The drive reports firmware revision 1.49 after the update, not 1.50. "
                                    "The update may not have taken effect."}, 0},
                    // A revision shorter than four characters: INQUIRY pads it with blanks.
                    AfterFlashCase{"ShortRevision", "1.5 ", false, true, {}, 0, "1.5"}),
    [](const auto& testCase) { return testCase.param.name; });

TEST_F(FlashTest, PlaceholderRoutinesNeverReachARealDrive) {
  if (!flash::RoutineStoreIsPlaceholder()) GTEST_SKIP() << "built with a real routine store";
  EXPECT_EQ(Run(MakeImage(ImageKind::DvdRom, kChunk * 2), ImageKind::DvdRom, false, true), FlashOutcome::Refused);
  EXPECT_EQ(Commands(), ReadyWaitLines(1)); // no vendor command at all
  EXPECT_EQ(sink.status, "Write profile to drive's DRAM... , Fail! ");
  EXPECT_THAT(sink.messages,
              testing::ElementsAre(
                  "This program carries placeholder flash routines, not the drives' real ones, so it "
                  "must not update a real drive. Nothing was written to the drive.\n"
                  "Build the flasher again with the drives' real routine store: put the store file "
                  "beside the builder as odflash-gui.ROUTINES (next to odflash-gui.INI), or give it to "
                  "odflash build --routines FILE."));

  // The test looks at the bytes of the store in use, not at how the program was built: another
  // store gets past it (and is what the profile upload sends).
  const auto filler = payload::MakeFillerRoutineStore(0x5EED);
  flash::UseRoutineStore(filler);
  EXPECT_FALSE(flash::RoutineStoreIsPlaceholder());
  sink.messages.clear();
  sink.answers = {true, false};
  const FlashOutcome outcome = Run(MakeImage(ImageKind::DvdRom, kChunk * 2), ImageKind::DvdRom, false, true);
  flash::UseRoutineStore(payload::OwnRoutineStore());
  EXPECT_EQ(outcome, FlashOutcome::Flashed);
  EXPECT_TRUE(flash::RoutineStoreIsPlaceholder());
}

// What a region holds past the image (an older flasher kept its template's bytes there) never
// decides the kind: a 3-byte image is plain, whatever signature follows it.
TEST(MakeFlashRequest, JudgesTheKindByTheImagesOwnBytes) {
  std::vector<std::uint8_t> block(payload::kBlockLength, 0);
  block[payload::kMarkerLength + payload::kImageLengthOffset] = 3;
  const std::size_t region = payload::kMarkerLength + payload::kHeaderLength;
  block[region] = 0x02;
  block[region + 0x1100] = 0x05, block[region + 0x1101] = 0x80;
  const flash::FlashRequest request = flash::MakeFlashRequest(payload::PayloadBlock(block.data(), block.size()));
  EXPECT_EQ(request.image.size(), 3u);
  EXPECT_EQ(request.kind, ImageKind::Plain);
}


#ifndef _WIN32
struct InterruptCase {
  std::string name;
  int signalNumber;
  int atSleep;                 // raised during this ready-wait sleep (1-based); 0: not there
  flash::FlashPhase atPhase;   // else on entering this phase (ReadyWait: before the first command)
  FlashOutcome outcome;
  std::size_t commandsSent;    // Interrupted: how much of the ready wait was sent
  bool atFlashIdRead = false;  // raised while the flash ID is read (then sent after the wait)
};

// Raises a signal when the drive has answered the Read Flash ID, before the procedure goes on.
class SignalAtFlashIdRead final : public drive::CommandObserver {
public:
  explicit SignalAtFlashIdRead(int signalNumber) : signalNumber_(signalNumber) {}
  void CommandCompleted(const drive::CommandRecord& record) override {
    if (record.Cdb[0] == flash::kVendorOpcode && record.Cdb[1] == flash::kVendorReadFlashId) std::raise(signalNumber_);
  }

private:
  int signalNumber_;
};

class Interrupts : public FlashTest, public testing::WithParamInterface<InterruptCase> {};

// A real signal, caught by the guard: before the first write the run stops between commands
// with nothing written; from the first write on the update goes through to the end.
TEST_P(Interrupts, StopTheRunBeforeTheFirstWriteAndWaitForTheDriveAfterIt) {
  const InterruptCase& c = GetParam();
  config.BecomingReadyPolls = 3;
  config.FlashId[0] = 0xDA;
  config.FlashId[1] = 0xC8;
  const sys::UpdateGuard guard("flash_tests");
  sleeper.onSleep = [&](std::size_t count) {
    if (static_cast<int>(count) == c.atSleep) std::raise(c.signalNumber);
  };
  sink.onPhase = [&](flash::FlashPhase phase) {
    if (c.atSleep == 0 && !c.atFlashIdRead && phase == c.atPhase) std::raise(c.signalNumber);
  };
  SignalAtFlashIdRead observer(c.signalNumber);
  if (c.atFlashIdRead) drive::SetCommandObserver(&observer);
  const FlashOutcome outcome = Run(MakeImage(ImageKind::CdRwNewFormat, 2 * kChunk), ImageKind::CdRwNewFormat);
  drive::SetCommandObserver(nullptr);
  EXPECT_EQ(outcome, c.outcome);
  EXPECT_EQ(sys::HeldRequestExitCode(), 128 + c.signalNumber);
  if (c.outcome == FlashOutcome::Interrupted) {
    const Lines wait = ReadyWaitLines(4);
    Lines expected(wait.begin(), wait.begin() + static_cast<std::ptrdiff_t>(c.commandsSent));
    if (c.atFlashIdRead) expected.push_back(Line(flash::ReadFlashIdBlock()));
    EXPECT_EQ(Commands(), expected);
    EXPECT_THAT(sink.messages, IsEmpty());
  } else {
    EXPECT_EQ(Emulated().CommitCount(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, Interrupts,
    testing::Values(InterruptCase{"BeforeTheFirstCommand", SIGINT, 0, flash::FlashPhase::ReadyWait, FlashOutcome::Interrupted, 0},
                    InterruptCase{"DuringTheReadyWait", SIGTERM, 2, {}, FlashOutcome::Interrupted, 3},
                    InterruptCase{"OnTheLastReadyPoll", SIGHUP, 4, {}, FlashOutcome::Interrupted, 7},
                    // The profile's caption is shown before its first command, which is the first write.
                    InterruptCase{"AtTheProfileCaption", SIGINT, 0, flash::FlashPhase::Profile, FlashOutcome::Interrupted, 11},
                    // Reading the flash ID writes nothing: the run still stops, before Write Profile.
                    InterruptCase{"DuringTheFlashIdRead", SIGINT, 0, {}, FlashOutcome::Interrupted, 11, true},
                    InterruptCase{"DuringTheUpload", SIGQUIT, 0, flash::FlashPhase::Upload, FlashOutcome::Flashed, 0}),
    [](const auto& testCase) { return testCase.param.name; });
#endif

TEST_F(FlashTest, AnEmptyImageIsRefusedBeforeTheQuestion) {
  EXPECT_EQ(Run({}, ImageKind::Plain), FlashOutcome::Refused);
  EXPECT_THAT(sink.events, IsEmpty());
  EXPECT_THAT(Commands(), IsEmpty());
}

} // namespace
