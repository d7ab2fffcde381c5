#include "builder/FlasherWriter.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "builder/MarkerSearch.h"
#include "builder/PayloadBlock.h"
#include "builder/PayloadTexts.h"
#include "sys/Directory.h"
#include "sys/Files.h"
#include "sys/Text.h"

namespace builder {
namespace {

constexpr std::size_t kCopyChunk = 64 * 1024;


// How many byte indexes j in [first, last] are multiples of the progress step: the byte-wise
// copy advances the progress bar at each of them.
std::uint64_t StepsIn(std::uint64_t first, std::uint64_t last) {
  if (last < first) return 0;
  const std::uint64_t upTo = last / kProgressStep + 1;
  const std::uint64_t below = first == 0 ? 0 : (first - 1) / kProgressStep + 1;
  return upTo - below;
}

bool IsOwnInput(const BuildRequest& request, const std::string& outputPath) {
  return sys::SameFile(outputPath, request.ProgramPath) ||
         sys::SameFile(outputPath, request.FirmwarePath) ||
         (!request.ModelFilePath.empty() && sys::SameFile(outputPath, request.ModelFilePath)) ||
         sys::SameFile(outputPath, sys::ModulePath());
}

} // namespace

std::string FlasherFileName(const std::string& selectedFileName) {
  // The first four characters, or the whole name when shorter: no blanks in front of a short
  // name, which a right-aligned "%4.4s" would put there.
  return selectedFileName.substr(0, 4) + ".EXE";
}

std::array<std::uint8_t, kHeaderLength> MakePayloadHeader(const ModelEntry& model,
                                                          const std::string& selectedFileName,
                                                          std::uint32_t firmwareLength) {
  std::array<std::uint8_t, kHeaderLength> header{};
  auto put = [&](std::size_t offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size() && i < kTextFieldMaxChars; ++i)
      header[offset + i] = static_cast<std::uint8_t>(text[i]);
  };
  put(kModelOffset, model.Model);
  put(kInquiryOffset, model.Inquiry);
  put(kFirmwareRangeOffset, model.FirmwareRange);
  put(kVendorOffset, model.Vendor);
  put(kNoteOffset, model.Note);
  const std::string revision = sys::UpperCase(selectedFileName.substr(0, kNewRevisionLength));
  for (std::size_t i = 0; i < revision.size(); ++i)
    header[kNewRevisionOffset + i] = static_cast<std::uint8_t>(revision[i]);
  for (std::size_t i = 0; i < 4; ++i)
    header[kImageLengthOffset + i] = static_cast<std::uint8_t>(firmwareLength >> (8 * i));
  return header;
}

