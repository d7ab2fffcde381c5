#pragma once
// An exclusive lock on one byte of a file, seen by every process that locks or tests the same
// byte and by other locks of this process. The byte may lie past the end of the file. Released
// when the lock is destroyed, and by the system when the process ends.

#include <cstdint>
#include <memory>
#include <string>

namespace sys {

class FileByteLock {
public:
  ~FileByteLock();
  FileByteLock(const FileByteLock&) = delete;
  FileByteLock& operator=(const FileByteLock&) = delete;

  // Takes the byte at offset without waiting. Null when another holder has it (heldElsewhere
  // true), or when the file cannot be opened for locking (heldElsewhere false: on POSIX an
  // exclusive lock needs a file open for writing).
  static std::unique_ptr<FileByteLock> TryLock(const std::string& path, std::uint64_t offset,
                                               bool& heldElsewhere);
  // Takes the byte, waiting while another holder has it. Null when the file cannot be opened
  // for locking.
  static std::unique_ptr<FileByteLock> Lock(const std::string& path, std::uint64_t offset);
  // True when some holder has the byte locked; takes nothing.
  static bool IsLocked(const std::string& path, std::uint64_t offset);

private:
  explicit FileByteLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_; // file descriptor or HANDLE
};

} // namespace sys
