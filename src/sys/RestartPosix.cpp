#include "sys/Restart.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sys {
namespace {

// Asks the system manager for a reboot. systemctl talks to logind, which applies its own
// policy (polkit) and refuses when the user may not reboot the machine.
class SystemManagerRestarter final : public Restarter {
public:
  RestartResult RequestRestart() override {
    RestartResult result;
    const pid_t child = fork();
    if (child < 0) {
      result.refusal = std::string("Cannot start systemctl: ") + std::strerror(errno);
      return result;
    }
    if (child == 0) {
      execlp("systemctl", "systemctl", "reboot", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) {
        result.refusal = std::string("Lost the reboot request: ") + std::strerror(errno);
        return result;
      }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      result.accepted = true;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
      result.refusal = "The reboot request could not be made: systemctl was not found.";
    } else {
      result.refusal = "The system manager refused the reboot request (systemctl reboot failed).";
    }
    return result;
  }
};

} // namespace

Restarter& SystemRestarter() {
  static SystemManagerRestarter restarter;
  return restarter;
}

} // namespace sys
