#include <unistd.h>

#include <climits>

#include "sys/Directory.h"

namespace sys {

std::string ModulePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

} // namespace sys
