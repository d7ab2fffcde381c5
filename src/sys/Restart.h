#pragma once
// Restarting the computer after a firmware update. The platform may refuse (no privilege, no
// system manager, a policy): the refusal comes back as text so that it can be shown.

#include <string>

namespace sys {

struct RestartResult {
  bool accepted = false;
  std::string refusal; // why the system refused, when it did
};

class Restarter {
public:
  virtual ~Restarter() = default;
  virtual RestartResult RequestRestart() = 0;
};

// Windows: ExitWindowsEx (reboot, forced) after enabling the shutdown privilege.
// Elsewhere: a reboot request to the system manager (systemctl reboot).
Restarter& SystemRestarter();

} // namespace sys
