#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "sys/LineSplitter.h"
#include "sys/UpdateGuardState.h"
#include "sys/WorkerProcess.h"

extern char** environ;

namespace sys {
namespace {

// Reads one pipe a line at a time.
class LineReader {
public:
  explicit LineReader(int fd) : fd_(fd) {}
  ~LineReader() { ::close(fd_); }
  bool Next(std::string& line) {
    return lines_.Next(line, [this](char* buffer, std::size_t size) -> std::size_t {
      for (;;) {
        const ssize_t got = ::read(fd_, buffer, size);
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? static_cast<std::size_t>(got) : 0;
      }
    });
  }

private:
  int fd_;
  LineSplitter lines_;
};

} // namespace

struct WorkerProcess::Platform {
  pid_t pid = -1;
  bool waited = false;
  int exitCode = 0;
  std::unique_ptr<LineReader> output, errors;
};

WorkerProcess::WorkerProcess(std::unique_ptr<Platform> platform) : platform_(std::move(platform)) {}

WorkerProcess::~WorkerProcess() { Wait(); }

std::unique_ptr<WorkerProcess> WorkerProcess::Start(const std::string& program,
                                                    const std::vector<std::string>& arguments, std::string& error) {
  // A child that outlives a killed parent must not die of its closed pipe in the middle of an
  // update: it inherits the ignored SIGPIPE and sees EPIPE instead.
  std::signal(SIGPIPE, SIG_IGN);
  int output[2], errors[2];
  if (::pipe2(output, O_CLOEXEC) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return nullptr;
  }
  if (::pipe2(errors, O_CLOEXEC) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    ::close(output[0]);
    ::close(output[1]);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  auto platform = std::make_unique<Platform>();
  const int spawned = ::posix_spawn(&platform->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  ::close(errors[1]);
  platform->output = std::make_unique<LineReader>(output[0]);
  platform->errors = std::make_unique<LineReader>(errors[0]);
  if (spawned != 0) {
    error = "cannot start " + program + ": " + std::strerror(spawned);
    return nullptr;
  }
  return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::move(platform)));
}

bool WorkerProcess::ReadOutputLine(std::string& line) { return platform_->output->Next(line); }

bool WorkerProcess::ReadErrorLine(std::string& line) { return platform_->errors->Next(line); }

int WorkerProcess::Wait() {
  if (platform_->waited) return platform_->exitCode;
  int status = 0;
  pid_t ended;
  do {
    ended = ::waitpid(platform_->pid, &status, 0);
  } while (ended < 0 && errno == EINTR); // a held signal's handler interrupts the wait
  platform_->waited = true;
  if (ended < 0) platform_->exitCode = 1;
  else if (WIFSIGNALED(status)) platform_->exitCode = 128 + WTERMSIG(status);
  else platform_->exitCode = WEXITSTATUS(status);
  return platform_->exitCode;
}

void WorkerProcess::PassOnHeldRequest() {
  const int signalNumber = guard::HeldRequest();
  if (signalNumber != 0 && !platform_->waited) ::kill(platform_->pid, signalNumber);
}

} // namespace sys
