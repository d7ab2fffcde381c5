#include "builder/FirmwareChoice.h"

#include "sys/Directory.h"
#include "sys/Files.h"

namespace builder {

std::vector<std::string> FirmwareFiles(const std::string& directory, const std::string& binMask) {
  return sys::ListFiles(directory, binMask);
}

bool FirmwareFitsMask(const std::string& firmwarePath, const std::string& binMask) {
  const std::string name = sys::FileNameOf(firmwarePath);
  const std::string directory = name.size() == firmwarePath.size()
                                    ? std::string(".")
                                    : firmwarePath.substr(0, firmwarePath.size() - name.size());
  for (const std::string& listed : FirmwareFiles(directory, binMask)) {
    if (listed == name || sys::SameFile(sys::JoinPath(directory, listed), firmwarePath)) return true;
  }
  return false;
}

void FirmwareChoice::FileClicked(const std::string& listPath) {
  SelectedFileName = sys::FileNameOf(listPath);
  BuildEnabled = true;
}

} // namespace builder
