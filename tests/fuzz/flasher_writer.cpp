// The flasher writer over a fuzzed template (the program file copied), firmware and model.
// Whatever it is given, it either refuses, leaving nothing behind, or writes a file exactly as
// long as the template whose payload block reads back with the firmware and header it was given
// and whose other bytes are the template's.
//
// Input: flags, the firmware's length (16 bits) and bytes, the five model texts and the selected
// file name (each a length byte and bytes), a size adjustment, then the template. Flags:
//   1  the firmware is padded to the image capacity -128 + adjustment (around the limit);
//   2  a zero run of header + capacity -128 + adjustment bytes follows the template's first
//      marker (or ends the template), so that a small input makes a template that can work;
//   4  no model is selected.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "builder/FlasherWriter.h"
#include "builder/PayloadFile.h"
#include "payload/PayloadBlock.h"

using namespace builder;
using namespace payload;
using fuzzsupport::Bytes;

namespace {

class RecordingSink final : public BuildSink {
public:
  void SetGroupCaption(const std::string&) override {}
  void SetupProgress(std::uint64_t maximum, std::uint32_t) override { Maximum = maximum; }
  void StepProgress(std::uint64_t) override {}
  void SetProgressPosition(std::uint64_t) override {}
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }

  std::uint64_t Maximum = 0;
  std::vector<std::string> Messages;
};

// Offset of the first marker in bytes.
std::optional<std::size_t> FindBlock(const Bytes& bytes) {
  const auto end = fuzzsupport::ReferenceMarkerEnd(bytes, OwnPayloadBlock().Marker());
  if (!end) return std::nullopt;
  return *end - kMarkerLength;
}

std::string SafeFileName(std::string name) {
  for (char& c : name)
    if (c == '/' || c == '\0') c = '_';
  return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::ByteReader input(data, size);
  const std::uint8_t flags = input.Byte();
  Bytes firmware = input.Take(input.U16());
  ModelEntry model;
  model.Model = input.Text(32);
  model.Inquiry = input.Text(32);
  model.FirmwareRange = input.Text(32);
  model.Vendor = input.Text(32);
  model.Note = input.Text(32);
  const std::string selectedName = SafeFileName(input.Text(12));
  const std::size_t adjustment = input.Byte();
  Bytes program = input.Rest();

  if ((flags & 1) != 0) firmware.resize(kImageCapacity - 128 + adjustment, 0x5A);
  const std::optional<std::size_t> blockAt = FindBlock(program);
  if ((flags & 2) != 0) {
    const std::size_t after = blockAt ? *blockAt + kMarkerLength : program.size();
    fuzzsupport::InsertFill(program, after, kHeaderLength + kImageCapacity - 128 + adjustment);
    // A builder's region starts with the builder tag; without it the template is a flasher.
    if ((flags & 8) == 0 && after + kHeaderLength + kBuilderTagLength <= program.size())
      std::copy_n(kBuilderTag, kBuilderTagLength, program.begin() + static_cast<std::ptrdiff_t>(after + kHeaderLength));
  }

  const fuzzsupport::ScratchDir& scratch = fuzzsupport::ScratchDir::Get();
  BuildRequest request;
  request.ProgramPath = scratch.Write("template.bin", program);
  request.FirmwarePath = scratch.Write("firmware.bin", firmware);
  request.SelectedFileName = selectedName;
  request.OutputDirectory = scratch.Folder();
  if ((flags & 4) == 0) request.Model = model;
  const std::set<std::string> before = scratch.Names();

  RecordingSink sink;
  const bool written = NewBuildFlashProgram(request, sink);
  const std::string outputName = FlasherFileName(selectedName);
  const std::string outputPath = scratch.Path(outputName);

  if (!written) {
    // Refused: said so, and nothing half-written is left in the folder.
    FUZZ_CHECK(!sink.Messages.empty());
    FUZZ_CHECK(scratch.Names() == before);
    return 0;
  }
  FUZZ_CHECK(sink.Messages.empty());
  FUZZ_CHECK(sink.Maximum == program.size());

  // Only a template with a whole block, a model and a firmware that fits may give a flasher.
  FUZZ_CHECK(request.Model.has_value());
  FUZZ_CHECK(!firmware.empty() && firmware.size() <= kImageCapacity);
  FUZZ_CHECK(firmware.size() < kBuilderTagLength ||
             !std::equal(firmware.begin(), firmware.begin() + kBuilderTagLength, kBuilderTag));
  const std::optional<std::size_t> templateBlock = FindBlock(program);
  FUZZ_CHECK(templateBlock.has_value());
  FUZZ_CHECK(program.size() - *templateBlock >= kMarkerLength + kHeaderLength + kImageCapacity);
  const std::size_t regionAt = *templateBlock + kMarkerLength + kHeaderLength;
  FUZZ_CHECK(std::equal(kBuilderTag, kBuilderTag + kBuilderTagLength, program.begin() + static_cast<std::ptrdiff_t>(regionAt)));

  const Bytes output = fuzzsupport::ReadWholeFile(outputPath);
  FUZZ_CHECK(output.size() == program.size());

  std::string error;
  const std::optional<PayloadFile> payload = ReadPayloadFromFile(outputPath, error);
  FUZZ_CHECK(payload.has_value());
  FUZZ_CHECK(payload->MarkerOffset == *templateBlock);
  const PayloadBlock block = payload->View();
  const auto image = block.Image();
  FUZZ_CHECK(image.size() == firmware.size() && std::equal(image.begin(), image.end(), firmware.begin()));
  const auto header = MakePayloadHeader(model, selectedName, static_cast<std::uint32_t>(firmware.size()));
  const auto writtenHeader = block.Header();
  FUZZ_CHECK(std::equal(writtenHeader.begin(), writtenHeader.end(), header.begin(), header.end()));

  // Outside the header and the image region every byte is the template's; the region past the
  // image is zero.
  const std::size_t changedFrom = *templateBlock + kMarkerLength;
  const std::size_t imageEnd = regionAt + firmware.size();
  const std::size_t regionEnd = regionAt + kImageCapacity;
  FUZZ_CHECK(std::equal(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(changedFrom), program.begin()));
  FUZZ_CHECK(std::all_of(output.begin() + static_cast<std::ptrdiff_t>(imageEnd),
                         output.begin() + static_cast<std::ptrdiff_t>(regionEnd), [](std::uint8_t b) { return b == 0; }));
  FUZZ_CHECK(std::equal(output.begin() + static_cast<std::ptrdiff_t>(regionEnd), output.end(),
                        program.begin() + static_cast<std::ptrdiff_t>(regionEnd)));

  std::set<std::string> expected = before;
  expected.insert(outputName);
  FUZZ_CHECK(scratch.Names() == expected);
  std::filesystem::remove(outputPath);
  return 0;
}
