// odflash-gui for Windows: the application title, the main window from its layout, start-up
// before the window is first shown, then the message loop.

#include <windows.h>

#include <exception>

#include "app/TFlashForm.h"
#include "gui/win32/Win32FormView.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  sys::SetApplicationTitle(app::kApplicationTitle);
  int exitCode = 0;
  try {
    gui::Win32FormView view(instance);
    // Every box of the drive layer, the builder and the flash procedure goes through the
    // window, which brings boxes asked for by the flash worker to its own thread.
    sys::SetMessages(&view);
    app::TFlashForm form(view);
    view.Attach(&form);
    form.FormCreate();
    exitCode = view.Run();
    view.Attach(nullptr);
    sys::SetMessages(nullptr);
  } catch (const std::exception& failure) {
    sys::SetMessages(nullptr);
    sys::ShowMessage(failure.what(), sys::MessageKind::Error);
  }
  return exitCode;
}
