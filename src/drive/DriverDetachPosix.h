#pragma once
// Keeping the kernel and other programs away from a drive while root updates it through its sg
// node: the block driver's media polling is paused (events_poll_msecs set to 0) for the whole
// update, and from the first WRITE BUFFER on the sr driver is unbound from the drive, so that no
// program can open /dev/srN while the drive flashes. Both are put back when the update ends.
// A state file in the state folder (normally /run/odflash) says what to put back, so that the
// next run can restore a drive left detached by a run that was killed outright. Every path is
// under a root given by the caller so that tests can use a fake tree.

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "drive/PosixCalls.h"
#include "sys/Sleeper.h"

namespace drive {

// The time a drive may still be committing its flash after the last WRITE BUFFER it was sent
// (the Flash command's time-out): a killed run's drive is not probed again before it has passed.
inline constexpr std::time_t kDetachSettleSeconds = 180;

// What a detach changed on one drive, as its state file records it.
struct DetachRecord {
  std::string Address; // "H:C:T:L", which stays when the drive's block node goes
  std::string Sg;      // "/dev/sg0": the update's command node, flock()ed while the update runs
  std::string Block;   // "sr0", the block node's name before the detach
  std::string Poll;    // events_poll_msecs before the update
  std::time_t Written = 0; // when the drive was last sent a WRITE BUFFER (or the record made)
  std::string Path;    // the state file
};

// The state files in the folder, with their paths; unreadable files are skipped.
std::vector<DetachRecord> ReadDetachRecords(const std::string& stateDir);

// Binds the sr driver to the drive again (a few tries: the drive may take another number),
// finds its block node by its address and writes back the polling setting; removes the state
// file when done. False when the drive got no block node back.
bool RestoreDetached(const std::string& sysfsRoot, const DetachRecord& record, sys::Sleeper& sleeper);

// The shell command that restores the drive as root.
std::string RestoreCommandLine(const DetachRecord& record);

// One update's detach: made when the update lock is taken, given the exclusive hold on /dev/srN
// (released before the unbind), put back when destroyed.
class DriverDetach {
public:
  DriverDetach(std::string sysfsRoot, std::string stateDir, DetachRecord record);
  ~DriverDetach();
  DriverDetach(const DriverDetach&) = delete;
  DriverDetach& operator=(const DriverDetach&) = delete;

  // Writes the state file, pauses polling and takes over the exclusive hold (which may hold
  // nothing); false (nothing changed, the hold left with the caller) when the state file cannot
  // be written, with why.
  bool Begin(UniqueFd& exclusive, std::string& error);
  // Before each WRITE BUFFER: the first releases the exclusive hold and unbinds the sr driver;
  // each one records the time in the state file.
  void BeforeMemoryWrite();

private:
  bool WriteRecord() const;

  std::string sysfsRoot_;
  std::string stateDir_;
  DetachRecord record_;
  UniqueFd exclusive_;
  bool begun_ = false;
  bool unbindTried_ = false;
  bool unbound_ = false;
};

} // namespace drive
