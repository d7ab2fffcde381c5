#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "sys/Files.h"

namespace sys {

std::FILE* CreateNewFile(const std::string& path, bool executable) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, executable ? 0755 : 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

std::uint64_t CopyBytesBuffered(std::FILE* from, std::FILE* to, std::uint64_t length);

std::uint64_t CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t length) {
  if (std::fflush(to) != 0) return 0;
  off_t in = ftello(from), out = ftello(to);
  std::uint64_t copied = 0;
  while (in >= 0 && out >= 0 && copied < length) {
    const ssize_t done = copy_file_range(fileno(from), &in, fileno(to), &out, length - copied, 0);
    if (done <= 0) break;
    copied += static_cast<std::uint64_t>(done);
  }
  if (copied > 0 && (fseeko(from, in, SEEK_SET) != 0 || fseeko(to, out, SEEK_SET) != 0)) return 0;
  // Where the kernel cannot copy (another file system, an old kernel), the loop goes on.
  return copied + CopyBytesBuffered(from, to, length - copied);
}

bool RenameOnto(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

} // namespace sys
