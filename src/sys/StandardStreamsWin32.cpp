#include "sys/StandardStreams.h"

#include <fcntl.h>
#include <io.h>

namespace sys {

void OpenClosedStandardStreams() {
  // The C runtime marks a standard descriptor without a handle with -1 or -2; give it the null
  // device so that _open never hands its number to a file.
  for (int fd = 0; fd <= 2; ++fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle != -1 && handle != -2) continue;
    const int opened = _open("NUL", fd == 0 ? (_O_RDONLY | _O_BINARY) : (_O_WRONLY | _O_BINARY));
    if (opened >= 0 && opened != fd) {
      _dup2(opened, fd);
      _close(opened);
    }
  }
}

// Windows has no signal for a closed pipe or a file size limit: the write only fails.
void IgnoreOutputSignals() {}

// The console's own output is not relayed: the program writes to it directly.
void StartOutputRelay() {}
bool OutputRelayActive() { return false; }
void StopOutputRelay(StreamDelivery& standardOutput, StreamDelivery& standardError) {
  standardOutput = standardError = StreamDelivery{};
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

} // namespace sys
