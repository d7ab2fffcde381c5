#pragma once
// Keeps the machine from sleeping while a drive is being flashed: a logind inhibitor lock taken
// over the system bus, held for the object's lifetime. Where there is no system bus or no
// logind (containers, minimal systems) nothing is held and nothing is reported.

#include <string>

namespace gui {

class SleepInhibitor {
public:
  explicit SleepInhibitor(const std::string& reason);
  ~SleepInhibitor();
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

  // True while a lock is held.
  bool Held() const { return lockDescriptor_ >= 0; }

private:
  int lockDescriptor_ = -1; // logind releases the lock when this descriptor is closed
};

} // namespace gui
