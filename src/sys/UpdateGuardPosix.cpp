#include "sys/UpdateGuard.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <iterator>
#include <vector>

#include <pthread.h>

#ifdef ODFLASH_HAVE_SDBUS
#include <systemd/sd-bus.h>
#endif

#include "sys/StandardStreams.h"
#include "sys/UpdateGuardState.h"

namespace sys {
namespace {

// Requests whose default would end the process: held, and acted on once the drive is safe. The
// real-time signals are added at run time (SIGRTMIN is not a constant).
constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM,
                                SIGPROF, SIGXCPU,
#ifdef SIGPWR
                                SIGPWR,
#endif
#ifdef SIGPOLL
                                SIGPOLL,
#endif
};
// A lost output must not end the process either; these are only ignored.
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGXFSZ};

// Stop requests are blocked, not caught: a caught SIGTTOU makes the kernel restart a background
// write to the terminal for ever. One still pending when the guard ends stops the process then.
// Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS) keep their defaults.
sigset_t StopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signalNumber : {SIGTSTP, SIGTTIN, SIGTTOU}) sigaddset(&stops, signalNumber);
  return stops;
}

std::vector<int> HeldSignals() {
  std::vector<int> held(std::begin(kHeldSignals), std::end(kHeldSignals));
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber) held.push_back(signalNumber);
#endif
  return held;
}

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
  std::vector<std::pair<int, struct sigaction>> previous; // every signal the guard changed
  sigset_t previousMask;
  int inhibitorLock = -1; // logind releases the lock when this descriptor is closed
};

UpdateGuard::UpdateGuard(const std::string& who) : platform_(std::make_unique<Platform>()) {
  guard::Activate();
  noticeOnNewLine = IsTerminal(stderr);
  // The handler only touches the process-wide state, so any thread may run it. The stop
  // requests are blocked in this thread, which every thread started during the run inherits.
  const sigset_t stops = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stops, &platform_->previousMask);
  struct sigaction hold = {};
  hold.sa_handler = HoldSignal;
  sigemptyset(&hold.sa_mask);
  hold.sa_flags = SA_RESTART;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  auto change = [this](int signalNumber, const struct sigaction& action) {
    struct sigaction previous = {};
    if (sigaction(signalNumber, &action, &previous) == 0) platform_->previous.emplace_back(signalNumber, previous);
  };
  for (int signalNumber : HeldSignals()) change(signalNumber, hold);
  for (int signalNumber : kIgnoredSignals) change(signalNumber, ignore);
  // After the handlers: an interrupt while logind answers already stops the run cleanly.
  platform_->inhibitorLock = TakeInhibitorLock(who);
}

UpdateGuard::~UpdateGuard() {
  if (platform_->inhibitorLock >= 0) ::close(platform_->inhibitorLock);
  for (const auto& [signalNumber, previous] : platform_->previous) sigaction(signalNumber, &previous, nullptr);
  guard::Deactivate();
  // The drive is safe: a stop request that came meanwhile stops the process now.
  pthread_sigmask(SIG_SETMASK, &platform_->previousMask, nullptr);
}

void StartThreadsWithoutStopRequests(const std::function<void()>& start) {
  const sigset_t stops = StopSignals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  start();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int HeldRequestExitCode() {
  const int held = guard::HeldRequest();
  return held == 0 ? 0 : 128 + held;
}

} // namespace sys
