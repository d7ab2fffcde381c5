// The payload block read out of an arbitrary file (what the command line's info and extract do),
// the marker search under it, and every reader of the block's fields.
//
// Input: a mode byte, then the file's bytes. With the mode's top bit set a 16-bit position
// follows, and (mode & 0x7F) * 8 KiB zero bytes are put there, so that a small input stands for
// a file longer than a read chunk or than a whole block. The low six bits of the mode also give
// the chunk size in which the in-memory search is fed. The flasher's integrity is judged too, and
// a flasher sealed with the record its builder would write must judge intact.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "builder/FlasherIntegrity.h"
#include "builder/MarkerSearch.h"
#include "builder/PayloadFile.h"
#include "payload/PayloadBlock.h"
#include "payload/PayloadTexts.h"
#include "payload/RoutineStore.h"

using namespace builder;
using namespace payload;
using fuzzsupport::Bytes;

namespace {

void CheckText(const std::string& text) {
  FUZZ_CHECK(text.size() <= kTextFieldMaxChars);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
}

void CheckReaders(const PayloadBlock& block) {
  CheckText(block.Model());
  CheckText(block.Inquiry());
  CheckText(block.FirmwareRange());
  CheckText(block.Vendor());
  CheckText(block.Note());
  FUZZ_CHECK(block.NewRevisionField().size() == kNewRevisionLength);
  FUZZ_CHECK(block.NewRevision().size() <= 4);
  FUZZ_CHECK(block.Marker().size() <= kMarkerLength);
  FUZZ_CHECK(block.Header().size() <= kHeaderLength);
  FUZZ_CHECK(block.ImageRegion().size() <= kImageCapacity);
  // The image is all announced bytes or nothing, and never more than the region holds.
  const auto image = block.Image();
  FUZZ_CHECK(image.empty() || image.size() == block.ImageLength());
  FUZZ_CHECK(image.size() <= block.ImageRegion().size());
  FUZZ_CHECK(block.ImageLengthFits() || image.empty());
  if (!image.empty()) FUZZ_CHECK(image.data() == block.ImageRegion().data());

  const PayloadTexts texts = MakePayloadTexts(block);
  FUZZ_CHECK(texts.InquiryId.size() == 24);
  FUZZ_CHECK(texts.FirmwareRange.size() == 9);
  FUZZ_CHECK(texts.FirmwareLow.size() == 4);
  FUZZ_CHECK(texts.FirmwareHigh.size() == 4);
  FUZZ_CHECK(texts.VendorName.size() == block.Vendor().size());
  FUZZ_CHECK(texts.AnyDrive == block.AcceptsAnyDrive());
  FUZZ_CHECK(texts.AnyFirmware == block.AcceptsAnyFirmware());
  (void)block.IsFlashAll();
  (void)block.HasBuilderTag();
}

// Where the body of marker's first block outside the payload block starts, when the file holds
// the whole body: the byte-wise reference for the file search.
std::optional<std::size_t> ReferenceBlockBody(const Bytes& file, std::span<const std::uint8_t> marker,
                                              std::size_t bodyLength, std::size_t payloadStart) {
  for (auto at = file.begin();; ++at) {
    at = std::search(at, file.end(), marker.begin(), marker.end());
    if (at == file.end()) return std::nullopt;
    const auto offset = static_cast<std::size_t>(at - file.begin());
    if (offset >= payloadStart && offset < payloadStart + kBlockLength) continue;
    if (file.size() - offset - marker.size() < bodyLength) return std::nullopt;
    return offset + marker.size();
  }
}

// The file's integrity as judged, and, when it has a record block and a store block apart from
// each other and from the payload block, the same file sealed as its builder would seal it.
void CheckIntegrityOf(const Bytes& file, const std::string& path, const PayloadFile& payload) {
  const Integrity integrity = CheckFlasherFile(path, payload);
  const std::size_t payloadStart = payload.MarkerOffset;
  const auto recordAt = ReferenceBlockBody(file, OwnIntegrityRecordMarker(), kRecordLength, payloadStart);
  if (!recordAt) {
    FUZZ_CHECK(integrity == Integrity::None);
    return;
  }
  const auto storeAt = ReferenceBlockBody(file, OwnRoutineStoreMarker(), kRoutineStoreSize, payloadStart);
  const PayloadBlock view = payload.View();
  if (!storeAt || view.HasBuilderTag()) return;
  const bool apartFromStore =
      *recordAt + kRecordLength <= *storeAt - kStoreMarkerLength || *storeAt + kRoutineStoreSize <= *recordAt;
  const bool apartFromPayload =
      *recordAt + kRecordLength <= payloadStart || *recordAt - kRecordMarkerLength >= payloadStart + kBlockLength;
  const bool apart = apartFromStore && apartFromPayload;
  if (!apart) return;
  const auto store = std::span<const std::uint8_t>(file).subspan(*storeAt, kRoutineStoreSize);
  const IntegrityRecord record = MakeIntegrityRecord(view.Header(), view.Image(), store);
  Bytes sealed = file;
  std::copy(record.begin(), record.end(), sealed.begin() + static_cast<std::ptrdiff_t>(*recordAt));
  const std::string sealedPath = fuzzsupport::ScratchDir::Get().Write("sealed.bin", sealed);
  std::string error;
  const std::optional<PayloadFile> reread = ReadPayloadFromFile(sealedPath, error);
  FUZZ_CHECK(reread.has_value());
  FUZZ_CHECK(CheckFlasherFile(sealedPath, *reread) == Integrity::Intact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::ByteReader input(data, size);
  const std::uint8_t mode = input.Byte();
  Bytes file;
  if ((mode & 0x80) != 0) {
    const std::size_t position = input.U16();
    file = input.Rest();
    fuzzsupport::InsertFill(file, position, std::size_t{mode & 0x7Fu} * 8192);
  } else {
    file = input.Rest();
  }

  // The file's bytes taken as a block of whatever length they have.
  CheckReaders(PayloadBlock(file.data(), file.size()));

  // The search fed in chunks finds what the byte-wise search finds.
  const auto marker = OwnPayloadBlock().Marker();
  const std::optional<std::size_t> expectedEnd = fuzzsupport::ReferenceMarkerEnd(file, marker);
  MarkerSearch search(marker);
  const std::size_t chunk = 1 + (mode & 0x3F) * 7u;
  std::size_t fed = 0;
  while (fed < file.size() && !search.Found()) {
    const std::size_t length = std::min(chunk, file.size() - fed);
    const std::size_t used = search.Feed(file.data() + fed, length);
    FUZZ_CHECK(used <= length);
    FUZZ_CHECK(used == length || search.Found());
    fed += used;
  }
  FUZZ_CHECK(search.Found() == expectedEnd.has_value());
  if (expectedEnd) FUZZ_CHECK(fed == *expectedEnd);

  const std::string path = fuzzsupport::ScratchDir::Get().Write("payload.bin", file);
  std::string error;
  const std::optional<PayloadFile> payload = ReadPayloadFromFile(path, error);
  if (!expectedEnd) {
    FUZZ_CHECK(!payload);
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  // What the reader must make of the block: the same bytes viewed in memory.
  const std::size_t blockStart = *expectedEnd - kMarkerLength;
  const std::size_t present = std::min(file.size() - blockStart, kBlockLength);
  const PayloadBlock inMemory(file.data() + blockStart, present);
  const bool headerWhole = present >= kMarkerLength + kHeaderLength;
  const bool imageWhole = inMemory.ImageLengthFits() && inMemory.ImageLength() <= inMemory.ImageRegion().size();
  FUZZ_CHECK(payload.has_value() == (headerWhole && (inMemory.HasBuilderTag() || imageWhole)));
  if (!payload) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(payload->MarkerOffset == blockStart);
  FUZZ_CHECK(payload->Block.size() == present);
  FUZZ_CHECK(std::equal(payload->Block.begin(), payload->Block.end(), file.begin() + static_cast<std::ptrdiff_t>(blockStart)));
  const PayloadBlock view = payload->View();
  if (!view.HasBuilderTag()) {
    // A flasher's image is never longer than the bytes present.
    FUZZ_CHECK(view.ImageLength() <= view.ImageRegion().size());
    FUZZ_CHECK(view.Image().size() == view.ImageLength());
  }
  CheckReaders(view);
  CheckIntegrityOf(file, path, *payload);
  return 0;
}
