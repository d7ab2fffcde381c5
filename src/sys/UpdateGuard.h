#pragma once
// What keeps a drive safe while its firmware is being updated, for every face alike. While an
// UpdateGuard lives, the requests that would end the process (Ctrl+C, a closed terminal or
// console, a plain kill, a logout, timers, user and real-time signals) are caught and remembered
// instead, a lost output (SIGPIPE, SIGXFSZ) is ignored, a stop request (Ctrl+Z) waits until the
// guard ends, and the machine is kept awake and from shutting down. A run has two phases: until
// the first command that changes the drive's memory a request stops it cleanly between commands
// (the flash procedure polls StopRequested); from EnterCriticalPhase on, a request is only
// remembered and the terminal is told once that the update is finishing safely. The program ends with HeldRequestExitCode when
// the run is over. One guard at a time.

#include <functional>
#include <memory>
#include <string>

namespace sys {

class UpdateGuard {
public:
  // who names the program in the system's listing of inhibitor locks. Created and destroyed
  // on one thread.
  explicit UpdateGuard(const std::string& who);
  ~UpdateGuard();
  UpdateGuard(const UpdateGuard&) = delete;
  UpdateGuard& operator=(const UpdateGuard&) = delete;

private:
  struct Platform;
  std::unique_ptr<Platform> platform_;
};

// Runs start (which starts threads, as a toolkit does) so that the threads it starts never take
// a stop request themselves: a stop then waits for the thread that holds the guard. Runs start
// as it is on Windows.
void StartThreadsWithoutStopRequests(const std::function<void()>& start);

// Without an active guard (unit tests, a program that holds none) there is never a request,
// and entering the critical phase does nothing.

// True when a request came while the guard is active.
bool StopRequested();
// The run is about to change the drive's memory: from now on a request is only remembered.
// False, and nothing changes, when a request came first: the caller stops without writing.
bool EnterCriticalPhase();
// The exit code for the held request, 0 when there is none: 128 + signal number (SIGINT: 130);
// on Windows STATUS_CONTROL_C_EXIT, the code of a console interrupt.
int HeldRequestExitCode();

} // namespace sys
