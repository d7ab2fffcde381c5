#include "payload/PayloadBlock.h"

#include <algorithm>
#include <cstring>

namespace payload {

PayloadBlock::PayloadBlock(const std::uint8_t* block, std::size_t available)
    : block_(block), available_(std::min(available, kBlockLength)) {}

std::uint8_t PayloadBlock::ByteAt(std::size_t blockOffset) const {
  return blockOffset < available_ ? block_[blockOffset] : 0;
}

std::span<const std::uint8_t> PayloadBlock::Marker() const {
  return {block_, std::min(kMarkerLength, available_)};
}

std::span<const std::uint8_t> PayloadBlock::Header() const {
  if (available_ <= kMarkerLength) return {};
  return {block_ + kMarkerLength, std::min(kHeaderLength, available_ - kMarkerLength)};
}

std::string PayloadBlock::TextField(std::size_t headerOffset) const {
  std::string text;
  for (std::size_t i = 0; i < kTextFieldMaxChars; ++i) {
    const std::uint8_t c = ByteAt(kMarkerLength + headerOffset + i);
    if (c == 0) break;
    text.push_back(static_cast<char>(c));
  }
  return text;
}

std::string PayloadBlock::Model() const { return TextField(kModelOffset); }
std::string PayloadBlock::Inquiry() const { return TextField(kInquiryOffset); }
std::string PayloadBlock::FirmwareRange() const { return TextField(kFirmwareRangeOffset); }
std::string PayloadBlock::Vendor() const { return TextField(kVendorOffset); }
std::string PayloadBlock::Note() const { return TextField(kNoteOffset); }

std::string PayloadBlock::NewRevisionField() const {
  std::string field;
  for (std::size_t i = 0; i < kNewRevisionLength; ++i)
    field.push_back(static_cast<char>(ByteAt(kMarkerLength + kNewRevisionOffset + i)));
  return field;
}

std::string PayloadBlock::NewRevision() const {
  const std::string field = NewRevisionField();
  return field.substr(0, std::min<std::size_t>(4, std::strlen(field.c_str())));
}

std::uint32_t PayloadBlock::ImageLength() const {
  const std::size_t at = kMarkerLength + kImageLengthOffset;
  return static_cast<std::uint32_t>(ByteAt(at)) | static_cast<std::uint32_t>(ByteAt(at + 1)) << 8 |
         static_cast<std::uint32_t>(ByteAt(at + 2)) << 16 |
         static_cast<std::uint32_t>(ByteAt(at + 3)) << 24;
}

bool PayloadBlock::ImageLengthFits() const { return ImageLength() <= kImageCapacity; }

std::span<const std::uint8_t> PayloadBlock::ImageRegion() const {
  constexpr std::size_t kRegionStart = kMarkerLength + kHeaderLength;
  if (available_ <= kRegionStart) return {};
  return {block_ + kRegionStart, available_ - kRegionStart};
}

std::span<const std::uint8_t> PayloadBlock::Image() const {
  const auto region = ImageRegion();
  if (!ImageLengthFits() || ImageLength() > region.size()) return {};
  return region.first(ImageLength());
}

bool PayloadBlock::HasBuilderTag() const {
  const std::size_t at = kMarkerLength + kHeaderLength;
  for (std::size_t i = 0; i < kBuilderTagLength; ++i)
    if (ByteAt(at + i) != static_cast<std::uint8_t>(kBuilderTag[i])) return false;
  return at + kBuilderTagLength <= available_;
}

bool PayloadBlock::AcceptsAnyFirmware() const {
  const std::size_t at = kMarkerLength + kFirmwareRangeOffset;
  return ByteAt(at) == '-' && ByteAt(at + 5) == '-';
}

bool PayloadBlock::AcceptsAnyDrive() const {
  const std::size_t at = kMarkerLength + kInquiryOffset;
  return ByteAt(at) == '-' && ByteAt(at + 1) == '-';
}

bool PayloadBlock::IsFlashAll() const {
  static constexpr char kFlashAll[] = "FLASH-ALL";
  for (std::size_t i = 0; i < sizeof kFlashAll - 1; ++i)
    if (ByteAt(kMarkerLength + kNoteOffset + i) != static_cast<std::uint8_t>(kFlashAll[i]))
      return false;
  return true;
}

} // namespace payload
