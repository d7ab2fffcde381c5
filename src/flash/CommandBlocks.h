#pragma once
// Every command block the firmware update sends, byte for byte. The blocks are built here
// and nowhere else, so the tests can compare a drive's command log against these builders.
// Offsets and lengths inside a block are big-endian; only their low 24 bits are sent.

#include <array>
#include <cstdint>

namespace flash {

inline constexpr std::uint8_t kDataIn = 1;  // direction flag of the drive layer: 1 = data in
inline constexpr std::uint8_t kDataOut = 0; // any other value is data out

struct CommandBlock {
  std::array<std::uint8_t, 12> cdb{};
  std::uint8_t direction = kDataIn;
  std::uint32_t transferLength = 0;

  friend constexpr bool operator==(const CommandBlock&, const CommandBlock&) = default;
};

// Byte 9 of the buffer commands: what the drive is to do with the transfer.
enum class BufferControl : std::uint8_t {
  Data = 0x00,      // plain transfer into or out of drive memory
  Profile = 0x7F,   // profile upload; also "enter the critical phase"
  Flash = 0x80,     // commit the image in drive memory to flash
  FlashAll = 0xA0,  // the same, flash-all variant
};

inline constexpr std::uint8_t kWriteBufferOpcode = 0x3B;
inline constexpr std::uint8_t kReadBufferOpcode = 0x3C;
inline constexpr std::uint8_t kVendorOpcode = 0xDF;
inline constexpr std::uint8_t kVendorWriteE2 = 0x0A;
inline constexpr std::uint8_t kVendorReadFlashId = 0x11;

// Drive memory offset of the profile: 0x80000 (byte 3 = 0x08), except for DVD-ROM images.
inline constexpr std::uint32_t kProfileDriveOffset = 0x80000;
// The Flash command asks for a 16-byte data-in phase although its length bytes are 0.
inline constexpr std::uint32_t kFlashDataLength = 16;
inline constexpr std::uint32_t kFlashIdLength = 128;

namespace detail {
constexpr void Put24(CommandBlock& block, int at, std::uint32_t value) {
  block.cdb[at] = static_cast<std::uint8_t>(value >> 16);
  block.cdb[at + 1] = static_cast<std::uint8_t>(value >> 8);
  block.cdb[at + 2] = static_cast<std::uint8_t>(value);
}
constexpr CommandBlock Buffer(std::uint8_t opcode, std::uint8_t mode, std::uint32_t offset,
                              std::uint32_t length, std::uint8_t control, std::uint8_t direction,
                              std::uint32_t transferLength) {
  CommandBlock block;
  block.cdb[0] = opcode;
  block.cdb[1] = mode;
  block.cdb[2] = 0x01; // buffer id
  Put24(block, 3, offset);
  Put24(block, 6, length);
  block.cdb[9] = control;
  block.direction = direction;
  block.transferLength = transferLength;
  return block;
}
} // namespace detail

constexpr CommandBlock WriteE2Block(std::uint16_t address, std::uint8_t data) {
  CommandBlock block;
  block.cdb[0] = kVendorOpcode;
  block.cdb[1] = kVendorWriteE2;
  block.cdb[7] = static_cast<std::uint8_t>(address >> 8);
  block.cdb[8] = static_cast<std::uint8_t>(address);
  block.cdb[9] = data;
  return block;
}

constexpr CommandBlock ReadFlashIdBlock() {
  CommandBlock block;
  block.cdb[0] = kVendorOpcode;
  block.cdb[1] = kVendorReadFlashId;
  block.transferLength = kFlashIdLength;
  return block;
}

// WRITE BUFFER of image data (control Data) at a drive-memory offset.
constexpr CommandBlock WriteBufferBlock(std::uint32_t offset, std::uint32_t length,
                                        BufferControl control = BufferControl::Data) {
  return detail::Buffer(kWriteBufferOpcode, 0x05, offset, length,
                        static_cast<std::uint8_t>(control), kDataOut, length);
}

constexpr CommandBlock WriteProfileBlock(std::uint16_t profileLength, bool dvdRom) {
  return detail::Buffer(kWriteBufferOpcode, 0x05, dvdRom ? 0 : kProfileDriveOffset, profileLength,
                        static_cast<std::uint8_t>(BufferControl::Profile), kDataOut,
                        profileLength);
}

constexpr CommandBlock EntryCriticalBlock() {
  return detail::Buffer(kWriteBufferOpcode, 0x05, 0, 0,
                        static_cast<std::uint8_t>(BufferControl::Profile), kDataIn, 0);
}

// The commit command: offset and length as given (the procedure passes 0), data in 16 bytes.
constexpr CommandBlock FlashBlock(bool flashAll, std::uint32_t offset = 0, std::uint32_t length = 0) {
  return detail::Buffer(kWriteBufferOpcode, 0x05, offset, length,
                        static_cast<std::uint8_t>(flashAll ? BufferControl::FlashAll
                                                           : BufferControl::Flash),
                        kDataIn, kFlashDataLength);
}

constexpr CommandBlock ReadBufferBlock(std::uint32_t offset, std::uint32_t length) {
  return detail::Buffer(kReadBufferOpcode, 0x01, offset, length, 0, kDataIn, length);
}

constexpr CommandBlock ReadProfileBlock(std::uint16_t profileLength) {
  return detail::Buffer(kReadBufferOpcode, 0x01, kProfileDriveOffset, profileLength, 0, kDataIn,
                        profileLength);
}

// The standard commands of the drive-ready wait; all without data.
constexpr CommandBlock StartStopUnitBlock(bool load) {
  CommandBlock block;
  block.cdb[0] = 0x1B;
  block.cdb[4] = load ? 0x03 : 0x00;
  return block;
}
constexpr CommandBlock TestUnitReadyBlock() { return CommandBlock{}; }
constexpr CommandBlock StopPlayScanBlock() {
  CommandBlock block;
  block.cdb[0] = 0x4E;
  return block;
}

} // namespace flash
