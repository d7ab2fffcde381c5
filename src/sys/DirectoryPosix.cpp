#include <unistd.h>

#include <cctype>
#include <climits>
#include <filesystem>
#include <system_error>

#include "sys/Directory.h"

namespace sys {
namespace {
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
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


std::string ModulePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

std::string CurrentDirectory() {
  std::error_code error;
  return std::filesystem::current_path(error).string();
}

std::vector<std::string> ListMatchingFiles(const std::string& directory, const std::string& mask) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = it->path().filename().string();
    if (MatchesMask(name, mask)) names.push_back(std::move(name));
  }
  return names;
}

} // namespace sys
