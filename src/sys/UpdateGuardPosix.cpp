#include "sys/UpdateGuard.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <iterator>

#ifdef ODFLASH_HAVE_SDBUS
#include <systemd/sd-bus.h>
#endif

#include "sys/UpdateGuardState.h"

namespace sys {
namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Set once per guard before the handlers are installed; read by them.
std::atomic<bool> noticeOnNewLine{false};

void WriteToStandardError(const char* text, std::size_t length) {
  if (::write(STDERR_FILENO, text, length) < 0) return; // nowhere left to tell
}

extern "C" void HoldSignal(int signalNumber) {
  const int savedErrno = errno;
  if (guard::Hold(signalNumber)) {
    // A progress line redrawn in place on a terminal may still be open.
    if (noticeOnNewLine) WriteToStandardError("\n", 1);
    WriteToStandardError(guard::kFinishingNotice, sizeof guard::kFinishingNotice - 1);
  }
  errno = savedErrno;
}

#ifdef ODFLASH_HAVE_SDBUS
// What logind is asked to hold off, most first: some systems grant the key and lid handles,
// or even shutdown, only to some users.
constexpr const char* kInhibitWhat[] = {
    "sleep:shutdown:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch",
    "sleep:shutdown:idle", "sleep:idle"};
constexpr const char* kInhibitWhy = "A drive's firmware is being updated";
constexpr std::uint64_t kBusTimeoutMicroseconds = 2'000'000;

int AskForLock(sd_bus* bus, const char* what, const std::string& who) {
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL: all members null
  int lock = -1;
  int descriptor = -1;
  if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "Inhibit") >= 0 &&
      sd_bus_message_append(call, "ssss", what, who.c_str(), kInhibitWhy, "block") >= 0 &&
      sd_bus_call(bus, call, kBusTimeoutMicroseconds, &error, &reply) >= 0 &&
      sd_bus_message_read(reply, "h", &descriptor) >= 0) {
    // The reply owns its descriptor; the lock lasts as long as our own copy is open.
    lock = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  return lock;
}

// A logind inhibitor lock over the system bus; -1 where there is no bus or no logind.
int TakeInhibitorLock(const std::string& who) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return -1;
  int lock = -1;
  for (const char* what : kInhibitWhat) {
    lock = AskForLock(bus, what, who);
    if (lock >= 0) break;
  }
  sd_bus_flush_close_unref(bus);
  return lock;
}
#else
int TakeInhibitorLock(const std::string&) { return -1; }
#endif

} // namespace

struct UpdateGuard::Platform {
  struct sigaction previous[std::size(kHeldSignals)];
  int inhibitorLock = -1; // logind releases the lock when this descriptor is closed
};

UpdateGuard::UpdateGuard(const std::string& who) : platform_(std::make_unique<Platform>()) {
  guard::Activate();
  noticeOnNewLine = ::isatty(STDERR_FILENO) == 1;
  struct sigaction hold = {};
  hold.sa_handler = HoldSignal;
  sigemptyset(&hold.sa_mask);
  hold.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kHeldSignals); ++i) sigaction(kHeldSignals[i], &hold, &platform_->previous[i]);
  // After the handlers: an interrupt while logind answers already stops the run cleanly.
  platform_->inhibitorLock = TakeInhibitorLock(who);
}

UpdateGuard::~UpdateGuard() {
  if (platform_->inhibitorLock >= 0) ::close(platform_->inhibitorLock);
  for (std::size_t i = 0; i < std::size(kHeldSignals); ++i) sigaction(kHeldSignals[i], &platform_->previous[i], nullptr);
  guard::Deactivate();
}

int HeldRequestExitCode() {
  const int held = guard::HeldRequest();
  return held == 0 ? 0 : 128 + held;
}

} // namespace sys
