#pragma once
// A child process whose standard output and standard error the parent reads line by line, for
// a command that hands work to copies of itself. The child's standard input reads nothing.

#include <memory>
#include <string>
#include <vector>

namespace sys {

class WorkerProcess {
public:
  // Starts program with the arguments (not counting the program itself). Null, with error set,
  // when it cannot be started.
  static std::unique_ptr<WorkerProcess> Start(const std::string& program,
                                              const std::vector<std::string>& arguments, std::string& error);
  // Waits for the process if Wait has not.
  ~WorkerProcess();
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  // The next line of the child's standard output or error, without its line end; false at the
  // stream's end. Each stream may have its own reading thread.
  bool ReadOutputLine(std::string& line);
  bool ReadErrorLine(std::string& line);

  // Waits for the child to end: its exit code, or 128 + the signal that ended it.
  int Wait();

  // Passes the request that the active UpdateGuard holds on to the child (the same signal),
  // while the child runs. On Windows the console's own event already reaches every process
  // attached to it, so nothing is sent.
  void PassOnHeldRequest();

private:
  struct Platform;
  explicit WorkerProcess(std::unique_ptr<Platform> platform);
  std::unique_ptr<Platform> platform_;
};

} // namespace sys
