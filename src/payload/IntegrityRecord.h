#pragma once
// The integrity record: a small marker-delimited block, outside the payload block, in which the
// builder stores the SHA-256 of what a flasher sends to a drive (the payload header, the image
// and the routine store). Templates carry it empty; a flasher whose record is filled and does
// not match what it carries is damaged and must flash nothing. Like the other blocks, the
// running program reads its own record only through a pointer the optimiser cannot see through.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "payload/PayloadBlock.h"

namespace payload {

inline constexpr std::size_t kRecordMarkerLength = 15; // 14 printable characters and a NUL
inline constexpr std::size_t kRecordDigestLength = 32;
// The version byte, then the digest.
inline constexpr std::size_t kRecordLength = 1 + kRecordDigestLength;
inline constexpr std::size_t kRecordBlockLength = kRecordMarkerLength + kRecordLength;
// The only record version this program writes and accepts.
inline constexpr std::uint8_t kRecordVersion = 1;

using IntegrityRecord = std::array<std::uint8_t, kRecordLength>;

enum class Integrity {
  None,    // no record: a template, or a flasher from a template without one
  Intact,  // the record matches the header, image and routine store
  Damaged, // a filled record that does not match, or of a version this program does not know
};

// "none", "intact" or "damaged", as the command line and the logs name it.
const char* IntegrityName(Integrity integrity);

// The record a builder writes for a flasher carrying header, image and store.
IntegrityRecord MakeIntegrityRecord(std::span<const std::uint8_t> header, std::span<const std::uint8_t> image,
                                    std::span<const std::uint8_t> store);

// Judges a flasher's blocks: block is its payload block, store its routine store and record
// its integrity record, each nothing when the program carries no such block. A missing or
// all-zero record is None; a filled one is checked against the header, the carried image and
// the store (a store or an image that cannot be read makes it Damaged).
Integrity CheckIntegrity(const PayloadBlock& block, std::optional<std::span<const std::uint8_t>> store,
                         std::optional<std::span<const std::uint8_t>> record);

// The record block of this program: its 15 marker bytes (NUL included) and the record behind
// them, as they stand in the program file or as a builder filled them.
std::span<const std::uint8_t, kRecordMarkerLength> OwnIntegrityRecordMarker();
std::span<const std::uint8_t, kRecordLength> OwnIntegrityRecord();

// The running program's own blocks judged by CheckIntegrity.
Integrity OwnIntegrity();

// The text a damaged flasher is refused with, by the window and the command line alike.
inline constexpr const char* kDamagedFlasherText =
    "This flasher is damaged: the firmware, header or flash routines it carries do not match its "
    "integrity record. Download or build it again; nothing was sent to any drive.";

} // namespace payload
