#pragma once
// Modal message boxes, as the layers below the window see them. The drive layer and the
// flash procedure show their messages through here; each front-end installs its own
// presenter (the Win32 window, the Qt window, the command line, the tests' scripted view).

#include <string>

namespace sys {

enum class MessageKind { Plain, Information, Warning, Error, Confirmation };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No, Closed };

class MessagePresenter {
public:
  virtual ~MessagePresenter() = default;
  // Shows the text modally and returns the button pressed (Closed when the box was closed).
  virtual MessageAnswer Show(const std::string& text, MessageKind kind, MessageButtons buttons) = 0;
};

// The process-wide presenter. Until one is installed, the platform's own is used: a real
// message box on Windows, standard error elsewhere (answering No to questions).
MessagePresenter& Messages();
// Installs a presenter (not owned); nullptr restores the platform's own.
void SetMessages(MessagePresenter* presenter);

// The title of plain boxes (the application title on Windows).
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();

// Shorthand for a box with an OK button.
inline void ShowMessage(const std::string& text, MessageKind kind = MessageKind::Plain) {
  Messages().Show(text, kind, MessageButtons::Ok);
}

} // namespace sys
