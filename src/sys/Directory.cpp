#include "sys/Directory.h"

#include <algorithm>
#include <cctype>

#include "sys/Files.h"

namespace sys {

// One mask over one folder, by the platform's own rules (DirectoryPosix.cpp, DirectoryWin32.cpp).
std::vector<std::string> ListMatchingFiles(const std::string& directory, const std::string& mask);

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::vector<std::string> SplitMasks(const std::string& masks) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= masks.size()) {
    std::size_t end = masks.find(';', at);
    if (end == std::string::npos) end = masks.size();
    std::string mask = masks.substr(at, end - at);
    const auto first = mask.find_first_not_of(" \t");
    const auto last = mask.find_last_not_of(" \t");
    if (first != std::string::npos) out.push_back(mask.substr(first, last - first + 1));
    at = end + 1;
  }
  return out;
}

} // namespace

std::vector<std::string> ListFiles(const std::string& directory, const std::string& masks) {
  std::vector<std::string> names;
  for (const std::string& mask : SplitMasks(masks)) {
    for (std::string& name : ListMatchingFiles(directory, mask)) names.push_back(std::move(name));
  }
  auto caseless = [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
  };
  std::sort(names.begin(), names.end(), caseless);
  // A file that matches two masks is listed once.
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

bool ListedUnderMasks(const std::string& path, const std::string& masks) {
  const std::string name = FileNameOf(path);
  const std::string directory =
      name.size() == path.size() ? std::string(".") : path.substr(0, path.size() - name.size());
  for (const std::string& listed : ListFiles(directory, masks)) {
    if (listed == name || SameFile(JoinPath(directory, listed), path)) return true;
  }
  return false;
}

} // namespace sys
