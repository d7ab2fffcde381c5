#pragma once
// Stand-ins for the waits and the restart of a flash run, shared by the window suites.

#include "sys/Restart.h"
#include "sys/Sleeper.h"

namespace apptest {

class NoSleep final : public sys::Sleeper {
public:
  void SleepMilliseconds(unsigned) override {}
};

// Counts restart requests instead of restarting the machine.
class RecordingRestarter final : public sys::Restarter {
public:
  sys::RestartResult RequestRestart() override {
    ++requests;
    return {true, ""};
  }
  int requests = 0;
};

} // namespace apptest
