#include <windows.h>

#include "sys/Messages.h"

namespace sys {
namespace {

class Win32Messages final : public MessagePresenter {
public:
  MessageAnswer Show(const std::string& text, MessageKind kind, MessageButtons buttons) override {
    UINT style = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
    const char* title = ApplicationTitle().c_str();
    switch (kind) {
    case MessageKind::Plain: break;
    case MessageKind::Information: style |= MB_ICONINFORMATION; title = "Information"; break;
    case MessageKind::Warning: style |= MB_ICONWARNING; title = "Warning"; break;
    case MessageKind::Error: style |= MB_ICONERROR; title = "Error"; break;
    case MessageKind::Confirmation: style |= MB_ICONQUESTION; title = "Confirm"; break;
    }
    switch (MessageBoxA(GetActiveWindow(), text.c_str(), title, style | MB_TASKMODAL)) {
    case IDOK: return MessageAnswer::Ok;
    case IDYES: return MessageAnswer::Yes;
    case IDNO: return MessageAnswer::No;
    default: return MessageAnswer::Closed;
    }
  }
};

} // namespace

MessagePresenter& PlatformMessages() {
  static Win32Messages messages;
  return messages;
}

} // namespace sys
