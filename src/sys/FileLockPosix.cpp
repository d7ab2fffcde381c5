#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

// Every user may lock a lock file: other users' flashers of the same drive file must see it.
constexpr mode_t kLockFileMode = 0666;
constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

struct flock FirstByte(short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  return range;
}

// The system's lock directory when this user may write it, else the temporary directory (not
// $TMPDIR: a per-user folder would hide the lock from other users).
const char* LockDirectory() {
  struct stat info {};
  if (::stat("/run/lock", &info) == 0 && S_ISDIR(info.st_mode) && ::access("/run/lock", W_OK | X_OK) == 0)
    return "/run/lock";
  return "/tmp";
}

// The lock file of the slot: named after the file's identity, so that every path to the file
// (a bind mount, a link) finds the same lock. Empty, with error set, when the file is missing.
std::string LockFilePath(const std::string& path, const LockSlot& slot, std::string& error) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) {
    error = path + ": " + std::strerror(errno);
    return {};
  }
  return std::string(LockDirectory()) + "/odflash-" + std::to_string(file.st_dev) + "-" +
         std::to_string(file.st_ino) + "-" + slot.Name + ".lock";
}

// Opens the lock file read-write, creating it when missing. An existing file is opened as it
// is (never truncated; another user's file, which a sticky directory forbids opening with
// O_CREAT); a new one is made with O_EXCL so that only its creator widens its mode past the
// umask. Symbolic links, hard links and anything but a regular file are refused: a lock file
// is never a way to reach another file. -1 with error set on failure.
int OpenLockFile(const std::string& lockPath, std::string& error) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    bool created = false;
    int fd = ::open(lockPath.c_str(), kOpenFlags);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(lockPath.c_str(), kOpenFlags | O_CREAT | O_EXCL, kLockFileMode);
      if (fd < 0 && errno == EEXIST) continue; // made by another process meanwhile: open that one
      created = fd >= 0;
    }
    if (fd < 0) {
      error = lockPath + ": " + std::strerror(errno);
      return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
      error = lockPath + ": not a lock file of its own";
      ::close(fd);
      return -1;
    }
    if (created && ::fchmod(fd, kLockFileMode) != 0) {
      error = lockPath + ": " + std::strerror(errno);
      ::close(fd);
      return -1;
    }
    return fd;
  }
  error = lockPath + ": created and removed again while it was being opened";
  return -1;
}

int OpenSlot(const std::string& path, const LockSlot& slot, std::string& error) {
  const std::string lockPath = LockFilePath(path, slot, error);
  return lockPath.empty() ? -1 : OpenLockFile(lockPath, error);
}

} // namespace

FileSlotLock::~FileSlotLock() { ::close(static_cast<int>(handle_)); }

std::unique_ptr<FileSlotLock> FileSlotLock::TryLock(const std::string& path, const LockSlot& slot,
                                                    bool& heldElsewhere, std::string& error) {
  heldElsewhere = false;
  const int fd = OpenSlot(path, slot, error);
  if (fd < 0) return nullptr;
  struct flock range = FirstByte(F_WRLCK);
  if (::fcntl(fd, kSetLock, &range) != 0) {
    heldElsewhere = errno == EAGAIN || errno == EACCES;
    if (!heldElsewhere) error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileSlotLock>(new FileSlotLock(fd));
}

std::unique_ptr<FileSlotLock> FileSlotLock::Lock(const std::string& path, const LockSlot& slot, std::string& error) {
  const int fd = OpenSlot(path, slot, error);
  if (fd < 0) return nullptr;
  struct flock range = FirstByte(F_WRLCK);
  int result;
  do {
    result = ::fcntl(fd, kSetLockWaiting, &range);
  } while (result != 0 && errno == EINTR); // a held signal's handler interrupts the wait
  if (result != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<FileSlotLock>(new FileSlotLock(fd));
}

bool FileSlotLock::IsLocked(const std::string& path, const LockSlot& slot) {
  std::string error;
  const std::string lockPath = LockFilePath(path, slot, error);
  if (lockPath.empty()) return false;
  const int fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false; // no lock file: nobody has locked the slot yet
  struct flock range = FirstByte(F_WRLCK);
  const bool locked = ::fcntl(fd, kGetLock, &range) == 0 && range.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

} // namespace sys
