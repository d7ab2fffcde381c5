#pragma once
// The flash procedure's sink for a terminal: each status caption on its own line, followed by a
// percentage and byte count that is redrawn in place on a terminal and printed at every
// quarter otherwise. With --json the same goes to standard error and every step is also an
// event on standard output.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/FlashEvent.h"
#include "cli/FlashOptions.h"
#include "flash/FlashSink.h"
#include "flash/UpdateQuestion.h"
#include "sys/UpdateGuard.h"

namespace cli {

// A message box text as terminal lines: without the line breaks that frame it in a box.
std::string TerminalText(const std::string& text);

class TerminalSink final : public flash::FlashSink {
public:
  // driveRevision, carriedRevision: the drive's revision and the flasher's, which a declined
  // update question names.
  TerminalSink(const FlashOptions& options, std::string driveRevision, std::string carriedRevision,
               EventStream& events);

  void SetStatus(const std::string& text) override;
  void AppendStatus(const std::string& suffix) override;
  void SetProgressRange(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t step) override;
  void SetProgressPosition(std::uint32_t position) override;
  void EnterPhase(flash::FlashPhase phase) override;
  void ShowMessage(const std::string& text, sys::MessageKind kind) override;
  bool AskRestart(const std::string& text) override;
  bool AskUpdate(const flash::UpdateQuestion& question) override;
  bool Ask(const std::string& text, sys::MessageKind kind) override;
  void SetBusy(bool) override {}
  void DriveRefreshed(const std::string& identity) override;

  // Why the update question was declined (empty when it was answered yes).
  const std::string& DeclineReason() const { return declineReason_; }

private:
  bool AnswerUpdate(const char*& answeredBy);
  void EndProgressLine();

  const FlashOptions& options_;
  std::optional<flash::UpdateKind> update_; // what the question being asked would do
  std::string driveRevision_, carriedRevision_;
  EventStream& events_;
  std::FILE* const textStream_;
  bool interactive_;
  std::optional<sys::UpdateGuard> guard_;
  std::string status_;
  std::string declineReason_;
  flash::FlashPhase phase_ = flash::FlashPhase::ReadyWait;
  std::uint32_t minimum_ = 0, maximum_ = 0;
  int shownPercent_ = -1;
  bool progressLineOpen_ = false;
};

} // namespace cli
