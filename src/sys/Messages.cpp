#include "sys/Messages.h"

namespace sys {

MessagePresenter& PlatformMessages(); // one per platform: MessagesWin32.cpp, MessagesPosix.cpp

namespace {
MessagePresenter* installed = nullptr;
std::string& TitleStorage() {
  static std::string title = "odflash";
  return title;
}
} // namespace

MessagePresenter& Messages() { return installed ? *installed : PlatformMessages(); }
void SetMessages(MessagePresenter* presenter) { installed = presenter; }
void SetApplicationTitle(const std::string& title) { TitleStorage() = title; }
const std::string& ApplicationTitle() { return TitleStorage(); }

} // namespace sys
