#include "gui/qt/InterruptGuard.h"

#include <atomic>
#include <iterator>

namespace gui {
namespace {

constexpr int kHeldSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
std::atomic<int> heldSignal{0};

extern "C" void RememberSignal(int signalNumber) {
  int none = 0;
  heldSignal.compare_exchange_strong(none, signalNumber);
}

} // namespace

InterruptGuard::InterruptGuard() {
  static_assert(std::size(kHeldSignals) == kHeldSignalCount);
  heldSignal = 0;
  struct sigaction remember = {};
  remember.sa_handler = RememberSignal;
  sigemptyset(&remember.sa_mask);
  remember.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kHeldSignals); ++i) sigaction(kHeldSignals[i], &remember, &previous_[i]);
}

InterruptGuard::~InterruptGuard() {
  for (std::size_t i = 0; i < std::size(kHeldSignals); ++i) sigaction(kHeldSignals[i], &previous_[i], nullptr);
}

int InterruptGuard::HeldSignal() { return heldSignal.load(); }

} // namespace gui
