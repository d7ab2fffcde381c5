#include "sys/IniFile.h"

namespace sys {

std::unique_ptr<IniFile> OpenIniFile(const std::string& path) { return OpenPortableIniFile(path); }

} // namespace sys
