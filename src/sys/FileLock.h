#pragma once
// Exclusive locks that belong to a file, one per slot (a drive, a bus), seen by every process
// that locks or tests the same slot of the same file and by other locks of this process. They
// need only read access to the file: on Windows a slot is one byte of the file itself (a range
// lock works on a handle opened for reading; the byte may lie past the end of the file); on
// POSIX, where a write lock needs a descriptor open for writing, it is a lock file of its own in
// a directory every user may write, named after the file's device, inode and the slot, so that
// a file on a read-only mount or owned by another user still excludes other processes. Released
// when the lock is destroyed, and by the system when the process ends.

#include <cstdint>
#include <memory>
#include <string>

namespace sys {

// One slot of a file's locks: Offset is its byte where the lock is a range of the file, Name
// its part of the lock file's name where it is a file of its own ("drive3").
struct LockSlot {
  std::uint64_t Offset = 0;
  std::string Name;
};

class FileSlotLock {
public:
  ~FileSlotLock();
  FileSlotLock(const FileSlotLock&) = delete;
  FileSlotLock& operator=(const FileSlotLock&) = delete;

  // Takes the slot without waiting. Null when another holder has it (heldElsewhere true), or
  // when the lock cannot be made at all (heldElsewhere false, error says why: the file is
  // missing, the lock file cannot be created or opened). Never a lock only this process sees.
  static std::unique_ptr<FileSlotLock> TryLock(const std::string& path, const LockSlot& slot,
                                               bool& heldElsewhere, std::string& error);
  // Takes the slot, waiting while another holder has it. Null, with error set, when the lock
  // cannot be made.
  static std::unique_ptr<FileSlotLock> Lock(const std::string& path, const LockSlot& slot, std::string& error);
  // True when some holder has the slot locked; takes nothing.
  static bool IsLocked(const std::string& path, const LockSlot& slot);

private:
  explicit FileSlotLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_; // file descriptor or HANDLE
};

} // namespace sys
