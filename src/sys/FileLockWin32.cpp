#include <windows.h>

#include "sys/FileLock.h"

namespace sys {
namespace {

// Shared with readers and writers: the lock is on one byte, not on the file.
HANDLE OpenForLocking(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// LockFile rather than LockFileEx: it is exclusive and never waits, and Windows 9x has it too.
bool LockByte(HANDLE file, std::uint64_t offset) {
  return ::LockFile(file, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), 1, 0) != FALSE;
}

} // namespace

FileByteLock::~FileByteLock() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

std::unique_ptr<FileByteLock> FileByteLock::TryLock(const std::string& path, std::uint64_t offset,
                                                    bool& heldElsewhere) {
  heldElsewhere = false;
  HANDLE file = OpenForLocking(path);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (!LockByte(file, offset)) {
    heldElsewhere = ::GetLastError() == ERROR_LOCK_VIOLATION;
    ::CloseHandle(file);
    return nullptr;
  }
  // Closing the handle releases its locks.
  return std::unique_ptr<FileByteLock>(new FileByteLock(reinterpret_cast<std::intptr_t>(file)));
}

std::unique_ptr<FileByteLock> FileByteLock::Lock(const std::string& path, std::uint64_t offset) {
  HANDLE file = OpenForLocking(path);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) == FALSE) {
    ::CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<FileByteLock>(new FileByteLock(reinterpret_cast<std::intptr_t>(file)));
}

bool FileByteLock::IsLocked(const std::string& path, std::uint64_t offset) {
  HANDLE file = OpenForLocking(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool free = LockByte(file, offset);
  if (free) ::UnlockFile(file, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), 1, 0);
  ::CloseHandle(file);
  return !free;
}

} // namespace sys
