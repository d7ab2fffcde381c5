// The integrity record block of this program and the check of a flasher's blocks against it.
// A builder fills the record in its copy of the file, so the block must stand in the file
// exactly as laid out here: one initialised, read-only object with no pointers inside, its
// marker nowhere else.

#include "payload/IntegrityRecord.h"

#include <algorithm>

#include "payload/RoutineStore.h"
#include "sys/Sha256.h"

namespace payload {
namespace {

struct RawRecordBlock {
  std::uint8_t marker[kRecordMarkerLength];
  std::uint8_t record[kRecordLength];
};
static_assert(sizeof(RawRecordBlock) == kRecordBlockLength, "the block must be packed");

// Evaluated by the compiler alone, so the marker stands in the file only inside the block.
consteval RawRecordBlock MakeRecordBlock() {
  return RawRecordBlock{{'{', 'o', 'd', 'f', 'l', 'a', 's', 'h', ':', 's', 'e', 'a', 'l', '}', 0}, {}};
}

__attribute__((used)) const RawRecordBlock kOwnRecordBlock = MakeRecordBlock();

// Hides where the pointer comes from, as for the payload block: without it an optimising build
// folds the empty-record test to its link-time answer.
const std::uint8_t* Launder(const std::uint8_t* pointer) {
  asm volatile("" : "+r"(pointer) : : "memory");
  return pointer;
}

} // namespace

const char* IntegrityName(Integrity integrity) {
  switch (integrity) {
  case Integrity::None: return "none";
  case Integrity::Intact: return "intact";
  case Integrity::Damaged: return "damaged";
  }
  return "damaged";
}

IntegrityRecord MakeIntegrityRecord(std::span<const std::uint8_t> header, std::span<const std::uint8_t> image,
                                    std::span<const std::uint8_t> store) {
  sys::Sha256 hash;
  hash.Update(header);
  hash.Update(image);
  hash.Update(store);
  const sys::Sha256::Digest digest = hash.Finish();
  IntegrityRecord record{};
  record[0] = kRecordVersion;
  std::copy(digest.begin(), digest.end(), record.begin() + 1);
  return record;
}

Integrity CheckIntegrity(const PayloadBlock& block, std::optional<std::span<const std::uint8_t>> store,
                         std::optional<std::span<const std::uint8_t>> record) {
  if (!record || std::all_of(record->begin(), record->end(), [](std::uint8_t byte) { return byte == 0; }))
    return Integrity::None;
  if (record->size() != kRecordLength || record->front() != kRecordVersion) return Integrity::Damaged;
  const auto header = block.Header();
  if (!store || store->size() != kRoutineStoreSize || header.size() != kHeaderLength || !block.ImageLengthFits() ||
      block.ImageRegion().size() < block.ImageLength())
    return Integrity::Damaged;
  const IntegrityRecord expected = MakeIntegrityRecord(header, block.Image(), *store);
  return std::equal(expected.begin(), expected.end(), record->begin(), record->end()) ? Integrity::Intact
                                                                                       : Integrity::Damaged;
}

std::span<const std::uint8_t, kRecordMarkerLength> OwnIntegrityRecordMarker() {
  return std::span<const std::uint8_t, kRecordMarkerLength>(Launder(kOwnRecordBlock.marker), kRecordMarkerLength);
}

std::span<const std::uint8_t, kRecordLength> OwnIntegrityRecord() {
  return std::span<const std::uint8_t, kRecordLength>(Launder(kOwnRecordBlock.record), kRecordLength);
}

Integrity OwnIntegrity() {
  return CheckIntegrity(OwnPayloadBlock(), OwnRoutineStore(), std::span<const std::uint8_t>(OwnIntegrityRecord()));
}

} // namespace payload
