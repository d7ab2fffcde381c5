#pragma once
// Millisecond waits go through here so that tests can pass a sleeper that does not sleep.

namespace sys {

class Sleeper {
public:
  virtual ~Sleeper() = default;
  virtual void SleepMilliseconds(unsigned milliseconds) = 0;
};

// The real one (std::this_thread::sleep_for).
Sleeper& SystemSleeper();

} // namespace sys