bool NewBuildFlashProgram(const BuildRequest& request, BuildSink& sink) {
  const std::string& name = request.SelectedFileName;
  const std::string programName = sys::FileNameOf(request.ProgramPath);
  if (!request.Model) {
    sink.ShowMessage("No model selected: choose a model before building.");
    return false;
  }
  sink.SetGroupCaption("Building " + name + "  Please wait... ");

  // Only regular files, read with a limit: a folder, a FIFO or a device has no meaningful
  // length, or none at all.
  std::uint64_t firmwareLength = 0;
  std::string error;
  sys::FileHandle firmwareFile = sys::OpenRegularFile(request.FirmwarePath, ~std::uint64_t{0}, firmwareLength, error);
  if (!firmwareFile) {
    sink.ShowFailure("Open " + name + " fail!", error);
    return false;
  }
  // Refused before anything is written: a longer image would overwrite what follows the
  // image region, an empty one (or one starting with the builder tag) would build a builder.
  if (firmwareLength > kImageCapacity) {
    sink.ShowMessage("Firmware " + name + " is " + std::to_string(firmwareLength) +
                     " bytes; a flasher carries at most " + std::to_string(kImageCapacity) +
                     " bytes.");
    return false;
  }
  if (firmwareLength == 0) {
    sink.ShowMessage("Firmware " + name + " is empty (0 bytes): there is nothing to flash.");
    return false;
  }
  std::vector<std::uint8_t> image(static_cast<std::size_t>(firmwareLength));
  if (std::fread(image.data(), 1, image.size(), firmwareFile.get()) != image.size()) {
    sink.ShowFailure("Open " + name + " fail!", "cannot read " + request.FirmwarePath + ": " + sys::LastFileErrorText());
    return false;
  }
  firmwareFile.reset();
  if (image.size() >= kBuilderTagLength &&
      std::equal(image.begin(), image.begin() + kBuilderTagLength, kBuilderTag)) {
    sink.ShowMessage("Firmware " + name + " starts with the builder tag " + kBuilderTag +
                     ": the flasher would start as a builder.");
    return false;
  }

  std::uint64_t sourceLength = 0;
  sys::FileHandle program = sys::OpenRegularFile(request.ProgramPath, kMaxProgramBytes, sourceLength, error);
  if (!program) {
    sink.ShowFailure("Open " + request.ProgramPath + " fail!", error);
    return false;
  }
  sink.SetupProgress(sourceLength, kProgressStep);

  const std::string outputName = FlasherFileName(name);
  const std::string outputPath = sys::JoinPath(request.OutputDirectory, outputName);
  if (IsOwnInput(request, outputPath)) {
    sink.ShowMessage("Create " + outputName + " Fail: it is a file this build reads.");
    return false;
  }
  sys::PendingFile output;
  if (!output.Create(outputPath, true)) {
    sink.ShowFailure("Create " + outputName + " Fail", output.Error());
    return false;
  }
  const std::string writeFailure = "Building fail: cannot write " + outputPath;

  // Copy up to and including the marker's last byte.
  MarkerSearch search(OwnPayloadBlock().Marker());
  std::vector<std::uint8_t> buffer(kCopyChunk);
  std::uint64_t copied = 0;
  while (!search.Found()) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), program.get());
    if (got == 0) break;
    const std::size_t used = search.Feed(buffer.data(), got);
    if (!output.Write(buffer.data(), used)) {
      sink.ShowFailure(writeFailure, output.Error());
      return false;
    }
    sink.StepProgress(StepsIn(copied, copied + used - 1));
    copied += used;
  }
  if (!search.Found()) {
    sink.ShowMessage("Building fail: not found key-word in " + programName);
    return false;
  }

  // The builder's own header and the whole image region must follow the marker; a program
  // file cut short there cannot be a working flasher.
  const std::uint64_t afterMarker = sourceLength - copied;
  if (afterMarker < kHeaderLength + kImageCapacity) {
    sink.ShowMessage("Building fail: some problem in " + programName);
    return false;
  }
  // A flasher as template would give a flasher whose region holds its own old image bytes.
  std::uint8_t headerAndTag[kHeaderLength + kBuilderTagLength];
  if (!sys::SeekTo(program.get(), copied) ||
      std::fread(headerAndTag, 1, sizeof headerAndTag, program.get()) != sizeof headerAndTag) {
    sink.ShowMessage("Building fail: some problem in " + programName);
    return false;
  }
  if (!std::equal(headerAndTag + kHeaderLength, headerAndTag + sizeof headerAndTag, kBuilderTag)) {
    sink.ShowMessage("Building fail: " + programName +
                     " is a flasher, not a builder; build from a program that still carries the builder tag.");
    return false;
  }
  const auto header = MakePayloadHeader(*request.Model, name, static_cast<std::uint32_t>(image.size()));
  // Zeros after the image: nothing of the template's region may be taken for firmware.
  const std::vector<std::uint8_t> zeros(kImageCapacity - image.size(), 0);
  if (!output.Write(header.data(), header.size()) || !output.Write(image.data(), image.size()) ||
      !output.Write(zeros.data(), zeros.size())) {
    sink.ShowFailure(writeFailure, output.Error());
    return false;
  }
  sink.StepProgress(image.size() / kProgressStep);

  // The rest of the program file, unchanged. Byte indexes continue as the byte-wise copy
  // counts them: the marker's last byte was copied - 1.
  std::uint64_t j = copied - 1 + kHeaderLength + image.size();
  sink.StepProgress(StepsIn(j + 1, j + zeros.size()));
  j += zeros.size();
  if (!sys::SeekTo(program.get(), j + 1)) {
    sink.ShowMessage("Building fail: some problem in " + programName);
    return false;
  }
  // Copied in slices so that the progress bar still moves on a long copy.
  constexpr std::uint64_t kSlice = 8u << 20;
  const std::uint64_t last = sourceLength - 1;
  while (j < last) {
    const std::uint64_t got = sys::CopyBytes(program.get(), output.Stream(), std::min(kSlice, last - j));
    if (got == 0) break;
    sink.StepProgress(StepsIn(j, j + got - 1));
    j += got;
  }
  if (std::ferror(output.Stream())) {
    sink.ShowFailure(writeFailure, sys::LastFileErrorText());
    return false;
  }
  program.reset();

  if (j + 1 != sourceLength) {
    sink.ShowMessage("Building fail: some problem in " + programName);
    return false;
  }
  if (!output.Commit(outputPath)) {
    sink.ShowFailure("Create " + outputName + " Fail", output.Error());
    return false;
  }
  sink.SetGroupCaption("Build " + outputName + " complete!");
  sink.SetProgressPosition(0);
  return true;
}

} // namespace builder
