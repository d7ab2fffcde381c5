#include <windows.h>

#include <vector>

#include "sys/IniFile.h"

namespace sys {
namespace {

class Win32IniFile final : public IniFile {
public:
  explicit Win32IniFile(std::string path) : path_(std::move(path)) {}

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const override {
    std::vector<char> buffer(4096);
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                  buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  path_.c_str());
    return std::string(buffer.data(), length);
  }

private:
  std::string path_;
};

} // namespace

std::unique_ptr<IniFile> OpenIniFile(const std::string& path) {
  // The system reader looks for a relative name in the Windows folder: hand it a full path.
  char full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return std::make_unique<Win32IniFile>(length > 0 && length < sizeof full ? std::string(full, length)
                                                                           : path);
}

} // namespace sys
