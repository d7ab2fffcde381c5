#include "sys/Directory.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace sys {
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

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*") return true;
  // Iterative wildcard match with back-tracking to the last '*'.
  std::size_t n = 0, m = 0, starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

std::vector<std::string> ListFiles(const std::string& directory, const std::string& masks) {
  const std::vector<std::string> maskList = SplitMasks(masks);
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    const std::string name = it->path().filename().string();
    if (std::any_of(maskList.begin(), maskList.end(),
                    [&](const std::string& mask) { return MatchesMask(name, mask); }))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return Lower(x) < Lower(y); });
  });
  return names;
}

std::string CurrentDirectory() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}

} // namespace sys
