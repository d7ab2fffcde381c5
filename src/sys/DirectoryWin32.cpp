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

// Paths stay in the ANSI code page end to end on Windows, as fopen, GetModuleFileNameA and
// GetPrivateProfileStringA use it; std::filesystem's narrow strings would be UTF-8 instead.
std::string CurrentDirectory() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(path.size()), path.data());
    if (length == 0) return {};
    if (length < path.size()) return std::string(path.data(), length);
    path.resize(length);
  }
}

// The system's own mask search (short names and the DOS wildcard rules included). Folders,
// hidden and system files are not firmware files and are left out.
std::vector<std::string> ListMatchingFiles(const std::string& directory, const std::string& mask) {
  std::vector<std::string> names;
  std::string pattern = directory;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += mask;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  constexpr DWORD kNotFirmware = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  do {
    if ((found.dwFileAttributes & kNotFirmware) == 0) names.emplace_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

} // namespace sys
