#include "drive/DriveMessages.h"

#include <cstdio>

#include "sys/Messages.h"

namespace drive {

std::string OpenFailureText(std::int32_t code, const std::string& path) {
  char text[300];
  std::snprintf(text, sizeof text, "Error opening: %d, Drive: %s", static_cast<int>(code), path.c_str());
  return text;
}

std::string AspiLibraryMissingText() {
  return std::string("Unable to load WNASPI32.DLL !\n") + "You can down the DLL from " +
         kAspiDownloadAddress + "\n" + " and copy the DLL to system directory.\n" + "\n";
}

void ShowOpenFailure(std::int32_t code, const std::string& path) {
  sys::ShowMessage(OpenFailureText(code, path), sys::MessageKind::Plain);
}

void ShowAspiLibraryMissing() { sys::ShowMessage(AspiLibraryMissingText(), sys::MessageKind::Error); }

} // namespace drive
