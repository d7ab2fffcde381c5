#pragma once
// How the flash procedure talks to the outside: the window's presenter and the command line
// each implement this. The procedure calls nothing else that shows or asks anything, so it
// can run on a worker thread whose sink forwards the calls (and waits for the answers).

#include <cstdint>
#include <string>

#include "flash/UpdateQuestion.h"
#include "sys/Messages.h"

namespace flash {

// The stages of a run, for front-ends that show more than the status caption.
enum class FlashPhase { ReadyWait, Profile, Upload, EntryCritical, Verify, Flash, Done };

class FlashSink {
public:
  virtual ~FlashSink() = default;

  // Replaces the status caption and shows it at once.
  virtual void SetStatus(const std::string& text) = 0;
  // Appends a failure suffix to the current status caption.
  virtual void AppendStatus(const std::string& suffix) = 0;

  virtual void SetProgressRange(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t step) = 0;
  virtual void SetProgressPosition(std::uint32_t position) = 0;
  // The stage a run is entering (the status caption already says it in words).
  virtual void EnterPhase(FlashPhase) {}

  // A modal message with an OK button.
  virtual void ShowMessage(const std::string& text, sys::MessageKind kind) = 0;
  // A modal Yes/No question; true for Yes.
  virtual bool Ask(const std::string& text, sys::MessageKind kind) = 0;
  // The update question before anything is sent to the drive, with what the update would do
  // to its revision, so that a front-end may answer it by its own rule; the window shows it
  // as any other question.
  virtual bool AskUpdate(const UpdateQuestion& question) { return Ask(question.text, question.kind); }
  // The restart question after a successful update, so that a front-end may answer it by its
  // own rule; the window shows it as any other question.
  virtual bool AskRestart(const std::string& text) { return Ask(text, sys::MessageKind::Confirmation); }

  // Hourglass on (true) or default cursor (false).
  virtual void SetBusy(bool busy) = 0;

  // After a successful Flash command: the drive's fresh identity text, which replaces the
  // drive's list entry.
  virtual void DriveRefreshed(const std::string& identity) = 0;
};

} // namespace flash
