#include "sys/UpdateGuard.h"

#include <windows.h>

#include "sys/UpdateGuardState.h"

namespace sys {
namespace {

// Signalled while no guard lives. Never closed: a console handler may still be waiting on it.
HANDLE DriveSafeEvent() {
  static const HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  return event;
}

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI HoldConsoleEvent(DWORD event) {
  if (guard::Hold(static_cast<int>(event) + 1)) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), guard::kFinishingNotice, sizeof guard::kFinishingNotice - 1,
              &written, nullptr);
  }
  // After a closed console, a logoff or a shutdown the system ends the process as soon as this
  // returns, so it returns only once the drive is safe.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) WaitForSingleObject(DriveSafeEvent(), INFINITE);
  return TRUE;
}

} // namespace

struct UpdateGuard::Platform {};

UpdateGuard::UpdateGuard(const std::string&) : platform_(std::make_unique<Platform>()) {
  ResetEvent(DriveSafeEvent());
  guard::Activate();
  SetConsoleCtrlHandler(HoldConsoleEvent, TRUE);
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
}

UpdateGuard::~UpdateGuard() {
  SetThreadExecutionState(ES_CONTINUOUS);
  SetConsoleCtrlHandler(HoldConsoleEvent, FALSE);
  guard::Deactivate();
  SetEvent(DriveSafeEvent());
}

// Windows has no stop requests: every console event is held by HoldConsoleEvent.
void StartThreadsWithoutStopRequests(const std::function<void()>& start) { start(); }

int HeldRequestExitCode() {
  return guard::HeldRequest() == 0 ? 0 : static_cast<int>(STATUS_CONTROL_C_EXIT);
}

} // namespace sys
