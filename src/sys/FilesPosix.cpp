#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sys/Files.h"
#include "sys/FilesInternal.h"

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

PathKind KindOfPath(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return PathKind::Missing;
  if (S_ISREG(status.st_mode)) return PathKind::RegularFile;
  return S_ISDIR(status.st_mode) ? PathKind::Directory : PathKind::Other;
}

bool FileExists(const std::string& path) { return KindOfPath(path) == PathKind::RegularFile; }

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

std::string LastFileErrorText() { return std::strerror(errno); }

FileHandle OpenRegularFile(const std::string& path, std::uint64_t maxBytes, std::uint64_t& size,
                           std::string& error) {
  // Non-blocking, so that opening a FIFO returns at once and can be refused.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + LastFileErrorText();
    return nullptr;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = DescribeNonRegular(path, S_ISDIR(status.st_mode) ? PathKind::Directory : PathKind::Other);
    close(fd);
    return nullptr;
  }
  if (static_cast<std::uint64_t>(status.st_size) > maxBytes) {
    error = DescribeTooLarge(path, static_cast<std::uint64_t>(status.st_size), maxBytes);
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + LastFileErrorText();
    close(fd);
    return nullptr;
  }
  size = static_cast<std::uint64_t>(status.st_size);
  return FileHandle(file);
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

unsigned ProcessId() { return static_cast<unsigned>(getpid()); }

void RemoveFileAtInterrupt(const char* path) { unlink(path); }

namespace {

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// An O_TMPFILE file is named through /proc when it is committed.
std::string ProcPathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

extern "C" void RemovePendingAndDie(int signalNumber) {
  RemoveRememberedPendingFiles();
  std::signal(signalNumber, SIG_DFL);
  std::raise(signalNumber);
}

} // namespace

std::optional<PendingFile> PendingFile::Create(const std::string& finalPath, bool executable, std::string& error) {
  if (!MayWriteOutputAt(finalPath, error)) return std::nullopt;
  PendingFile pending;
  pending.finalPath_ = finalPath;
  pending.directory_ = DirectoryOf(finalPath);
  const mode_t mode = executable ? 0755 : 0644;
  // A nameless file: whatever ends the process, nothing is left behind.
  if (access("/proc/self/fd", X_OK) == 0) {
    const int fd = open(pending.directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
      pending.file_ = fdopen(fd, "wb");
      if (pending.file_ == nullptr) close(fd);
      if (pending.file_ != nullptr) return pending;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      Fail(error);
      return std::nullopt;
    }
  }
  // File systems without nameless files.
  if (!pending.CreateNamed(executable, error)) return std::nullopt;
  return pending;
}

bool PendingFile::SealOnDisk(std::string& error) {
  if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) return FailAndDiscard(error);
  if (!temporaryPath_.empty()) return true;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = UniqueTemporaryName(finalPath_);
    RememberPendingPath(name);
    if (linkat(AT_FDCWD, ProcPathOf(fileno(file_)).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temporaryPath_ = name;
      return true;
    }
    const int reason = errno;
    ForgetPendingPath(name);
    errno = reason;
    if (reason != EEXIST) break;
  }
  return FailAndDiscard(error);
}

void PendingFile::SyncFolder() const {
  const int directory = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    fsync(directory);
    close(directory);
  }
}

void RemovePendingFilesOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = RemovePendingAndDie;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
}

} // namespace sys
