#pragma once
// The builder window's choice of a firmware file: the file list under the model's mask, the
// selected file name and whether Build is enabled.

#include <string>
#include <vector>

namespace builder {

// The firmware files of directory that match a model's BINMask (masks joined with ';').
std::vector<std::string> FirmwareFiles(const std::string& directory, const std::string& binMask);

// True when the builder window, listing the firmware file's folder under binMask, would list
// that file: the window's own rules decide letter case (and short names on Windows).
bool FirmwareFitsMask(const std::string& firmwarePath, const std::string& binMask);

struct FirmwareChoice {
  std::string SelectedFileName;  // empty until a file is clicked
  bool BuildEnabled = false;

  // A click in the file list: listPath is the list's directory plus the clicked item.
  void FileClicked(const std::string& listPath);
  // Another model was chosen: Build waits for a new click; the selected name stays.
  void ModelChanged() { BuildEnabled = false; }
};

} // namespace builder
