#include "flash/FlashProcedure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/Cddrive.h"
#include "flash/CommandBlocks.h"
#include "flash/UpdateQuestion.h"
#include "flash/VendorCommands.h"
#include "sys/Text.h"
#include "sys/UpdateGuard.h"

namespace flash {
namespace {

std::string Text(std::string_view view) { return std::string(view); }

void Send(drive::CDDrive& drive, const CommandBlock& block) {
  drive.Execute(block.Cdb, block.DataIn ? kDataIn : kDataOut, block.Length);
}

} // namespace

FlashRequest MakeFlashRequest(const payload::PayloadBlock& payload) {
  FlashRequest request;
  request.image = payload.Image();
  request.kind = payload::CheckNewFormatBIN(payload.Image());
  request.carriedRevision = payload.NewRevision();
  request.anyFirmware = payload.AcceptsAnyFirmware();
  request.flashAll = payload.IsFlashAll();
  return request;
}

FlashOutcome FlashProcedure::Run(drive::CDDrive& drive, const FlashRequest& request) {
  profile_ = ProfileState{};
  flashAll_ = false;
  mismatch_ = Mismatch{};
  failedChunkOffset_ = 0;

  // An empty image would commit nothing to the drive's flash and report success.
  if (request.image.empty()) {
    sink_.ShowMessage("This flasher carries no firmware image; nothing was sent to the drive.",
                      sys::MessageKind::Error);
    return FlashOutcome::Refused;
  }
  if (drive::CDDrive::GetBuffer() == nullptr || drive::CDDrive::IoBufferLength() < kChunkSize) {
    sink_.ShowMessage("The drive layer's data buffer is smaller than one 16384-byte chunk; "
                      "nothing was sent to the drive.",
                      sys::MessageKind::Error);
    return FlashOutcome::Refused;
  }

  const std::string driveRevision = drive.RevisionText();
  const UpdateQuestion question =
      MakeUpdateQuestion(driveRevision, request.carriedRevision, request.anyFirmware);
  if (!sink_.AskUpdate(question)) return FlashOutcome::Declined;

  flashAll_ = request.flashAll;

  sink_.EnterPhase(FlashPhase::ReadyWait);
  if (!WaitUntilReady(drive)) {
    if (sys::StopRequested()) return FlashOutcome::Interrupted;
    sink_.ShowMessage(Text(kMessageNotReady), sys::MessageKind::Plain);
    return FlashOutcome::NotReady;
  }

  sink_.SetProgressRange(0, static_cast<std::uint32_t>(request.image.size()), kChunkSize);
  chunkBuffer_.resize(kChunkSize);
  sink_.SetBusy(true);
  const FlashOutcome outcome = Transfer(drive, request);
  sink_.EnterPhase(FlashPhase::Done);
  sink_.SetBusy(false);
  sink_.SetProgressPosition(0);
  return outcome;
}

bool FlashProcedure::WaitUntilReady(drive::CDDrive& drive) {
  // Nothing is written yet: an interrupt stops the wait between any two commands.
  auto sendUnlessStopped = [&drive](const CommandBlock& block) {
    if (sys::StopRequested()) return false;
    Send(drive, block);
    return true;
  };
  if (!sendUnlessStopped(StartStopUnitBlock(true))) return false;
  bool becomingReady = true;
  for (unsigned poll = 0; poll < kReadyPolls && becomingReady; ++poll) {
    sleeper_.SleepMilliseconds(kReadyPollMilliseconds);
    if (!sendUnlessStopped(TestUnitReadyBlock()) || !sendUnlessStopped(StopPlayScanBlock())) return false;
    becomingReady = drive.LastOutcome().SenseMatches(0x02, 0x04, 0x01);
  }
  if (becomingReady) return false;
  return sendUnlessStopped(StopPlayScanBlock()) && sendUnlessStopped(StartStopUnitBlock(false));
}

FlashOutcome FlashProcedure::Fail(std::string_view suffix, FlashOutcome outcome) {
  sink_.AppendStatus(Text(suffix));
  return outcome;
}

FlashOutcome FlashProcedure::Transfer(drive::CDDrive& drive, const FlashRequest& request) {
  VendorCommands commands(drive, sink_);
  if (sys::StopRequested()) return FlashOutcome::Interrupted;

  if (request.kind != ImageKind::Plain) {
    sink_.EnterPhase(FlashPhase::Profile);
    sink_.SetStatus(Text(kStatusWriteProfile));
    // The placeholder store holds no flash routine: a real drive would run it as its flash
    // programmer. Only the emulated drive may receive it.
    if (RoutineStoreIsPlaceholder() && !drive::IsEmulatedTransport()) {
      sink_.ShowMessage(
          "This program carries placeholder flash routines, not the drives' real ones, so it "
          "must not update a real drive. Nothing was written to the drive.\n"
          "Build the flasher again with the drives' real routine store: put the store file "
          "beside the builder as odflash-gui.ROUTINES (next to odflash-gui.INI), or give it to "
          "odflash build --routines FILE.",
          sys::MessageKind::Error);
      return Fail(kSuffixFail, FlashOutcome::Refused);
    }
    // From the first command that changes the drive's memory on (Write Profile, after the
    // flash-ID read), an interrupt waits for the end.
    if (sys::StopRequested()) return FlashOutcome::Interrupted;
    bool stopped = false;
    const auto enterCritical = [&stopped] { return !(stopped = !sys::EnterCriticalPhase()); };
    if (!commands.SetupFlashProfile(request.kind, chunkBuffer_, profile_, enterCritical)) {
      if (stopped) return FlashOutcome::Interrupted;
      return Fail(kSuffixFail, FlashOutcome::ProfileFailed);
    }
    profileCopy_.assign(chunkBuffer_.begin(), chunkBuffer_.begin() + profile_.length);
  }

  sink_.EnterPhase(FlashPhase::Upload);
  sink_.SetStatus(Text(kStatusWriteImage));
  if (!sys::EnterCriticalPhase()) return FlashOutcome::Interrupted;
  if (!UploadImage(commands, request.image)) return Fail(kSuffixFail, FlashOutcome::UploadFailed);

  // A dry run never enters the drive's critical phase: a real drive may then need a power
  // cycle. The Read Profile check belongs to that phase and is left out with it.
  const bool entersCritical = HasEntryCritical(request.kind) && !request.stopBeforeFlash;
  if (entersCritical) {
    sink_.EnterPhase(FlashPhase::EntryCritical);
    sink_.SetStatus(Text(kStatusEntryCritical));
    if (!commands.EntryCritical()) return Fail(kSuffixFail, FlashOutcome::EntryCriticalFailed);
  }

  sink_.EnterPhase(FlashPhase::Verify);
  sink_.SetStatus(Text(kStatusVerify));
  const bool checksProfile = profile_.found && (entersCritical || !HasEntryCritical(request.kind));
  if (checksProfile && !commands.ReadVerifyProfile(request.kind, profile_, profileCopy_)) {
    return Fail(kSuffixProfileCheckFail, commands.ProfileDiffered() ? FlashOutcome::ProfileMismatch
                                                                    : FlashOutcome::ProfileCheckFailed);
  }
  const FlashOutcome verified = VerifyImage(commands, request.image);
  if (verified != FlashOutcome::Verified || request.stopBeforeFlash) return verified;

  return Commit(drive, commands, request);
}

bool FlashProcedure::UploadImage(VendorCommands& commands, std::span<const std::uint8_t> image) {
  const auto length = static_cast<std::uint32_t>(image.size());
  for (std::uint32_t position = 0; position < length; position += kChunkSize) {
    sink_.SetProgressPosition(position);
    // A last chunk shorter than kChunkSize sends only the bytes the image has.
    const std::uint32_t chunk = std::min(kChunkSize, length - position);
    std::copy_n(image.begin() + position, chunk, chunkBuffer_.begin());
    if (!commands.WriteBuffer(position, chunkBuffer_.data(), chunk, BufferControl::Data)) {
      failedChunkOffset_ = position;
      return false;
    }
  }
  sink_.SetProgressPosition(length);
  return true;
}

FlashOutcome FlashProcedure::VerifyImage(VendorCommands& commands, std::span<const std::uint8_t> image) {
  const auto length = static_cast<std::uint32_t>(image.size());
  for (std::uint32_t position = 0; position < length; position += kChunkSize) {
    sink_.SetProgressPosition(position);
    const std::uint32_t chunk = std::min(kChunkSize, length - position);
    if (!commands.ReadBuffer(position, chunkBuffer_.data(), chunk, image.subspan(position, chunk))) {
      failedChunkOffset_ = position;
      return Fail(kSuffixReadFail, FlashOutcome::ReadBackFailed);
    }
    const auto expected = image.subspan(position, chunk);
    const auto differs = std::mismatch(expected.begin(), expected.end(), chunkBuffer_.begin());
    if (differs.first != expected.end()) {
      mismatch_.offset = position + static_cast<std::uint32_t>(differs.first - expected.begin());
      mismatch_.expected = *differs.first;
      mismatch_.found = *differs.second;
      for (std::uint32_t i = 0; i < chunk; ++i) mismatch_.differingBytes += expected[i] != chunkBuffer_[i];
      sink_.AppendStatus(Text(kSuffixCompareFail));
      sink_.ShowMessage(Text(kMessageCompareFail), sys::MessageKind::Plain);
      return FlashOutcome::CompareFailed;
    }
  }
  sink_.SetProgressPosition(length);
  return FlashOutcome::Verified;
}

FlashOutcome FlashProcedure::Commit(drive::CDDrive& drive, VendorCommands& commands,
                                    const FlashRequest& request) {
  sink_.EnterPhase(FlashPhase::Flash);
  sink_.SetStatus(Text(kStatusFlashing));
  sink_.SetProgressRange(0, 200, 0);
  sink_.SetProgressPosition(198);
  drive::CDDrive::SetTimeout(kFlashTimeoutSeconds);
  const BufferControl control = flashAll_ ? BufferControl::FlashAll : BufferControl::Flash;
  if (!commands.WriteBuffer(0, profileCopy_.data(), 0, control)) {
    sink_.SetStatus(Text(kStatusFlashFailed));
    return FlashOutcome::FlashFailed;
  }
  drive::CDDrive::SetTimeout(kCommandTimeoutSeconds);
  sink_.SetProgressPosition(200);
  sink_.SetStatus(Text(kStatusFlashCompleted));
  sink_.DriveRefreshed(drive.GetIdentity());
  CheckNewRevision(drive, request.carriedRevision);
  OfferRestart();
  return FlashOutcome::Flashed;
}

void FlashProcedure::CheckNewRevision(drive::CDDrive& drive, const std::string& carriedRevision) {
  const std::string reported = drive.RevisionText();
  // INQUIRY pads a short revision with blanks; the carried one ends at its field's NUL.
  auto withoutTrailingBlanks = [](std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
  };
  if (withoutTrailingBlanks(reported) == withoutTrailingBlanks(carriedRevision)) return;
  const std::string carried = sys::PrintableText(carriedRevision);
  std::string text;
  if (reported.empty()) {
    text = "The drive did not answer INQUIRY after the update, so its new firmware revision "
           "is unknown (expected " + carried + ").";
  } else {
    text = "The drive reports firmware revision " + reported + " after the update, not " +
           carried + ". The update may not have taken effect.";
  }
  sink_.ShowMessage(text, sys::MessageKind::Warning);
}

void FlashProcedure::OfferRestart() {
  if (!sink_.AskRestart(Text(kRestartQuestion))) return;
  sink_.SetBusy(false);
  const sys::RestartResult result = restarter_.RequestRestart();
  if (!result.accepted) {
    sink_.ShowMessage("The system refused to restart: " + result.refusal +
                          "\nRestart the computer yourself for the new firmware to take effect.",
                      sys::MessageKind::Error);
  }
}

} // namespace flash
