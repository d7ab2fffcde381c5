#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "sys/Files.h"

namespace sys {

std::FILE* CreateNewFile(const std::string& path, bool executable) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, executable ? 0755 : 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

bool RenameOnto(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace sys
