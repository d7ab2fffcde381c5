#pragma once
// The firmware update of one drive, from the update question to the restart question: the
// drive-ready wait, the profile upload, the image upload, entry critical, the profile check,
// the read-back comparison and the Flash command. Every failure ends the run at once; after a
// failure nothing more is sent to the drive. The procedure talks to the outside only through
// its sink, so a window may run it on a worker thread.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "flash/FlashSink.h"
#include "flash/Profiles.h"
#include "payload/ImageKind.h"
#include "payload/PayloadBlock.h"
#include "sys/Restart.h"
#include "sys/Sleeper.h"

namespace drive {
class CDDrive;
}

namespace flash {

inline constexpr std::uint32_t kChunkSize = 16384;
inline constexpr unsigned kReadyPollMilliseconds = 30;
inline constexpr unsigned kReadyPolls = 100;
inline constexpr std::uint16_t kFlashTimeoutSeconds = 180;
inline constexpr std::uint16_t kCommandTimeoutSeconds = 60;

// Status captions and failure suffixes.
inline constexpr std::string_view kStatusWriteProfile = "Write profile to drive's DRAM... ";
inline constexpr std::string_view kStatusWriteImage = "Write BIN to drive's DRAM... ";
inline constexpr std::string_view kStatusEntryCritical = "Drive entry critical... ";
inline constexpr std::string_view kStatusVerify = "Read back and Verify drive's DRAM... ";
inline constexpr std::string_view kStatusFlashing = "Don't turn off the system, Flash is in progress...";
inline constexpr std::string_view kStatusFlashFailed = "Flash Fail.";
inline constexpr std::string_view kStatusFlashCompleted = "Flash Completed.";
inline constexpr std::string_view kSuffixFail = ", Fail! ";
inline constexpr std::string_view kSuffixProfileCheckFail = ", Valid Profile Fail!";
inline constexpr std::string_view kSuffixReadFail = ", Read Fail! ";
inline constexpr std::string_view kSuffixCompareFail = ", Compare BIN and DRAM Fail! ";
inline constexpr std::string_view kMessageCompareFail = "Compare BIN and DRAM fail!";
inline constexpr std::string_view kMessageNotReady = "Drive can't ready !!!";

// What a flasher carries, as the procedure needs it.
struct FlashRequest {
  std::span<const std::uint8_t> image;
  ImageKind kind = ImageKind::Plain;
  std::string carriedRevision; // 4 characters
  bool anyFirmware = false;    // the firmware range carries the any-firmware marker
  bool flashAll = false;       // the Note field starts with "FLASH-ALL"
  // The command line's dry run: the uploads and the read-back comparison, then stop before
  // the Flash command. A CD-RW new-format image is sent without Entry critical and without
  // the Read Profile check that follows it.
  bool stopBeforeFlash = false;
};

// Whether an update with an image of the kind passes through Entry critical, the drive's
// critical phase, before the Read Profile check and the Flash command.
inline constexpr bool HasEntryCritical(ImageKind kind) { return kind == ImageKind::CdRwNewFormat; }

// The request for the firmware a payload block carries (the image is viewed, not copied).
FlashRequest MakeFlashRequest(const payload::PayloadBlock& payload);

enum class FlashOutcome {
  Flashed,            // the Flash command succeeded
  Verified,           // dry run: everything verified, the Flash command not sent
  Declined,           // the update question was answered No; nothing was sent
  Refused,            // nothing fit to send (no image, no data buffer, placeholder routines)
  NotReady,           // the drive stayed "becoming ready"
  ProfileFailed,      // Read Flash ID or Write Profile
  UploadFailed,       // a Write Buffer of the image
  EntryCriticalFailed,
  ProfileCheckFailed, // the Read Profile command failed
  ProfileMismatch,    // the profile read back (or its local copy) differs
  ReadBackFailed,     // a Read Buffer of the image
  CompareFailed,      // the image read back differs from the one sent
  FlashFailed,        // the Flash command
  Interrupted,        // stopped by an interrupt before anything was written to the drive
};

// The first difference found by the read-back comparison.
struct Mismatch {
  std::uint32_t offset = 0;  // image offset of the first differing byte
  std::uint8_t expected = 0;
  std::uint8_t found = 0;
  std::uint32_t differingBytes = 0; // in the chunk that differed
};

class FlashProcedure {
public:
  explicit FlashProcedure(FlashSink& sink, sys::Sleeper& sleeper = sys::SystemSleeper(),
                          sys::Restarter& restarter = sys::SystemRestarter())
      : sink_(sink), sleeper_(sleeper), restarter_(restarter) {}

  // One run on the drive. The drive layer's data buffer must hold at least kChunkSize bytes.
  FlashOutcome Run(drive::CDDrive& drive, const FlashRequest& request);

  // State of the latest run.
  const ProfileState& Profile() const { return profile_; }
  bool FlashAll() const { return flashAll_; }
  const Mismatch& LastMismatch() const { return mismatch_; }
  // The drive-memory offset of the chunk whose Write Buffer or Read Buffer failed.
  std::uint32_t FailedChunkOffset() const { return failedChunkOffset_; }

private:
  bool WaitUntilReady(drive::CDDrive& drive);
  FlashOutcome Transfer(drive::CDDrive& drive, const FlashRequest& request);
  bool UploadImage(class VendorCommands& commands, std::span<const std::uint8_t> image);
  FlashOutcome VerifyImage(class VendorCommands& commands, std::span<const std::uint8_t> image);
  FlashOutcome Commit(drive::CDDrive& drive, class VendorCommands& commands,
                      const FlashRequest& request);
  void CheckNewRevision(drive::CDDrive& drive, const std::string& carriedRevision);
  void OfferRestart();
  FlashOutcome Fail(std::string_view suffix, FlashOutcome outcome);

  FlashSink& sink_;
  sys::Sleeper& sleeper_;
  sys::Restarter& restarter_;
  std::vector<std::uint8_t> chunkBuffer_;  // one chunk; also the profile's build area
  std::vector<std::uint8_t> profileCopy_;  // the profile as uploaded
  ProfileState profile_;
  bool flashAll_ = false;
  Mismatch mismatch_;
  std::uint32_t failedChunkOffset_ = 0;
};

} // namespace flash
