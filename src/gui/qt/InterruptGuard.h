#pragma once
// Holds off the termination signals a terminal or a session sends (Ctrl+C, a closed terminal,
// a plain kill) while a drive is being flashed: a process ended half-way through would leave
// the drive without working firmware. A signal that arrives meanwhile is remembered, so the
// program can end once the drive is safe.

#include <csignal>

namespace gui {

class InterruptGuard {
public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // The first signal held off by the latest guard, 0 when none.
  static int HeldSignal();

private:
  static constexpr int kHeldSignalCount = 4; // SIGINT, SIGTERM, SIGHUP, SIGQUIT
  struct sigaction previous_[kHeldSignalCount];
};

} // namespace gui
