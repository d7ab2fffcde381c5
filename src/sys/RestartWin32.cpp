#include "sys/Restart.h"

#include <windows.h>

#include <cstdio>

namespace sys {
namespace {

std::string SystemErrorText(const char* what, DWORD error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  char message[400];
  std::snprintf(message, sizeof message, "%s failed (error %lu)%s%s", what,
                static_cast<unsigned long>(error), length ? ": " : ".", length ? text : "");
  return message;
}

// A process may only shut the system down once it has enabled SE_SHUTDOWN_NAME in its token.
bool EnableShutdownPrivilege(std::string& refusal) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    refusal = SystemErrorText("OpenProcessToken", GetLastError());
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
    if (!ok) refusal = SystemErrorText("AdjustTokenPrivileges", error);
  } else {
    refusal = SystemErrorText("LookupPrivilegeValue", GetLastError());
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
      result.refusal = SystemErrorText("ExitWindowsEx", GetLastError());
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
