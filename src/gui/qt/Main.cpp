// odflash-gui for Linux: the main window from its layout, start-up before the window is first
// shown, then the event loop. The flashing role talks to the machine's drives over SG_IO, or
// to the emulated drives of the file named by ODFLASH_SIM.

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/ThreadedFormView.h"
#include "drive/Transport.h"
#include "gui/qt/QtFormView.h"
#include "gui/qt/QtMessageBox.h"
#include "sys/StandardStreams.h"
#include "sys/UpdateGuard.h"
#include "sys/Version.h"

namespace {

constexpr int kExitBadEnvironment = 2;

constexpr const char* kUsage =
    "Usage: %s [--help | --version]\n"
    "\n"
    "Firmware update utility for optical drives, as a window.\n"
    "\n"
    "Started as built, it is the builder: it reads the model file beside it (its own path with\n"
    "\".INI\" appended) and writes a flasher for the chosen model and firmware file of the\n"
    "current directory. A flasher lists the drives its firmware fits and updates one on FLASH.\n"
    "\n"
    "Environment:\n"
    "  ODFLASH_SIM=FILE  use the emulated drives described in FILE instead of the machine's\n"
    "                    drives (opening a real drive needs the cdrom group or root)\n";

bool Asked(int argc, char** argv, const char* option, const char* shortOption) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], option) == 0 || (shortOption != nullptr && std::strcmp(argv[i], shortOption) == 0))
      return true;
  }
  return false;
}

} // namespace

int main(int argc, char** argv) {
  // Before anything is opened: no file or device of ours may become standard output. A lost
  // terminal or pipe must never end the program during an update.
  sys::OpenClosedStandardStreams();
  sys::IgnoreOutputSignals();
  if (Asked(argc, argv, "--help", "-h")) {
    std::printf(kUsage, argc > 0 ? argv[0] : "odflash-gui");
    return 0;
  }
  if (Asked(argc, argv, "--version", nullptr)) {
    std::printf("odflash-gui %s\n", sys::OdflashVersion());
    return 0;
  }
  // The toolkit's own threads leave a stop request (Ctrl+Z) to the window's thread, which holds
  // it while a drive is being updated.
  std::unique_ptr<QApplication> started;
  sys::StartThreadsWithoutStopRequests([&] { started = std::make_unique<QApplication>(argc, argv); });
  // The name only; a display name would be appended to every window caption.
  QApplication::setApplicationName(QString::fromLatin1(app::kApplicationTitle));
  QApplication::setQuitOnLastWindowClosed(false);

  const std::string simFile = drive::SimFileFromEnvironment();
  if (!simFile.empty()) {
    std::string error;
    if (!drive::UseEmulatedDrivesFromFile(simFile, error)) {
      gui::ShowMessageBox(nullptr, "ODFLASH_SIM names an unusable drive file:\n" + simFile + "\n" + error,
                          sys::MessageKind::Error, sys::MessageButtons::Ok);
      return kExitBadEnvironment;
    }
  }

  return app::RunWindow([] { return std::make_unique<gui::QtFormView>(); },
                        [](const std::string& text) {
                          gui::ShowMessageBox(nullptr, text, sys::MessageKind::Error, sys::MessageButtons::Ok);
                        });
}
