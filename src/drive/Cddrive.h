#pragma once
// CDDrive: one optical drive, its command transport, the outcome of its last command and its
// identity.
// The transport state (buffer, time-out, error switch, open count) is process-wide and shared by
// every drive; the operations that change it are static but may be called on any drive.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "drive/Transport.h"

namespace drive {

class CDDrive {
public:
  // Sets the transport up when no drive is open, opens and identifies the drive; the outcome is
  // in LastResult() (0 when the drive is ready to use).
  CDDrive(char letter, std::uint8_t adapter, std::uint8_t target, std::uint8_t lun);
  // The same for an address found by enumeration (carries the device path).
  explicit CDDrive(const DriveAddress& address);
  // Gives back the device and lowers OpenCount, only for a drive that opened and was counted.
  ~CDDrive();
  CDDrive(const CDDrive&) = delete;
  CDDrive& operator=(const CDDrive&) = delete;

  // Sends one command: 12 CDB bytes, direction (1 = data in, anything else = data out) and the
  // transfer length; data goes through the process-wide buffer (INQUIRY: its own buffer).
  // Keeps the command's outcome; returns nonzero on success, 0 on failure (after the sense
  // message, once error reporting is on).
  int Execute(std::uint8_t cdb0, std::uint8_t cdb1, std::uint8_t cdb2, std::uint8_t cdb3,
              std::uint8_t cdb4, std::uint8_t cdb5, std::uint8_t cdb6, std::uint8_t cdb7,
              std::uint8_t cdb8, std::uint8_t cdb9, std::uint8_t cdb10, std::uint8_t cdb11,
              std::uint8_t direction, std::uint32_t length);
  int Execute(const std::array<std::uint8_t, kCdbLength>& cdb, std::uint8_t direction,
              std::uint32_t length);
  // Sends a data-in command whose first fill.size() bytes the caller reads. Before it is sent
  // the buffer holds fill there (and zeros after it): bytes that cannot pass for the answer. It
  // succeeds only when those bytes arrived: by the residual where the transport reports one,
  // else when the last of them no longer holds its fill.
  int ExecuteDataIn(const std::array<std::uint8_t, kCdbLength>& cdb, std::uint32_t length,
                    std::span<const std::uint8_t> fill);
  // What became of the last command (or of the failed open); success is
  // LastOutcome().Succeeded().
  const CommandOutcome& LastOutcome() const { return lastOutcome_; }
  // The last outcome under the names the sense message gives it: the sense key byte (flags
  // included), ASC, ASCQ, the shown status and the system's error code.
  std::uint8_t SenseKey() const { return lastOutcome_.Sense.KeyByte; }
  std::uint8_t Asc() const { return lastOutcome_.Sense.Asc; }
  std::uint8_t Ascq() const { return lastOutcome_.Sense.Ascq; }
  std::uint8_t Status() const { return lastOutcome_.ShownStatus; }
  std::uint32_t OsError() const { return lastOutcome_.OsError; }

  // Sends INQUIRY again; returns IdentityText, or "0" when the drive did not answer.
  std::string GetIdentity();
  // Sends INQUIRY and rebuilds IdentityText; false (IdentityText "0") when it failed, when the
  // device is not a CD/DVD device (peripheral qualifier 0, type 05h) or returned fewer than the
  // 36 bytes the identity needs.
  bool Identify();
  // The vendor and product identification (24 characters) of the last INQUIRY; empty when the
  // drive has not answered one.
  std::string VendorProductText() const;
  // The revision level (4 characters) of the last INQUIRY; empty when there is none.
  std::string RevisionText() const;
  // Where the drive is: device path ("\\.\E:", "/dev/sr0") or the transport's own name.
  const std::string& DevicePath() const { return address_.DevicePath; }
  // True when construction opened and identified the drive (it then counts in OpenCount).
  bool IsOpen() const { return counted_; }
  // True when construction left the drive alone, unopened, because another holder had it
  // locked for update.
  bool LockedForUpdateElsewhere() const { return lockedElsewhere_; }
  // Takes the drive's update lock before an update; null with refusal set (why, as a phrase
  // such as kRefusedBeingUpdated) when another odflash process or another program holds the
  // drive. Sends nothing to the drive.
  std::unique_ptr<UpdateLock> LockForUpdate(std::string& refusal) const;

  // Transport state operations (process-wide).
  static void SetTimeout(std::uint16_t seconds);
  // Null selects the internal 2352-byte default buffer, whatever the length.
  static void SetBuffer(std::uint8_t* buffer, std::uint32_t length);
  static std::uint8_t* GetBuffer();
  static std::uint32_t IoBufferLength();
  static std::uint8_t LastResult();

  // Identity.
  char Letter = ' ';
  std::uint8_t Adapter = 0;
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;
  // "%d-%d-%d %C: %28.28s"; empty until the first INQUIRY, "0" after a failed one.
  std::string IdentityText;

private:
  void Construct(const DriveAddress& address);
  int Send(const std::array<std::uint8_t, kCdbLength>& cdb, std::uint8_t direction,
           std::uint32_t length, std::span<const std::uint8_t> fill);
  bool Open();
  // Once error reporting is on, shows the sense message of the last outcome.
  void ReportSense() const;

  DriveAddress address_;
  std::unique_ptr<DeviceChannel> channel_;
  CommandOutcome lastOutcome_;
  bool counted_ = false;
  bool lockedElsewhere_ = false;
  // The 28-character identity field ("%28.28s" of INQUIRY bytes 8 to 35) of the last
  // successful INQUIRY; empty when the last INQUIRY failed.
  std::string identityField_;
};

} // namespace drive
