#include "sys/Sleeper.h"

#include <chrono>
#include <thread>

namespace sys {
namespace {
class ThreadSleeper final : public Sleeper {
public:
  void SleepMilliseconds(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};
} // namespace

Sleeper& SystemSleeper() {
  static ThreadSleeper sleeper;
  return sleeper;
}

} // namespace sys
