#pragma once
// The vendor operations of the firmware update on one drive. Each sends its command blocks
// through the drive layer, moves data through the process-wide data buffer, and on failure
// shows its label followed by the drive's sense text through the sink, then returns false.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "flash/CommandBlocks.h"
#include "flash/FlashSink.h"
#include "flash/Profiles.h"

namespace drive {
class CDDrive;
}

namespace flash {

// Failure labels, each followed directly by the sense text in the message.
inline constexpr std::string_view kLabelWriteE2 = "Write E2> ";
inline constexpr std::string_view kLabelWriteBuffer = "Write Buffer> ";
inline constexpr std::string_view kLabelReadBuffer = "Read Buffer> ";
inline constexpr std::string_view kLabelReadFlashId = "Read Flash ID> ";
inline constexpr std::string_view kLabelWriteProfile = "Write Profile> ";
inline constexpr std::string_view kLabelReadProfile = "Read Profile> ";
inline constexpr std::string_view kLabelEntryCritical = "Entry critical> ";
inline constexpr std::string_view kComparedProfileError = "Compared profile error!";

class VendorCommands {
public:
  VendorCommands(drive::CDDrive& drive, FlashSink& sink) : drive_(drive), sink_(sink) {}

  // count bytes of data to the drive's EEPROM from address on, one command per byte; the
  // address wraps from 0xFFFF to 0. Stops at the first failure.
  bool WriteE2(const std::uint8_t* data, std::uint16_t address, std::uint8_t count);
  // control Flash or FlashAll sends the commit command (data unused); any other control
  // copies length bytes of data into the data buffer and writes them at offset.
  bool WriteBuffer(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length,
                   BufferControl control);
  // On success copies length bytes to dest; on failure dest is left unchanged. expected holds
  // the length bytes the drive should return: their complement stands in the buffer until the
  // answer arrives, so that a chunk the drive did not send never passes for the right one.
  bool ReadBuffer(std::uint32_t offset, std::uint8_t* dest, std::uint32_t length,
                  std::span<const std::uint8_t> expected);
  bool EntryCritical();
  // Read Flash ID, the choice of profile and Write Profile. The profile image is built in
  // buildArea (at least kMaxProfileImage bytes); state is set as soon as the ID is known.
  // beforeWrite runs between the read and the first write to drive memory; when it returns
  // false nothing is written and the result is false without a message.
  bool SetupFlashProfile(ImageKind kind, std::span<std::uint8_t> buildArea, ProfileState& state,
                         const std::function<bool()>& beforeWrite = {});
  // The check of an uploaded profile against the copy kept of it: read back for a CD-RW
  // new-format image, a local comparison with the store for a DVD-ROM image.
  bool ReadVerifyProfile(ImageKind kind, const ProfileState& state,
                         std::span<const std::uint8_t> copy);
  // After a failed ReadVerifyProfile: true when the profile differed, false when the Read
  // Profile command itself failed.
  bool ProfileDiffered() const { return profileDiffered_; }

private:
  // Sends one block; true only when the drive layer's outcome is a success (GOOD status, and
  // for data in the bytes the caller reads arrived).
  bool Issue(const CommandBlock& block, std::string_view label);
  // A data-in block whose first needed bytes are read: the buffer holds the complement of
  // expected there until the answer arrives (expected may be shorter than the transfer).
  bool IssueDataIn(const CommandBlock& block, std::string_view label, std::span<const std::uint8_t> expected);
  // Refuses a transfer larger than the data buffer before anything is sent.
  bool FitsBuffer(std::uint32_t length, std::string_view label);
  void ShowFailure(std::string_view label);

  drive::CDDrive& drive_;
  FlashSink& sink_;
  bool profileDiffered_ = false;
  std::vector<std::uint8_t> fill_; // what a data-in command's buffer holds until its answer
};

} // namespace flash
