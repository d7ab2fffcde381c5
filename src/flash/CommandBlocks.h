#pragma once
// Every command block the firmware update sends, byte for byte. The blocks are built here
// and nowhere else, so the tests can compare a drive's command log against these builders.
// Offsets and lengths inside a block are big-endian; only their low 24 bits are sent.

#include <cstdint>

#include "drive/Transport.h"

namespace flash {

using drive::CommandBlock;

// The direction argument of CDDrive::Execute: 1 = data in, any other value data out.
inline constexpr std::uint8_t kDataIn = 1;
inline constexpr std::uint8_t kDataOut = 0;

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
// A block of the opcode, data in: the direction every command sends that moves no data out.
constexpr CommandBlock DataInBlock(std::uint8_t opcode) {
  CommandBlock block;
  block.Cdb[0] = opcode;
  block.DataIn = true;
  return block;
}
constexpr void Put24(CommandBlock& block, int at, std::uint32_t value) {
  block.Cdb[at] = static_cast<std::uint8_t>(value >> 16);
  block.Cdb[at + 1] = static_cast<std::uint8_t>(value >> 8);
  block.Cdb[at + 2] = static_cast<std::uint8_t>(value);
}
constexpr CommandBlock Buffer(std::uint8_t opcode, std::uint8_t mode, std::uint32_t offset,
                              std::uint32_t length, std::uint8_t control, bool dataIn,
                              std::uint32_t transferLength) {
  CommandBlock block;
  block.Cdb[0] = opcode;
  block.Cdb[1] = mode;
  block.Cdb[2] = 0x01; // buffer id
  Put24(block, 3, offset);
  Put24(block, 6, length);
  block.Cdb[9] = control;
  block.DataIn = dataIn;
  block.Length = transferLength;
  return block;
}
} // namespace detail

constexpr CommandBlock WriteE2Block(std::uint16_t address, std::uint8_t data) {
  CommandBlock block = detail::DataInBlock(kVendorOpcode);
  block.Cdb[1] = kVendorWriteE2;
  block.Cdb[7] = static_cast<std::uint8_t>(address >> 8);
  block.Cdb[8] = static_cast<std::uint8_t>(address);
  block.Cdb[9] = data;
  return block;
}

constexpr CommandBlock ReadFlashIdBlock() {
  CommandBlock block = detail::DataInBlock(kVendorOpcode);
  block.Cdb[1] = kVendorReadFlashId;
  block.Length = kFlashIdLength;
  return block;
}

// WRITE BUFFER of image data (control Data) at a drive-memory offset.
constexpr CommandBlock WriteBufferBlock(std::uint32_t offset, std::uint32_t length,
                                        BufferControl control = BufferControl::Data) {
  return detail::Buffer(kWriteBufferOpcode, 0x05, offset, length,
                        static_cast<std::uint8_t>(control), false, length);
}

constexpr CommandBlock WriteProfileBlock(std::uint16_t profileLength, bool dvdRom) {
  return detail::Buffer(kWriteBufferOpcode, 0x05, dvdRom ? 0 : kProfileDriveOffset, profileLength,
                        static_cast<std::uint8_t>(BufferControl::Profile), false,
                        profileLength);
}

constexpr CommandBlock EntryCriticalBlock() {
  return detail::Buffer(kWriteBufferOpcode, 0x05, 0, 0,
                        static_cast<std::uint8_t>(BufferControl::Profile), true, 0);
}

// The commit command: offset and length as given (the procedure passes 0), data in 16 bytes.
constexpr CommandBlock FlashBlock(bool flashAll, std::uint32_t offset = 0, std::uint32_t length = 0) {
  return detail::Buffer(kWriteBufferOpcode, 0x05, offset, length,
                        static_cast<std::uint8_t>(flashAll ? BufferControl::FlashAll
                                                           : BufferControl::Flash),
                        true, kFlashDataLength);
}

constexpr CommandBlock ReadBufferBlock(std::uint32_t offset, std::uint32_t length) {
  return detail::Buffer(kReadBufferOpcode, 0x01, offset, length, 0, true, length);
}

constexpr CommandBlock ReadProfileBlock(std::uint16_t profileLength) {
  return detail::Buffer(kReadBufferOpcode, 0x01, kProfileDriveOffset, profileLength, 0, true,
                        profileLength);
}

// The standard commands of the drive-ready wait; all without data.
constexpr CommandBlock StartStopUnitBlock(bool load) {
  CommandBlock block = detail::DataInBlock(0x1B);
  block.Cdb[4] = load ? 0x03 : 0x00;
  return block;
}
constexpr CommandBlock TestUnitReadyBlock() { return detail::DataInBlock(0x00); }
constexpr CommandBlock StopPlayScanBlock() { return detail::DataInBlock(0x4E); }

} // namespace flash
