#pragma once
// The Linux transport: SG_IO on each optical drive's sg node, found through sysfs beside the
// /dev/srN node that stays the drive's name. The kernel filters WRITE BUFFER and vendor opcodes
// on /dev/srN for anyone without CAP_SYS_RAWIO, but on /dev/sgN only for read-only opens; a
// drive without an sg node (the sg driver not loaded) is served through /dev/srN. Drives have
// no letter (their identity text shows a space in its place) and take the SCSI host number as
// adapter.
//
// The update lock flock()s the command node, opened read-write: other odflash processes test
// that lock before they probe a drive, and a user without the access an update needs is
// refused before anything is sent. It also opens /dev/srN exclusively for the whole update, so
// a mounted disc or another exclusive holder refuses the lock, and names in a warning the other
// processes it can see holding the drive's nodes open. As root (CAP_SYS_ADMIN) on the sg path it
// also pauses the drive's media polling and unbinds the sr driver from the drive for the writes
// (see DriverDetach); a drive a killed run left detached is restored by the next enumeration as
// root, and named with the command that restores it otherwise.

#include <map>
#include <memory>
#include <string>

#include "drive/DriverDetachPosix.h"
#include "drive/Transport.h"

namespace drive {

class SgTransport : public Transport {
public:
  explicit SgTransport(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                       std::string procRoot = "/proc", std::string stateDir = "/run/odflash");
  TransportKind Kind() const override { return TransportKind::SgIo; }
  std::uint8_t SetUp() override { return kResultOpened; }
  // Opens the command node read-write, non-blocking, falling back to /dev/srN where the sg node
  // is refused (INQUIRY still passes there); shows "Error opening: ..." on failure.
  std::unique_ptr<DeviceChannel> Open(const DriveAddress& address, CommandOutcome& failure) override;
  // The drives in sysfs, and those another update has detached from their block node, by the
  // name they had. As root it first restores the drives killed runs left detached.
  std::vector<DriveAddress> Candidates() override;
  std::vector<std::string> LeftToRestore() override;
  std::optional<std::string> SystemErrorText(std::uint32_t code) override;
  std::unique_ptr<UpdateLock> LockForUpdate(const DriveAddress& address, std::string& refusal) override;
  // Opens only the command node (an sg open sends the drive nothing; a /dev/srN open would).
  bool IsLockedForUpdate(const DriveAddress& address) override;

  // Called by the channel on the node before each WRITE BUFFER it sends.
  void BeforeMemoryWrite(const std::string& commandPath);

  // The nodes of one drive.
  struct Nodes {
    std::string Shown;     // /dev/srN
    std::string Command;   // /dev/sgM, or Shown when there is no sg node
    std::string DevNumber; // "11:0"; empty when unknown
    bool BlockOnly = false; // sysfs knows the drive and it has no sg node
    std::string Address;   // "H:C:T:L"; empty when sysfs does not know the drive
    std::string Name;      // "sr0"
  };
  // The nodes of the address: by its DevicePath, else by its numbers; a path that sysfs does not
  // know is its own command node. Command is empty when there is no device.
  Nodes NodesOf(const DriveAddress& address);

private:
  bool IsMounted(const std::string& devNumber) const;
  bool HasRawIo() const;
  bool HasCapability(int capability) const;
  // The records of detaches whose update has ended without restoring them.
  std::vector<DetachRecord> Abandoned() const;

  std::string sysfsRoot_;
  std::string devRoot_;
  std::string procRoot_;
  std::string stateDir_;
  // The detaches of this process's updates, by command node.
  std::map<std::string, std::weak_ptr<DriverDetach>> detaches_;
};

// The refusals of the lock that say what an update needs.
// "it needs read-write access to /dev/sg1 to be updated (...), or root: Permission denied"
std::string SgAccessRefusal(const std::string& commandPath, int code);
// The drive has no sg node and the process lacks CAP_SYS_RAWIO.
std::string NoSgNodeRefusal(const std::string& blockPath);

} // namespace drive
