#include "sys/UpdateGuard.h"

#include <atomic>

#include "sys/UpdateGuardState.h"

namespace sys {
namespace {

// One word, so that a request and the start of the critical phase can never pass each other:
// flags in the low bits, the request code above them.
constexpr unsigned kActive = 1, kCritical = 2, kAnnounced = 4, kRequestShift = 8;
std::atomic<unsigned> state{0};
static_assert(std::atomic<unsigned>::is_always_lock_free, "the signal handler needs a lock-free word");

int RequestOf(unsigned word) { return static_cast<int>(word >> kRequestShift); }

} // namespace

namespace guard {

void Activate() { state = kActive; }
void Deactivate() { state = 0; }

bool Hold(int request) {
  unsigned word = state.load();
  for (;;) {
    if (!(word & kActive)) return false;
    unsigned next = word;
    if (RequestOf(word) == 0) next |= static_cast<unsigned>(request) << kRequestShift;
    const bool announce = (word & kCritical) && !(word & kAnnounced);
    if (announce) next |= kAnnounced;
    if (next == word) return false;
    if (state.compare_exchange_weak(word, next)) return announce;
  }
}

int HeldRequest() {
  const unsigned word = state.load();
  return (word & kActive) ? RequestOf(word) : 0;
}

} // namespace guard

bool StopRequested() { return guard::HeldRequest() != 0; }

bool EnterCriticalPhase() {
  unsigned word = state.load();
  for (;;) {
    if (!(word & kActive) || (word & kCritical)) return true;
    if (RequestOf(word) != 0) return false;
    if (state.compare_exchange_weak(word, word | kCritical)) return true;
  }
}

} // namespace sys
