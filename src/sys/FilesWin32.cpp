#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "sys/Files.h"
#include "sys/FilesInternal.h"
#include "sys/SystemErrorWin32.h"

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
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) return true;
  // Windows 95/98/ME have no MoveFileEx: replace in two steps there.
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  DeleteFileA(to.c_str());
  return MoveFileA(from.c_str(), to.c_str()) != 0;
}

// Paths are ANSI code page strings here (see DirectoryWin32.cpp), so no std::filesystem.
PathKind KindOfPath(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
  return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathKind::Other : PathKind::RegularFile;
}

bool FileExists(const std::string& path) { return KindOfPath(path) == PathKind::RegularFile; }

namespace {
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return ok;
}

// The system's text as a phrase: without its line break and full stop.
std::string SystemText(DWORD code) {
  std::string text = SystemErrorText(code).value_or("");
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return !text.empty() ? text : "system error " + std::to_string(code);
}
} // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

std::string LastFileErrorText() { return SystemText(GetLastError()); }

FileHandle OpenRegularFile(const std::string& path, std::uint64_t maxBytes, std::uint64_t& size,
                           std::string& error) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    const PathKind kind = KindOfPath(path);
    error = kind == PathKind::Directory ? DescribeNonRegular(path, kind) : "cannot open " + path + ": " + SystemText(code);
    return nullptr;
  }
  // Consoles, pipes and devices ("CON", "NUL", "\\.\pipe\...") are not files to read.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    error = DescribeNonRegular(path, PathKind::Other);
    return nullptr;
  }
  DWORD high = 0;
  const DWORD low = GetFileSize(handle, &high); // 64-bit through the high part, on every Windows
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    error = "cannot read " + path + ": " + LastFileErrorText();
    CloseHandle(handle);
    return nullptr;
  }
  const std::uint64_t length = (std::uint64_t{high} << 32) | low;
  if (length > maxBytes) {
    error = DescribeTooLarge(path, length, maxBytes);
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  std::FILE* file = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
  if (file == nullptr) {
    error = "cannot open " + path;
    if (fd >= 0) _close(fd);
    else CloseHandle(handle);
    return nullptr;
  }
  size = length;
  return FileHandle(file);
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

unsigned ProcessId() { return static_cast<unsigned>(GetCurrentProcessId()); }

void RemoveFileAtInterrupt(const char* path) { DeleteFileA(path); }

namespace {
BOOL WINAPI RemovePendingOnConsoleEvent(DWORD) {
  RemoveRememberedPendingFiles();
  return FALSE; // the next handler (the system's) ends the process
}
} // namespace

std::optional<PendingFile> PendingFile::Create(const std::string& finalPath, bool executable, std::string& error) {
  if (!MayWriteOutputAt(finalPath, error)) return std::nullopt;
  PendingFile pending;
  pending.finalPath_ = finalPath;
  if (!pending.CreateNamed(executable, error)) return std::nullopt;
  return pending;
}

bool PendingFile::SealOnDisk(std::string& error) {
  if (std::fflush(file_) != 0 ||
      FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)))) == 0)
    return FailAndDiscard(error);
  return true;
}

// RenameOnto moves with MOVEFILE_WRITE_THROUGH: the new name is on disk when it returns.
void PendingFile::SyncFolder() const {}

void RemovePendingFilesOnInterrupt() { SetConsoleCtrlHandler(RemovePendingOnConsoleEvent, TRUE); }

} // namespace sys
