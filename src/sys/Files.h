#pragma once
// Files as the builder needs them: existence, identity, creating a new file exclusively and
// moving a finished file into place.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace sys {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A file stream closed by its owner.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for binary reading; empty on failure.
inline FileHandle OpenForReading(const std::string& path) {
  return FileHandle(std::fopen(path.c_str(), "rb"));
}

// True when path names an existing regular file.
bool FileExists(const std::string& path);

// True when both paths name the same existing file (links and different spellings included).
bool SameFile(const std::string& a, const std::string& b);

// Creates a file that must not exist yet, open for binary writing. An executable file gets
// mode 0755 less the umask where the system has modes. nullptr on failure.
std::FILE* CreateNewFile(const std::string& path, bool executable);

// Moves from onto to, replacing an existing file in one step. False on failure.
bool RenameOnto(const std::string& from, const std::string& to);

// Copies length bytes from the current position of from to the current position of to, and
// leaves both positioned after them. On Linux the kernel copies (as cp does), elsewhere a
// buffered loop. Returns the number of bytes copied: less than length at the end of from or
// on a write error.
std::uint64_t CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t length);

// Removes a file; false when it could not be removed.
bool RemoveFile(const std::string& path);

// The name part of a path (after the last '/' or, on Windows, '\\' or ':').
std::string FileNameOf(const std::string& path);

// directory + separator + name (name alone when directory is empty).
std::string JoinPath(const std::string& directory, const std::string& name);

} // namespace sys

namespace sys {

// A file written under a temporary name beside its final path and moved into place only by
// Commit, so that nothing half-written ever stands under the final name. Removed unless
// committed.
class PendingFile {
public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  // Creates the temporary file for finalPath; false when the folder does not allow it.
  bool Create(const std::string& finalPath, bool executable);
  bool Write(const void* data, std::size_t length);
  // The open stream, for CopyBytes; nullptr before Create and after Commit.
  std::FILE* Stream() const { return file_; }
  // Closes the file and moves it onto finalPath, replacing an existing file; false on failure.
  bool Commit(const std::string& finalPath);

private:
  std::FILE* file_ = nullptr;
  std::string temporaryPath_;
  bool committed_ = false;
};

} // namespace sys
