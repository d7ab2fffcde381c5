#pragma once
// Files as the builder needs them: existence, identity, creating a new file exclusively and
// moving a finished file into place.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace sys {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// A file stream closed by its owner.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// What stands at a path.
enum class PathKind { Missing, RegularFile, Directory, Other };
PathKind KindOfPath(const std::string& path);

// True when path names an existing regular file.
bool FileExists(const std::string& path);

// The system's text for the error of the last failed file operation (errno, GetLastError).
std::string LastFileErrorText();

// Opens an existing regular file for binary reading. Anything else is refused before a byte is
// read (a FIFO or a device would block or never end), and so is a file longer than maxBytes.
// size receives the file's length. On failure the handle is empty and error holds a sentence
// that names the file and says what is wrong ("cannot open F: reason", "F is a folder, ...").
FileHandle OpenRegularFile(const std::string& path, std::uint64_t maxBytes, std::uint64_t& size,
                           std::string& error);

// Reads a whole regular file of at most maxBytes into text; false with error as above.
bool ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& text, std::string& error);

// Moves a stream to an absolute offset, 64-bit on every platform.
bool SeekTo(std::FILE* file, std::uint64_t offset);

// True when both paths name the same existing file (links and different spellings included).
bool SameFile(const std::string& a, const std::string& b);

// True when an output may be written at path: a regular file or nothing. Otherwise false, with
// the reason in error ("F is a folder, not a file", "F is not a regular file (a device, ...)").
bool MayWriteOutputAt(const std::string& path, std::string& error);

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

// A file written under a temporary name beside its final path and moved there only by Keep,
// so that nothing half-written ever stands under the final name. On Linux the file has no name
// at all until Keep (a killed process leaves nothing behind); elsewhere it is named
// "FINAL.partial-PID-RANDOM", a name no other build uses, removed by Discard, by the destructor
// of a file that was not kept and, once RemovePendingFilesOnInterrupt was called, on an
// interrupt. Failures return false with the system's reason in error.
class PendingFile {
public:
  // Creates the temporary file for finalPath, in finalPath's folder. Empty (error set) when the
  // folder does not allow it or finalPath is something other than a regular file.
  static std::optional<PendingFile> Create(const std::string& finalPath, bool executable, std::string& error);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // A file neither kept nor discarded is discarded.
  ~PendingFile();

  bool Write(const void* data, std::size_t length, std::string& error);
  // The open stream, for CopyBytes; nullptr once kept or discarded.
  std::FILE* Stream() const { return file_; }
  // Flushes the file to disk, closes it and moves it onto the final path, replacing an existing
  // regular file. On failure (error set) the file is discarded and the final path untouched.
  bool Keep(std::string& error);
  // Closes and removes the temporary file; the final path is untouched. False (error set) when
  // the temporary file could not be removed.
  bool Discard(std::string& error);

private:
  PendingFile() = default;
  // Creates the file beside finalPath_ under a name no other build uses; false (error set) on
  // failure.
  bool CreateNamed(bool executable, std::string& error);
  // Flushes the file to disk and, when it has no name yet, gives it its temporary name; on
  // failure the file is discarded (error set).
  bool SealOnDisk(std::string& error);
  // Flushes the folder's entries (the final name) to disk where the rename did not.
  void SyncFolder() const;
  // False with the system's reason for the last failed file operation in error.
  static bool Fail(std::string& error);
  // Keep's failures: the file discarded and false, with the system's reason in error
  // (FailAndDiscard) or the reason error already holds (Abandon).
  bool FailAndDiscard(std::string& error);
  bool Abandon();
  std::FILE* file_ = nullptr;
  std::string finalPath_;
  std::string temporaryPath_; // empty while the file has no name, and once kept or discarded
  std::string directory_;
};

// Makes SIGINT, SIGTERM and SIGHUP (Windows: console interrupts and close) remove the named
// temporary files of pending files before the process ends. For the command line's commands
// that write files; the window keeps its own handling.
void RemovePendingFilesOnInterrupt();

} // namespace sys
