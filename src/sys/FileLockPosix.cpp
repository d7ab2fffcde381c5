#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "sys/FileLock.h"

namespace sys {
namespace {

// Open-file-description locks where Linux has them: unlike classic record locks they conflict
// with the process's own other locks, and closing another descriptor of the file (as a test of
// the lock does) does not drop them.
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
constexpr int kSetLockWaiting = F_OFD_SETLKW;
constexpr int kGetLock = F_OFD_GETLK;
#else
constexpr int kSetLock = F_SETLK;
constexpr int kSetLockWaiting = F_SETLKW;
constexpr int kGetLock = F_GETLK;
#endif

struct flock ByteRange(short type, std::uint64_t offset) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(offset);
  range.l_len = 1;
  return range;
}

} // namespace

FileByteLock::~FileByteLock() { ::close(static_cast<int>(handle_)); }

std::unique_ptr<FileByteLock> FileByteLock::TryLock(const std::string& path, std::uint64_t offset,
                                                    bool& heldElsewhere) {
  heldElsewhere = false;
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct flock range = ByteRange(F_WRLCK, offset);
  if (::fcntl(fd, kSetLock, &range) != 0) {
    heldElsewhere = errno == EAGAIN || errno == EACCES;
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileByteLock>(new FileByteLock(fd));
}

std::unique_ptr<FileByteLock> FileByteLock::Lock(const std::string& path, std::uint64_t offset) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct flock range = ByteRange(F_WRLCK, offset);
  int result;
  do {
    result = ::fcntl(fd, kSetLockWaiting, &range);
  } while (result != 0 && errno == EINTR); // a held signal's handler interrupts the wait
  if (result != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileByteLock>(new FileByteLock(fd));
}

bool FileByteLock::IsLocked(const std::string& path, std::uint64_t offset) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock range = ByteRange(F_WRLCK, offset);
  const bool locked = ::fcntl(fd, kGetLock, &range) == 0 && range.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

} // namespace sys
