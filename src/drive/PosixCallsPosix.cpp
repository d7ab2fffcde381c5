#include "drive/PosixCalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace drive {

PosixCalls RealPosixCalls() {
  PosixCalls calls;
  calls.Open = [](const char* path, int flags) { return ::open(path, flags); };
  calls.Close = ::close;
  calls.Ioctl = [](int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); };
  calls.Flock = ::flock;
  return calls;
}

PosixCalls& Posix() {
  static PosixCalls calls = RealPosixCalls();
  return calls;
}

} // namespace drive
