#pragma once
// Layout of the payload block that every odflash executable carries: a block marker, the
// 137-byte payload header and the image region. Offsets of header fields count from the first
// byte after the marker; multi-byte numbers are little-endian.

#include <cstddef>
#include <cstdint>

namespace payload {

inline constexpr std::size_t kMarkerLength = 15;     // 14 printable characters and a NUL
inline constexpr std::size_t kTextFieldLength = 25;  // at most 24 characters and a NUL
inline constexpr std::size_t kTextFieldMaxChars = kTextFieldLength - 1;
inline constexpr std::size_t kModelOffset = 0;
inline constexpr std::size_t kInquiryOffset = 25;
inline constexpr std::size_t kFirmwareRangeOffset = 50;
inline constexpr std::size_t kVendorOffset = 75;
inline constexpr std::size_t kNoteOffset = 100;
inline constexpr std::size_t kNewRevisionOffset = 125;
inline constexpr std::size_t kNewRevisionLength = 5;
inline constexpr std::size_t kImageLengthOffset = 133;
inline constexpr std::size_t kHeaderLength = 137;
inline constexpr std::size_t kImageCapacity = 0x80000;  // 524288 bytes
// The whole block: marker, header and image region.
inline constexpr std::size_t kBlockLength = kMarkerLength + kHeaderLength + kImageCapacity;

// The longest program file a build copies or a payload block is looked for in.
inline constexpr std::uint64_t kMaxProgramBytes = std::uint64_t{1} << 30;

// A builder carries these four bytes at the start of its image region (compared as raw bytes).
inline constexpr char kBuilderTag[] = "RUSK";
inline constexpr std::size_t kBuilderTagLength = 4;

} // namespace payload
