#pragma once
// An emulated drive reached through the real drive layer, a sink that records what the
// procedure shows, and firmware images of each kind.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "builder/ImageKind.h"
#include "drive/Cddrives.h"
#include "drive/Transport.h"
#include "flash/CommandBlocks.h"
#include "flash/FlashSink.h"
#include "sim/EmulatedDrive.h"
#include "sim/ImageRevision.h"
#include "sys/Restart.h"
#include "sys/Sleeper.h"

namespace flashtest {

using builder::ImageKind;

// Image bytes that carry the signatures of one kind and the revision at its place.
inline std::vector<std::uint8_t> MakeImage(ImageKind kind, std::size_t length,
                                           const std::string& revision = "1.50") {
  std::vector<std::uint8_t> image(length);
  std::uint32_t seed = static_cast<std::uint32_t>(length) * 2654435761u;
  for (auto& byte : image) {
    seed = seed * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(seed >> 24);
  }
  for (std::size_t at : {0x1100, 0x4000, 0x4008})
    if (at < length) image[at] = 0;
  std::copy(revision.begin(), revision.end(), image.begin() + sim::kImageRevisionOffset);
  if (kind == ImageKind::CdRwNewFormat) {
    image[0x1100] = 0x05;
    image[0x1101] = 0x80;
  } else if (kind == ImageKind::DvdRom) {
    image[0x4000] = 0x05;
    image[0x4001] = 0x80;
    const std::string model = "DVD-ROM QAX-200";
    std::copy(model.begin(), model.end(), image.begin() + 0x4010);
  }
  return image;
}

// The log line of a block, as the emulated drive writes it.
inline std::string Line(const flash::CommandBlock& block) {
  std::uint8_t cdb[12];
  std::copy(block.cdb.begin(), block.cdb.end(), cdb);
  return sim::EmulatedDrive::LogLine(cdb, block.direction == flash::kDataIn, block.transferLength);
}

inline std::string InquiryLine() {
  flash::CommandBlock inquiry;
  inquiry.cdb[0] = 0x12;
  inquiry.cdb[4] = 0x80;
  inquiry.transferLength = 128;
  return Line(inquiry);
}

// START STOP UNIT load, polls (each TEST UNIT READY and STOP PLAY/SCAN), and the closing pair.
inline std::vector<std::string> ReadyWaitLines(unsigned polls, bool closing = true) {
  std::vector<std::string> lines{Line(flash::StartStopUnitBlock(true))};
  for (unsigned i = 0; i < polls; ++i) {
    lines.push_back(Line(flash::TestUnitReadyBlock()));
    lines.push_back(Line(flash::StopPlayScanBlock()));
  }
  if (closing) {
    lines.push_back(Line(flash::StopPlayScanBlock()));
    lines.push_back(Line(flash::StartStopUnitBlock(false)));
  }
  return lines;
}

// Records every call as one line; answers questions from a script (Yes when it runs out
// unless told otherwise).
class RecordingSink : public flash::FlashSink {
public:
  void SetStatus(const std::string& text) override {
    status = text;
    events.push_back("status " + text);
  }
  void AppendStatus(const std::string& suffix) override {
    status += suffix;
    events.push_back("append " + suffix);
  }
  void SetProgressRange(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t step) override {
    events.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum) + " " +
                     std::to_string(step));
  }
  void SetProgressPosition(std::uint32_t newPosition) override {
    position = newPosition;
    positions.push_back(newPosition);
  }
  void ShowMessage(const std::string& text, sys::MessageKind kind) override {
    messages.push_back(text);
    messageKinds.push_back(kind);
    events.push_back("message " + text);
  }
  bool Ask(const std::string& text, sys::MessageKind kind) override {
    questions.push_back(text);
    questionKinds.push_back(kind);
    events.push_back("ask " + text);
    if (answers.empty()) return answerWhenUnscripted;
    const bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
  void SetBusy(bool busy) override { events.push_back(busy ? "busy" : "idle"); }
  void DriveRefreshed(const std::string& identity) override {
    refreshed.push_back(identity);
    events.push_back("refreshed " + identity);
  }

  std::vector<bool> answers;
  bool answerWhenUnscripted = false;
  std::string status;
  std::uint32_t position = 0;
  std::vector<std::uint32_t> positions;
  std::vector<std::string> events, messages, questions, refreshed;
  std::vector<sys::MessageKind> messageKinds, questionKinds;
};

class CountingSleeper : public sys::Sleeper {
public:
  void SleepMilliseconds(unsigned milliseconds) override { sleeps.push_back(milliseconds); }
  std::vector<unsigned> sleeps;
};

class ScriptedRestarter : public sys::Restarter {
public:
  sys::RestartResult RequestRestart() override {
    ++requests;
    return result;
  }
  sys::RestartResult result{true, ""};
  int requests = 0;
};

inline sim::DriveConfig DefaultDrive() {
  sim::DriveConfig config;
  config.Vendor = "ODSIM";
  config.Product = "CD-RW EMULATED";
  config.Revision = "1.00";
  config.Medium = true;
  return config;
}

// One emulated drive behind the real drive layer, with a 16384-byte data buffer.
class EmulatedDriveTest : public testing::Test {
protected:
  void StartDrive(const sim::DriveConfig& config) {
    machine_ = std::make_shared<sim::SimMachine>(sim::SimConfig{config});
    drive::UseEmulatedDrives(machine_);
    drives_ = std::make_unique<drive::CDDrives>();
    ASSERT_EQ(drives_->Count(), 1);
    drive::CDDrive::SetBuffer(transfer_.data(), static_cast<std::uint32_t>(transfer_.size()));
    logStart_ = Emulated().Log().size();
  }
  void TearDown() override {
    drives_.reset();
    drive::ResetTransportState();
  }
  drive::CDDrive& Drive() { return *drives_->Current(); }
  sim::EmulatedDrive& Emulated() { return machine_->Drive(0); }
  // The commands sent since the drive was listed.
  std::vector<std::string> Commands() {
    const auto log = Emulated().Log();
    return std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(logStart_), log.end());
  }

  std::shared_ptr<sim::SimMachine> machine_;
  std::unique_ptr<drive::CDDrives> drives_;
  std::array<std::uint8_t, 16384> transfer_{};
  std::size_t logStart_ = 0;
};

} // namespace flashtest
