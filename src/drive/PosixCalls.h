#pragma once
// Every call the Linux SG transport and its update lock make on a drive's nodes goes through
// this table, so that tests can replace any of them with a fake (setting errno as the system
// does) and still run the real transport and lock logic.

#include <utility>

namespace drive {

struct PosixCalls {
  int (*Open)(const char* path, int flags);
  int (*Close)(int fd);
  int (*Ioctl)(int fd, unsigned long request, void* argument);
  int (*Flock)(int fd, int operation);
};

// The real functions.
PosixCalls RealPosixCalls();
// The table in use (initially the real functions); tests assign entries.
PosixCalls& Posix();

// A descriptor from Posix().Open, closed through Posix().Close when its owner lets it go.
class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes the descriptor now (nothing when there is none).
  void Reset() {
    if (fd_ >= 0) Posix().Close(std::exchange(fd_, -1));
  }

private:
  int fd_ = -1;
};

} // namespace drive
