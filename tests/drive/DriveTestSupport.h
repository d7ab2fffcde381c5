#pragma once
// Shared by the drive layer's tests: a presenter that records every message box, and a fixture
// that gives each test a fresh transport state over emulated drives.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/Transport.h"
#include "sim/EmulatedDrive.h"
#include "sys/Messages.h"

namespace drive_test {

struct RecordedMessage {
  std::string Text;
  sys::MessageKind Kind;
  bool operator==(const RecordedMessage&) const = default;
  friend void PrintTo(const RecordedMessage& message, std::ostream* out) {
    *out << ::testing::PrintToString(message.Text) << " (kind " << static_cast<int>(message.Kind) << ")";
  }
};

class RecordingMessages final : public sys::MessagePresenter {
public:
  sys::MessageAnswer Show(const std::string& text, sys::MessageKind kind, sys::MessageButtons) override {
    Shown.push_back({text, kind});
    return sys::MessageAnswer::Ok;
  }
  std::vector<RecordedMessage> Shown;
};

class DriveTest : public ::testing::Test {
protected:
  void SetUp() override {
    drive::ResetTransportState();
    sys::SetMessages(&messages_);
  }
  void TearDown() override {
    sys::SetMessages(nullptr);
    drive::ResetTransportState();
  }
  // Installs emulated drives from INI text and returns their machine.
  std::shared_ptr<sim::SimMachine> Emulate(const std::string& ini) {
    auto machine = sim::SimMachine::FromIni(ini);
    drive::UseEmulatedDrives(machine);
    return machine;
  }
  RecordingMessages messages_;
};

// INI text for count drives named "VEND<i>" / "PRODUCT <i>" / revision "R<i>".
inline std::string ManyDrives(int count) {
  std::string ini;
  for (int i = 0; i < count; ++i)
    ini += "[Drive" + std::to_string(i) + "]\nVendor=VEND" + std::to_string(i) + "\nProduct=PRODUCT " +
           std::to_string(i) + "\nRevision=R" + std::to_string(i) + "\n";
  return ini;
}

} // namespace drive_test
