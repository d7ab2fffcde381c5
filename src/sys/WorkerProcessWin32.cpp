#include <windows.h>

#include "sys/LineSplitter.h"
#include "sys/WorkerProcess.h"

namespace sys {
namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// Reads one pipe a line at a time.
class LineReader {
public:
  explicit LineReader(HANDLE pipe) : pipe_(pipe) {}
  ~LineReader() { ::CloseHandle(pipe_); }
  bool Next(std::string& line) {
    return lines_.Next(line, [this](char* buffer, std::size_t size) -> std::size_t {
      DWORD got = 0;
      if (!::ReadFile(pipe_, buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
      return got;
    });
  }

private:
  HANDLE pipe_;
  LineSplitter lines_;
};

std::string SystemError(const std::string& what) { return what + ": error " + std::to_string(::GetLastError()); }

} // namespace

struct WorkerProcess::Platform {
  PROCESS_INFORMATION process{};
  bool waited = false;
  int exitCode = 0;
  std::unique_ptr<LineReader> output, errors;
};

WorkerProcess::WorkerProcess(std::unique_ptr<Platform> platform) : platform_(std::move(platform)) {}

WorkerProcess::~WorkerProcess() {
  Wait();
  ::CloseHandle(platform_->process.hProcess);
  ::CloseHandle(platform_->process.hThread);
}

std::unique_ptr<WorkerProcess> WorkerProcess::Start(const std::string& program,
                                                    const std::vector<std::string>& arguments, std::string& error) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outputRead, outputWrite, errorRead, errorWrite;
  if (!::CreatePipe(&outputRead, &outputWrite, &inherited, 0)) {
    error = SystemError("cannot make a pipe");
    return nullptr;
  }
  if (!::CreatePipe(&errorRead, &errorWrite, &inherited, 0)) {
    error = SystemError("cannot make a pipe");
    ::CloseHandle(outputRead);
    ::CloseHandle(outputWrite);
    return nullptr;
  }
  // Only the child's ends are inherited; the parent's ends stay its own.
  ::SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errorRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                 OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = outputWrite;
  startup.hStdError = errorWrite;
  std::string commandLine = Quoted(program);
  for (const std::string& argument : arguments) {
    commandLine += ' ';
    commandLine += Quoted(argument);
  }
  auto platform = std::make_unique<Platform>();
  const BOOL started = ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &platform->process);
  if (!started) error = SystemError("cannot start " + program);
  // The child holds its own copies; the streams end when the child closes them.
  ::CloseHandle(outputWrite);
  ::CloseHandle(errorWrite);
  if (nothing != INVALID_HANDLE_VALUE) ::CloseHandle(nothing);
  platform->output = std::make_unique<LineReader>(outputRead);
  platform->errors = std::make_unique<LineReader>(errorRead);
  if (!started) return nullptr;
  return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::move(platform)));
}

bool WorkerProcess::ReadOutputLine(std::string& line) { return platform_->output->Next(line); }

bool WorkerProcess::ReadErrorLine(std::string& line) { return platform_->errors->Next(line); }

int WorkerProcess::Wait() {
  if (platform_->waited) return platform_->exitCode;
  ::WaitForSingleObject(platform_->process.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(platform_->process.hProcess, &code);
  platform_->waited = true;
  platform_->exitCode = static_cast<int>(code);
  return platform_->exitCode;
}

void WorkerProcess::PassOnHeldRequest() {}

} // namespace sys
