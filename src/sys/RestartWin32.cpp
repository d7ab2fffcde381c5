#include "sys/Restart.h"

#include <windows.h>

#include <cstdio>

#include "sys/SystemErrorWin32.h"

namespace sys {
namespace {

std::string FailureText(const char* what, DWORD error) {
  const std::optional<std::string> text = SystemErrorText(error);
  char message[400];
  std::snprintf(message, sizeof message, "%s failed (error %lu)%s%s", what,
                static_cast<unsigned long>(error), text ? ": " : ".", text ? text->c_str() : "");
  return message;
}

// A process may only shut the system down once it has enabled SE_SHUTDOWN_NAME in its token.
bool EnableShutdownPrivilege(std::string& refusal) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    refusal = FailureText("OpenProcessToken", GetLastError());
    return false;
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool ok = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  if (ok) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // AdjustTokenPrivileges succeeds even when the privilege was not granted.
    const DWORD error = GetLastError();
    ok = error == ERROR_SUCCESS;
    if (!ok) refusal = FailureText("AdjustTokenPrivileges", error);
  } else {
    refusal = FailureText("LookupPrivilegeValue", GetLastError());
  }
  CloseHandle(token);
  return ok;
}

class Win32Restarter final : public Restarter {
public:
  RestartResult RequestRestart() override {
    RestartResult result;
    // Systems without privileges (the 9x family) restart without it, so a failed privilege
    // step is reported only when the restart itself is refused too.
    std::string privilegeRefusal;
    EnableShutdownPrivilege(privilegeRefusal);
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) {
      result.refusal = FailureText("ExitWindowsEx", GetLastError());
      if (!privilegeRefusal.empty()) result.refusal = privilegeRefusal + "; " + result.refusal;
      return result;
    }
    result.accepted = true;
    return result;
  }
};

} // namespace

Restarter& SystemRestarter() {
  static Win32Restarter restarter;
  return restarter;
}

} // namespace sys
