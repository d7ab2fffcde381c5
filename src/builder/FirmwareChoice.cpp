#include "builder/FirmwareChoice.h"

#include "sys/Directory.h"
#include "sys/Files.h"

namespace builder {

std::vector<std::string> FirmwareFiles(const std::string& directory, const std::string& binMask) {
  return sys::ListFiles(directory, binMask);
}

void FirmwareChoice::FileClicked(const std::string& listPath) {
  SelectedFileName = sys::FileNameOf(listPath);
  BuildEnabled = true;
}

} // namespace builder
