#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include "sys/Files.h"

namespace sys {

std::FILE* CreateNewFile(const std::string& path, bool /*executable*/) {
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

std::uint64_t CopyBytesBuffered(std::FILE* from, std::FILE* to, std::uint64_t length);

std::uint64_t CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t length) {
  return CopyBytesBuffered(from, to, length);
}

bool RenameOnto(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

} // namespace sys
