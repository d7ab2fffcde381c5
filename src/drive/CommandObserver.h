#pragma once
// An optional watcher of every command CDDrive::Execute sends, for traces and support logs.
// Unset (the default), Execute only tests a pointer.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "drive/CommandOutcome.h"
#include "drive/Transport.h"

namespace drive {

// One completed command, valid only during the call.
struct CommandRecord {
  const std::array<std::uint8_t, kCdbLength>& Cdb;
  bool DataIn;
  std::uint32_t Length;
  const std::string& DevicePath;
  std::chrono::steady_clock::duration Duration;
  const CommandOutcome& Outcome;
};

class CommandObserver {
public:
  virtual ~CommandObserver() = default;
  // Called on the thread that sent the command, after its outcome is known and before a
  // failure's message is shown.
  virtual void CommandCompleted(const CommandRecord& record) = 0;
};

// Installs the observer for every drive of the process; null removes it. The caller keeps it
// alive until it is removed.
void SetCommandObserver(CommandObserver* observer);
CommandObserver* CurrentCommandObserver();

} // namespace drive
