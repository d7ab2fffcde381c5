// odflash-gui for Windows: the main window from its layout, start-up before the window is
// first shown, then the message loop.

#include <windows.h>

#include <memory>
#include <string>

#include "app/ThreadedFormView.h"
#include "gui/win32/Win32FormView.h"
#include "sys/StandardStreams.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything is opened: no file of ours may take a standard descriptor's number.
  sys::OpenClosedStandardStreams();
  return app::RunWindow([instance] { return std::make_unique<gui::Win32FormView>(instance); },
                        [](const std::string& text) { sys::ShowMessage(text, sys::MessageKind::Error); });
}
