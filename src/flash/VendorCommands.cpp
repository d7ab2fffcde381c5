#include "flash/VendorCommands.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "drive/Cddrive.h"

namespace flash {

bool VendorCommands::Issue(const CommandBlock& block, std::string_view label) {
  drive_.Execute(block.Cdb, block.DataIn ? kDataIn : kDataOut, block.Length);
  if (drive_.LastOutcome().Succeeded()) return true;
  ShowFailure(label);
  return false;
}

bool VendorCommands::IssueDataIn(const CommandBlock& block, std::string_view label,
                                 std::span<const std::uint8_t> expected) {
  fill_.resize(expected.size());
  std::transform(expected.begin(), expected.end(), fill_.begin(),
                 [](std::uint8_t byte) { return static_cast<std::uint8_t>(~byte); });
  drive_.ExecuteDataIn(block.Cdb, block.Length, fill_);
  if (drive_.LastOutcome().Succeeded()) return true;
  ShowFailure(label);
  return false;
}

void VendorCommands::ShowFailure(std::string_view label) {
  sink_.ShowMessage(std::string(label) + drive_.LastOutcome().SenseText(), sys::MessageKind::Plain);
}

bool VendorCommands::FitsBuffer(std::uint32_t length, std::string_view label) {
  if (drive::CDDrive::GetBuffer() != nullptr && length <= drive::CDDrive::IoBufferLength()) return true;
  char text[160];
  std::snprintf(text, sizeof text, "%.*stransfer of %lu bytes does not fit the %lu-byte data buffer",
                static_cast<int>(label.size()), label.data(), static_cast<unsigned long>(length),
                static_cast<unsigned long>(drive::CDDrive::IoBufferLength()));
  sink_.ShowMessage(text, sys::MessageKind::Error);
  return false;
}

bool VendorCommands::WriteE2(const std::uint8_t* data, std::uint16_t address, std::uint8_t count) {
  for (std::uint8_t i = 0; i < count; ++i, ++address) {
    if (!Issue(WriteE2Block(address, data[i]), kLabelWriteE2)) return false;
  }
  return true;
}

bool VendorCommands::WriteBuffer(std::uint32_t offset, const std::uint8_t* data,
                                 std::uint32_t length, BufferControl control) {
  if (control == BufferControl::Flash || control == BufferControl::FlashAll) {
    if (!FitsBuffer(kFlashDataLength, kLabelWriteBuffer)) return false;
    return Issue(FlashBlock(control == BufferControl::FlashAll, offset, length), kLabelWriteBuffer);
  }
  if (!FitsBuffer(length, kLabelWriteBuffer)) return false;
  std::copy_n(data, length, drive::CDDrive::GetBuffer());
  return Issue(WriteBufferBlock(offset, length, control), kLabelWriteBuffer);
}

bool VendorCommands::ReadBuffer(std::uint32_t offset, std::uint8_t* dest, std::uint32_t length,
                                std::span<const std::uint8_t> expected) {
  if (!FitsBuffer(length, kLabelReadBuffer)) return false;
  if (!IssueDataIn(ReadBufferBlock(offset, length), kLabelReadBuffer, expected.first(std::min<std::size_t>(expected.size(), length))))
    return false;
  std::copy_n(drive::CDDrive::GetBuffer(), length, dest);
  return true;
}

bool VendorCommands::EntryCritical() { return Issue(EntryCriticalBlock(), kLabelEntryCritical); }

bool VendorCommands::SetupFlashProfile(ImageKind kind, std::span<std::uint8_t> buildArea,
                                       ProfileState& state, const std::function<bool()>& beforeWrite) {
  if (!FitsBuffer(std::max<std::uint32_t>(kFlashIdLength, kMaxProfileImage), kLabelReadFlashId)) return false;
  // The ID is read over FF FF FF FF, the complement of an all-zero ID: a last ID byte FF, which
  // an absent answer leaves, is no chip's.
  constexpr FlashId kNoId{};
  if (!IssueDataIn(ReadFlashIdBlock(), kLabelReadFlashId, kNoId)) return false;
  FlashId flashId;
  std::copy_n(drive::CDDrive::GetBuffer(), flashId.size(), flashId.begin());
  state = BuildProfileImage(kind, flashId, buildArea);
  if (beforeWrite && !beforeWrite()) return false;
  std::copy_n(buildArea.begin(), state.length, drive::CDDrive::GetBuffer());
  return Issue(WriteProfileBlock(static_cast<std::uint16_t>(state.length), kind == ImageKind::DvdRom),
               kLabelWriteProfile);
}

bool VendorCommands::ReadVerifyProfile(ImageKind kind, const ProfileState& state,
                                       std::span<const std::uint8_t> copy) {
  profileDiffered_ = false;
  if (kind == ImageKind::DvdRom) {
    profileDiffered_ = !ProfileCopyMatchesStore(state, copy);
    return !profileDiffered_;
  }
  if (!IssueDataIn(ReadProfileBlock(static_cast<std::uint16_t>(state.length)), kLabelReadProfile,
                   copy.first(std::min<std::size_t>(copy.size(), state.length))))
    return false;
  const std::uint8_t* readBack = drive::CDDrive::GetBuffer();
  if (copy.size() < state.length || !std::equal(copy.begin(), copy.begin() + state.length, readBack)) {
    profileDiffered_ = true;
    sink_.ShowMessage(std::string(kComparedProfileError), sys::MessageKind::Plain);
    return false;
  }
  return true;
}

} // namespace flash
