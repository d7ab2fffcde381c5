#include "sys/Files.h"

#include <algorithm>
#include <cstdio>
#include <vector>

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

bool PendingFile::Create(const std::string& finalPath, bool executable) {
  for (int attempt = 0; attempt < 100 && file_ == nullptr; ++attempt) {
    temporaryPath_ = finalPath + ".partial" + (attempt ? std::to_string(attempt) : std::string());
    file_ = CreateNewFile(temporaryPath_, executable);
  }
  return file_ != nullptr;
}

bool PendingFile::Write(const void* data, std::size_t length) {
  return length == 0 || (file_ != nullptr && std::fwrite(data, 1, length, file_) == length);
}

bool PendingFile::Commit(const std::string& finalPath) {
  if (file_ == nullptr) return false;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  committed_ = closed && RenameOnto(temporaryPath_, finalPath);
  return committed_;
}

PendingFile::~PendingFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_ && !temporaryPath_.empty()) RemoveFile(temporaryPath_);
}

} // namespace sys
