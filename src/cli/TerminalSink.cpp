#include "cli/TerminalSink.h"

#include <iostream>

#include "cli/Trace.h"
#include "sys/StandardStreams.h"

namespace cli {

std::string TerminalText(const std::string& text) {
  const auto first = text.find_first_not_of('\n');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of('\n') - first + 1);
}

TerminalSink::TerminalSink(const FlashOptions& options, std::string driveRevision, std::string carriedRevision,
                           EventStream& events)
    : options_(options), driveRevision_(std::move(driveRevision)), carriedRevision_(std::move(carriedRevision)),
      events_(events), textStream_(TextStream(options)), interactive_(sys::IsTerminal(textStream_)) {}

void TerminalSink::SetStatus(const std::string& text) {
  EndProgressLine();
  std::fprintf(textStream_, "%s\n", text.c_str());
  std::fflush(textStream_);
  status_ = text;
  events_.Emit(StatusEvent{status_});
  TraceNote(status_);
}

void TerminalSink::AppendStatus(const std::string& suffix) {
  EndProgressLine();
  status_ += suffix;
  std::fprintf(textStream_, "%s\n", status_.c_str());
  std::fflush(textStream_);
  events_.Emit(StatusEvent{status_});
  TraceNote(status_);
}

void TerminalSink::SetProgressRange(std::uint32_t minimum, std::uint32_t maximum, std::uint32_t) {
  minimum_ = minimum;
  maximum_ = maximum;
  shownPercent_ = -1;
}

void TerminalSink::SetProgressPosition(std::uint32_t position) {
  // The Flash command's bar (0 to 200) says nothing a caption does not; the final 0 resets.
  if (phase_ != flash::FlashPhase::Upload && phase_ != flash::FlashPhase::Verify) return;
  if (maximum_ <= minimum_) return;
  events_.Emit(ProgressEvent{phase_, position - minimum_, maximum_ - minimum_});
  const int percent = static_cast<int>(100.0 * (position - minimum_) / (maximum_ - minimum_));
  const bool due = shownPercent_ < 0 || (interactive_ ? percent != shownPercent_ : percent / 25 != shownPercent_ / 25);
  if (!due) return;
  shownPercent_ = percent;
  std::fprintf(textStream_, interactive_ ? "\r  %3d%%  %u of %u bytes" : "  %3d%%  %u of %u bytes\n", percent,
               static_cast<unsigned>(position - minimum_), static_cast<unsigned>(maximum_ - minimum_));
  std::fflush(textStream_);
  progressLineOpen_ = interactive_;
}

void TerminalSink::EnterPhase(flash::FlashPhase phase) {
  // From the answered question on, Ctrl+C, a closed terminal or a kill waits for the drive;
  // at the question itself it still ends the program at once.
  if (phase == flash::FlashPhase::ReadyWait && !guard_) guard_.emplace("odflash");
  EndProgressLine();
  phase_ = phase;
  shownPercent_ = -1;
  events_.Emit(PhaseEvent{phase});
}

void TerminalSink::ShowMessage(const std::string& text, sys::MessageKind kind) {
  EndProgressLine();
  std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
  events_.Emit(MessageEvent{kind, TerminalText(text)});
  TraceNote(TerminalText(text));
}

bool TerminalSink::AskRestart(const std::string& text) {
  EndProgressLine();
  if (options_.restart) {
    std::fprintf(textStream_, "Restarting the computer (--restart).\n");
  } else {
    std::fprintf(textStream_, "Restart the computer for the new firmware to take effect "
                              "(--restart has odflash request it).\n");
  }
  events_.Emit(QuestionEvent{std::nullopt, TerminalText(text), options_.restart, "option"});
  return options_.restart;
}

bool TerminalSink::AskUpdate(const flash::UpdateQuestion& question) {
  update_ = question.update;
  return Ask(question.text, question.kind);
}

bool TerminalSink::Ask(const std::string& text, sys::MessageKind) {
  EndProgressLine();
  std::fprintf(textStream_, "%s\n", TerminalText(text).c_str());
  const char* answeredBy = "option";
  const bool answer = AnswerUpdate(answeredBy);
  events_.Emit(QuestionEvent{update_, TerminalText(text), answer, answeredBy});
  return answer;
}

void TerminalSink::DriveRefreshed(const std::string& identity) {
  EndProgressLine();
  std::fprintf(textStream_, "Drive now reports: %s\n", identity.c_str());
}

// --yes answers a plain update; a downgrade or a reinstall only with its own option as well.
// Whatever --yes does not answer, a person at the terminal may.
bool TerminalSink::AnswerUpdate(const char*& answeredBy) {
  const std::string& d = driveRevision_;
  const std::string& n = carriedRevision_;
  std::string unanswered = "no answer on a terminal; --yes answers it";
  bool allowed = true;
  if (update_ == flash::UpdateKind::Downgrade) {
    allowed = options_.allowOlder;
    unanswered = "the flasher's firmware " + n + " is older than the drive's " + d +
                 "; --yes answers a downgrade only with --allow-older";
  } else if (update_ == flash::UpdateKind::Reinstall) {
    allowed = options_.allowReinstall;
    unanswered = "the drive already runs firmware " + d + "; --yes answers a reinstall only with --allow-reinstall";
  }
  if (options_.yes && allowed) {
    std::fprintf(textStream_, "Answered yes (--yes).\n");
    return true;
  }
  const bool atTerminal = sys::IsTerminal(stdin);
  if (atTerminal) {
    std::fprintf(textStream_, "Update the drive? [y/N] ");
    std::fflush(textStream_);
  }
  std::string answer;
  // End of input is no one answering too (Wine takes /dev/null for a terminal).
  if (!atTerminal || !std::getline(std::cin, answer)) {
    if (atTerminal) std::fprintf(textStream_, "\n");
    answeredBy = "none";
    declineReason_ = unanswered;
    return false;
  }
  answeredBy = "terminal";
  const bool yes = answer == "y" || answer == "Y" || answer == "yes";
  if (!yes) declineReason_ = "answered no";
  return yes;
}

void TerminalSink::EndProgressLine() {
  if (!progressLineOpen_) return;
  std::fprintf(textStream_, "\n");
  progressLineOpen_ = false;
}

} // namespace cli
