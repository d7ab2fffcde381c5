#include <windows.h>

#include "sys/FileLock.h"

namespace sys {
namespace {

// Shared with readers and writers: the lock is on one byte, not on the file. Reading access is
// enough for a range lock, so a read-only drive file locks as well as a writable one.
HANDLE OpenForLocking(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string OpenError(const std::string& path) {
  return path + ": cannot be opened for locking (error " + std::to_string(::GetLastError()) + ")";
}

// LockFile rather than LockFileEx: it is exclusive and never waits, and Windows 9x has it too.
bool LockByte(HANDLE file, std::uint64_t offset) {
  return ::LockFile(file, static_cast<DWORD>(offset), static_cast<DWORD>(offset >> 32), 1, 0) != FALSE;
}

} // namespace

FileSlotLock::~FileSlotLock() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

std::unique_ptr<FileSlotLock> FileSlotLock::TryLock(const std::string& path, const LockSlot& slot,
                                                    bool& heldElsewhere, std::string& error) {
  heldElsewhere = false;
  HANDLE file = OpenForLocking(path);
  if (file == INVALID_HANDLE_VALUE) {
    error = OpenError(path);
    return nullptr;
  }
  if (!LockByte(file, slot.Offset)) {
    const DWORD code = ::GetLastError();
    heldElsewhere = code == ERROR_LOCK_VIOLATION;
    if (!heldElsewhere) error = path + ": cannot be locked (error " + std::to_string(code) + ")";
    ::CloseHandle(file);
    return nullptr;
  }
  // Closing the handle releases its locks.
  return std::unique_ptr<FileSlotLock>(new FileSlotLock(reinterpret_cast<std::intptr_t>(file)));
}

std::unique_ptr<FileSlotLock> FileSlotLock::Lock(const std::string& path, const LockSlot& slot, std::string& error) {
  HANDLE file = OpenForLocking(path);
  if (file == INVALID_HANDLE_VALUE) {
    error = OpenError(path);
    return nullptr;
  }
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(slot.Offset);
  at.OffsetHigh = static_cast<DWORD>(slot.Offset >> 32);
  if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) == FALSE) {
    error = path + ": cannot be locked (error " + std::to_string(::GetLastError()) + ")";
    ::CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<FileSlotLock>(new FileSlotLock(reinterpret_cast<std::intptr_t>(file)));
}

bool FileSlotLock::IsLocked(const std::string& path, const LockSlot& slot) {
  HANDLE file = OpenForLocking(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool free = LockByte(file, slot.Offset);
  if (free) ::UnlockFile(file, static_cast<DWORD>(slot.Offset), static_cast<DWORD>(slot.Offset >> 32), 1, 0);
  ::CloseHandle(file);
  return !free;
}

} // namespace sys
