#pragma once
// Read-only access to a payload block: the program's own (OwnPayloadBlock) or one found in a
// file (builder/PayloadFile.h). Every text reader stops at the field's NUL or at 24 characters.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "payload/PayloadLayout.h"

namespace payload {

class PayloadBlock {
public:
  // block points at the first marker byte; available is how many bytes of the block exist
  // (kBlockLength in memory, possibly less in a file cut short). Bytes past available read as 0.
  PayloadBlock(const std::uint8_t* block, std::size_t available);

  // The 15 marker bytes, NUL included.
  std::span<const std::uint8_t> Marker() const;

  std::string Model() const;
  std::string Inquiry() const;
  std::string FirmwareRange() const;  // the FW-Range field as stored text
  std::string Vendor() const;
  std::string Note() const;
  // The five bytes of the new-revision field, exactly as stored (no terminator).
  std::string NewRevisionField() const;
  // The carried revision: the new-revision field formatted "%4.4s".
  std::string NewRevision() const;

  // The image length as stored; may exceed the region in a damaged block.
  std::uint32_t ImageLength() const;
  // False for a damaged block whose image length exceeds the image region.
  bool ImageLengthFits() const;
  // The carried image: ImageLength() bytes, or empty when the length does not fit.
  std::span<const std::uint8_t> Image() const;
  // The whole image region as far as it is available.
  std::span<const std::uint8_t> ImageRegion() const;

  // True when the image region starts with the builder tag: the builder role.
  bool HasBuilderTag() const;

  // Any-firmware and any-drive markers, tested on the stored bytes of the fields.
  bool AcceptsAnyFirmware() const;
  bool AcceptsAnyDrive() const;
  // True when the Note field's first nine bytes are "FLASH-ALL".
  bool IsFlashAll() const;

  // The raw 137 header bytes (as far as available).
  std::span<const std::uint8_t> Header() const;

private:
  std::uint8_t ByteAt(std::size_t blockOffset) const;
  std::string TextField(std::size_t headerOffset) const;

  const std::uint8_t* block_;
  std::size_t available_;
};

// The payload block linked into this program. Its bytes are read through a pointer the
// optimiser cannot see through, because the builder patches them after linking.
const PayloadBlock& OwnPayloadBlock();

} // namespace payload
