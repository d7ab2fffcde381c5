#include <cstdio>

#include "sys/Messages.h"

namespace sys {
namespace {

// Without a window, a message goes to standard error; a question is answered No, so that
// nothing is done to a drive that nobody agreed to.
class StderrMessages final : public MessagePresenter {
public:
  MessageAnswer Show(const std::string& text, MessageKind, MessageButtons buttons) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
};

} // namespace

MessagePresenter& PlatformMessages() {
  static StderrMessages messages;
  return messages;
}

} // namespace sys
