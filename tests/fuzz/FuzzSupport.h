#pragma once
// Shared by the fuzz harnesses: invariant checks that abort (libFuzzer and the replay test both
// report an abort as a finding), a reader that takes the fuzzer's bytes from the front, and a
// scratch folder for the readers that only take a file path.

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                 \
  do {                                                                        \
    if (!(condition)) fuzzsupport::Broken(#condition, __FILE__, __LINE__);   \
  } while (0)

namespace fuzzsupport {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] inline void Broken(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
  std::abort();
}

// Reads the fuzzer's bytes in order; past the end a number reads as 0 and a run as empty, so
// every input, however short, is a valid one.
class ByteReader {
public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Remaining() const { return size_ - at_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
  }
  std::uint32_t U24() {
    const std::uint32_t low = U16();
    return low | std::uint32_t{Byte()} << 16;
  }
  Bytes Take(std::size_t count) {
    count = std::min(count, Remaining());
    Bytes taken(data_ + at_, data_ + at_ + count);
    at_ += count;
    return taken;
  }
  // A text of up to maxLength bytes, its length given by the next byte.
  std::string Text(std::size_t maxLength) {
    const Bytes bytes = Take(Byte() % (maxLength + 1));
    return std::string(bytes.begin(), bytes.end());
  }
  Bytes Rest() { return Take(Remaining()); }

private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Inserts count copies of fill at position (clamped to the end): lets a small input stand for
// a file of hundreds of KiB, as a payload block's image region needs.
inline void InsertFill(Bytes& bytes, std::size_t position, std::size_t count, std::uint8_t fill = 0) {
  position = std::min(position, bytes.size());
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(position), count, fill);
}

// A folder of this process's own, removed when the process exits.
class ScratchDir {
public:
  static ScratchDir& Get() {
    static ScratchDir dir;
    return dir;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Folder() const { return path_; }

  std::string Write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
    const std::string path = Path(name);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) Broken("scratch file can be created", __FILE__, __LINE__);
    if (size != 0 && std::fwrite(data, 1, size, file) != size) Broken("scratch file written", __FILE__, __LINE__);
    std::fclose(file);
    return path;
  }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    return Write(name, bytes.data(), bytes.size());
  }

  // The names of the files now in the folder.
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.insert(entry.path().filename());
    return names;
  }

private:
  // TMPDIR when set; otherwise memory (/dev/shm) where there is one, since every input is
  // written to a file and a disk-backed /tmp makes that the slowest part of a run.
  static std::string BaseFolder() {
    const char* base = std::getenv("TMPDIR");
    if (base != nullptr && *base != '\0') return base;
    if (access("/dev/shm", W_OK | X_OK) == 0) return "/dev/shm";
    return "/tmp";
  }

  ScratchDir() {
    std::string pattern = BaseFolder() + "/odflash-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Broken("scratch folder can be created", __FILE__, __LINE__);
    path_ = pattern;
  }

  std::string path_;
};

// Where the first occurrence of the marker ends, found the plain way: the yardstick for the
// streaming search. Empty when there is none.
inline std::optional<std::size_t> ReferenceMarkerEnd(const Bytes& bytes, std::span<const std::uint8_t> marker) {
  const auto at = std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
  if (at == bytes.end() || marker.empty()) return std::nullopt;
  return static_cast<std::size_t>(at - bytes.begin()) + marker.size();
}

inline Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace fuzzsupport
