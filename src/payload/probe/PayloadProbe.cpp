// odflash-payload-probe: a small program that carries the payload block and prints what it
// reads from its own block. The tests build flashers from it and check that a patched copy
// starts in the flashing role with the patched fields.

#include <cstdio>

#include "payload/ImageKind.h"
#include "payload/IntegrityRecord.h"
#include "payload/PayloadBlock.h"
#include "payload/PayloadTexts.h"
#include "payload/RoutineStore.h"

int main() {
  const payload::PayloadBlock& block = payload::OwnPayloadBlock();
  // Read at start-up in either role, which also keeps the store block in the program.
  const char* routines = payload::IsPlaceholderRoutineStore(payload::OwnRoutineStore()) ? "placeholder" : "real";
  if (block.HasBuilderTag()) {
    // The record is read in either role, which keeps its block in the program.
    std::printf("role: builder\nroutines: %s\nintegrity: %s\n", routines,
                payload::IntegrityName(payload::OwnIntegrity()));
    return 0;
  }
  if (!block.ImageLengthFits()) {
    std::fprintf(stderr, "damaged payload: image length %u exceeds the image region of %zu bytes\n",
                 static_cast<unsigned>(block.ImageLength()), payload::kImageCapacity);
    return 1;
  }
  const payload::PayloadTexts texts = payload::MakePayloadTexts(block);
  std::printf("role: flasher\n");
  std::printf("model: %s\n", texts.ModelName.c_str());
  std::printf("inquiry: %s\n", texts.InquiryId.c_str());
  std::printf("firmware range: %s\n", texts.FirmwareRange.c_str());
  std::printf("vendor: %s\n", texts.VendorName.c_str());
  std::printf("note: %s\n", block.Note().c_str());
  std::printf("new revision: %s\n", block.NewRevision().c_str());
  std::printf("image length: %u\n", static_cast<unsigned>(block.ImageLength()));
  std::printf("image kind: %s\n",
              payload::ImageKindName(payload::CheckNewFormatBIN(block.Image())));
  std::printf("routines: %s\n", routines);
  std::printf("integrity: %s\n", payload::IntegrityName(payload::OwnIntegrity()));
  return 0;
}
