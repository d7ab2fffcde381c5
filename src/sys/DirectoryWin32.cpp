#include <windows.h>

#include <vector>

#include "sys/Directory.h"

namespace sys {

std::string ModulePath() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) return std::string(path.data(), length);
    path.resize(path.size() * 2);
  }
}

} // namespace sys
