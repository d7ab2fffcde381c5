#include "sys/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "sys/FilesInternal.h"

namespace sys {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "\\/:";
constexpr char kSeparator = '\\';
#else
constexpr const char* kSeparators = "/";
constexpr char kSeparator = '/';
#endif

} // namespace

// The portable copy loop; FilesPosix.cpp tries the kernel's copy first.
std::uint64_t CopyBytesBuffered(std::FILE* from, std::FILE* to, std::uint64_t length) {
  std::vector<char> buffer(64 * 1024);
  std::uint64_t copied = 0;
  while (copied < length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - copied));
    const std::size_t got = std::fread(buffer.data(), 1, want, from);
    if (got == 0 || std::fwrite(buffer.data(), 1, got, to) != got) break;
    copied += got;
  }
  return copied;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& text, std::string& error) {
  std::uint64_t size = 0;
  const FileHandle file = OpenRegularFile(path, maxBytes, size, error);
  if (!file) return false;
  text.resize(static_cast<std::size_t>(size));
  // A file that shrank meanwhile gives what it still has.
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  if (std::ferror(file.get())) {
    error = "cannot read " + path + ": " + LastFileErrorText();
    return false;
  }
  return true;
}

std::string DescribeTooLarge(const std::string& path, std::uint64_t size, std::uint64_t maxBytes) {
  return path + " is " + std::to_string(size) + " bytes, more than the " + std::to_string(maxBytes) +
         " such a file may have";
}

std::string DescribeNonRegular(const std::string& path, PathKind kind) {
  return kind == PathKind::Directory ? path + " is a folder, not a file"
                                     : path + " is not a regular file (a device, pipe or socket)";
}

bool MayWriteOutputAt(const std::string& path, std::string& error) {
  const PathKind kind = KindOfPath(path);
  if (kind == PathKind::Directory || kind == PathKind::Other) {
    error = DescribeNonRegular(path, kind);
    return false;
  }
  return true;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t at = path.find_last_of(kSeparators);
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  const char last = directory.back();
  if (std::string(kSeparators).find(last) != std::string::npos) return directory + name;
  return directory + kSeparator + name;
}

} // namespace sys

namespace sys {

PendingFile::PendingFile(PendingFile&& other) noexcept { *this = std::move(other); }

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    std::string ignored;
    Discard(ignored);
    file_ = std::exchange(other.file_, nullptr);
    finalPath_ = std::exchange(other.finalPath_, {});
    temporaryPath_ = std::exchange(other.temporaryPath_, {});
    directory_ = std::exchange(other.directory_, {});
  }
  return *this;
}

PendingFile::~PendingFile() {
  std::string ignored; // nobody is left to tell
  Discard(ignored);
}

bool PendingFile::Write(const void* data, std::size_t length, std::string& error) {
  if (length == 0) return true;
  if (file_ != nullptr && std::fwrite(data, 1, length, file_) == length) return true;
  return Fail(error);
}

bool PendingFile::Discard(std::string& error) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (temporaryPath_.empty()) return true;
  const bool removed = RemoveFile(temporaryPath_) || KindOfPath(temporaryPath_) == PathKind::Missing;
  if (!removed) Fail(error);
  ForgetPendingPath(temporaryPath_);
  temporaryPath_.clear();
  return removed;
}

bool PendingFile::Keep(std::string& error) {
  if (file_ == nullptr) {
    error = "the file was already kept or discarded";
    return false;
  }
  // On disk before it takes the final name: a power loss must not leave an empty flasher.
  if (!SealOnDisk(error)) return false;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) return FailAndDiscard(error);
  if (!MayWriteOutputAt(finalPath_, error)) return Abandon();
  if (!RenameOnto(temporaryPath_, finalPath_)) return FailAndDiscard(error);
  ForgetPendingPath(temporaryPath_);
  temporaryPath_.clear();
  // The new name itself must reach the disk too.
  SyncFolder();
  return true;
}

bool PendingFile::CreateNamed(bool executable, std::string& error) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    temporaryPath_ = UniqueTemporaryName(finalPath_);
    // Remembered before the file is made, so that an interrupt right after it removes it.
    RememberPendingPath(temporaryPath_);
    file_ = CreateNewFile(temporaryPath_, executable);
    if (file_ != nullptr) return true;
    const bool taken = errno == EEXIST;
    error = LastFileErrorText();
    ForgetPendingPath(temporaryPath_);
    temporaryPath_.clear();
    if (!taken) return false;
  }
  return false;
}

bool PendingFile::Fail(std::string& error) {
  error = LastFileErrorText();
  return false;
}

bool PendingFile::FailAndDiscard(std::string& error) {
  Fail(error);
  return Abandon();
}

bool PendingFile::Abandon() {
  std::string ignored; // the failure that led here is the one to report
  Discard(ignored);
  return false;
}

namespace {

// The named temporary files of live pending files, for the interrupt handler: fixed slots,
// written before the name exists on disk and read by a handler that may not allocate.
constexpr std::size_t kPendingSlots = 8;
constexpr std::size_t kPendingPathMax = 1024;
char pendingPaths[kPendingSlots][kPendingPathMax];
std::atomic<bool> pendingUsed[kPendingSlots];

} // namespace

void RememberPendingPath(const std::string& path) {
  if (path.size() >= kPendingPathMax) return;
  for (std::size_t i = 0; i < kPendingSlots; ++i) {
    bool expected = false;
    if (!pendingUsed[i].compare_exchange_strong(expected, true)) continue;
    std::memcpy(pendingPaths[i], path.c_str(), path.size() + 1);
    return;
  }
}

void ForgetPendingPath(const std::string& path) {
  if (path.empty()) return;
  for (std::size_t i = 0; i < kPendingSlots; ++i)
    if (pendingUsed[i] && path == pendingPaths[i]) pendingUsed[i] = false;
}

void RemoveRememberedPendingFiles() {
  for (std::size_t i = 0; i < kPendingSlots; ++i)
    if (pendingUsed[i]) RemoveFileAtInterrupt(pendingPaths[i]);
}

std::string UniqueTemporaryName(const std::string& finalPath) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto clock = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, ".partial-%u-%08x%04x", ProcessId(),
                static_cast<unsigned>(random() ^ clock), (counter++ & 0xFFFFu));
  return finalPath + suffix;
}

} // namespace sys
