#include "builder/FlasherWriter.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "builder/FlasherIntegrity.h"
#include "builder/MarkerSearch.h"
#include "builder/RoutineStoreFile.h"
#include "payload/PayloadBlock.h"
#include "payload/PayloadTexts.h"
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

// A step's failure: its text, and the system's reason when there is one (ShowFailure).
struct BuildFailure {
  std::string Text;
  std::optional<std::string> Reason;
};
using StepResult = std::optional<BuildFailure>; // empty: the step succeeded

// One build, in the order its steps run. Each step returns its failure without showing it;
// progress goes to the sink as the copy moves.
class FlasherBuild {
public:
  FlasherBuild(const BuildRequest& request, BuildSink& sink)
      : request_(request), sink_(sink), name_(request.SelectedFileName),
        programName_(sys::FileNameOf(request.ProgramPath)), outputName_(FlasherFileName(name_)),
        outputPath_(sys::JoinPath(request.OutputDirectory, outputName_)),
        writeFailure_("Building fail: cannot write " + outputPath_) {}

  // The whole firmware file into memory, refused before anything is written when no flasher
  // could carry it.
  StepResult ReadFirmware() {
    // Only regular files, read with a limit: a folder, a FIFO or a device has no meaningful
    // length, or none at all.
    std::uint64_t firmwareLength = 0;
    std::string error;
    sys::FileHandle firmwareFile =
        sys::OpenRegularFile(request_.FirmwarePath, ~std::uint64_t{0}, firmwareLength, error);
    if (!firmwareFile) return BuildFailure{"Open " + name_ + " fail!", error};
    // A longer image would overwrite what follows the image region, an empty one (or one
    // starting with the builder tag) would build a builder.
    if (firmwareLength > payload::kImageCapacity)
      return BuildFailure{"Firmware " + name_ + " is " + std::to_string(firmwareLength) +
                          " bytes; a flasher carries at most " +
                          std::to_string(payload::kImageCapacity) + " bytes."};
    if (firmwareLength == 0)
      return BuildFailure{"Firmware " + name_ + " is empty (0 bytes): there is nothing to flash."};
    image_.resize(static_cast<std::size_t>(firmwareLength));
    if (std::fread(image_.data(), 1, image_.size(), firmwareFile.get()) != image_.size())
      return BuildFailure{"Open " + name_ + " fail!",
                          "cannot read " + request_.FirmwarePath + ": " + sys::LastFileErrorText()};
    if (image_.size() >= payload::kBuilderTagLength &&
        std::equal(image_.begin(), image_.begin() + payload::kBuilderTagLength,
                   payload::kBuilderTag))
      return BuildFailure{"Firmware " + name_ + " starts with the builder tag " +
                          payload::kBuilderTag + ": the flasher would start as a builder."};
    return std::nullopt;
  }

  // The routine store file, when the build has one, checked before anything is written.
  StepResult ReadRoutineStore() {
    storePath_ = request_.RoutineStorePath;
    if (storePath_.empty()) {
      const std::string beside = RoutineStoreFileName(request_.ProgramPath);
      if (sys::KindOfPath(beside) == sys::PathKind::Missing) return std::nullopt;
      storePath_ = beside;
    }
    std::string reason;
    auto store = ReadRoutineStoreFile(storePath_, reason);
    if (!store)
      return BuildFailure{"Building fail: the routine store " + storePath_ + " cannot be used: " + reason + "."};
    store_ = std::move(*store);
    return std::nullopt;
  }

  // Opens the program and the output, and copies the program up to and including the
  // marker's last byte.
  StepResult CopyToMarker() {
    std::string error;
    program_ =
        sys::OpenRegularFile(request_.ProgramPath, payload::kMaxProgramBytes, sourceLength_, error);
    if (!program_) return BuildFailure{"Open " + request_.ProgramPath + " fail!", error};
    sink_.SetupProgress(sourceLength_, kProgressStep);
    if (IsOwnInput(request_, outputPath_))
      return BuildFailure{"Create " + outputName_ + " Fail: it is a file this build reads."};
    auto output = sys::PendingFile::Create(outputPath_, true, error);
    if (!output) return BuildFailure{"Create " + outputName_ + " Fail", error};
    output_ = std::move(*output);

    bool written = true;
    const MarkerScan scan = ReadThroughMarker(
        program_.get(), payload::OwnPayloadBlock().Marker(), kCopyChunk,
        [this, &written, &error](const std::uint8_t* data, std::size_t length) {
          written = output_->Write(data, length, error);
          if (!written) return false;
          sink_.StepProgress(StepsIn(copied_, copied_ + length - 1));
          copied_ += length;
          return true;
        });
    if (!written) return BuildFailure{writeFailure_, error};
    if (!scan.found) return BuildFailure{"Building fail: not found key-word in " + programName_};
    return std::nullopt;
  }

  // Checks that a builder's block follows the marker, then writes the new header, the image
  // and zeros for the rest of the image region in its place.
  StepResult WritePayload() {
    // The builder's own header and the whole image region must follow the marker; a program
    // file cut short there cannot be a working flasher.
    if (sourceLength_ - copied_ < payload::kHeaderLength + payload::kImageCapacity)
      return SomeProblem();
    // A flasher as template would give a flasher whose region holds its own old image bytes.
    std::uint8_t headerAndTag[payload::kHeaderLength + payload::kBuilderTagLength];
    if (!sys::SeekTo(program_.get(), copied_) ||
        std::fread(headerAndTag, 1, sizeof headerAndTag, program_.get()) != sizeof headerAndTag)
      return SomeProblem();
    if (!std::equal(headerAndTag + payload::kHeaderLength, headerAndTag + sizeof headerAndTag,
                    payload::kBuilderTag))
      return BuildFailure{"Building fail: " + programName_ +
                          " is a flasher, not a builder; build from a program that still carries "
                          "the builder tag."};
    header_ = MakePayloadHeader(*request_.Model, name_, static_cast<std::uint32_t>(image_.size()));
    // Zeros after the image: nothing of the template's region may be taken for firmware.
    const std::vector<std::uint8_t> zeros(payload::kImageCapacity - image_.size(), 0);
    std::string error;
    if (!output_->Write(header_.data(), header_.size(), error) ||
        !output_->Write(image_.data(), image_.size(), error) || !output_->Write(zeros.data(), zeros.size(), error))
      return BuildFailure{writeFailure_, error};
    sink_.StepProgress(image_.size() / kProgressStep);
    // Byte indexes continue as the byte-wise copy counts them: the marker's last byte was
    // copied - 1.
    lastIndex_ = copied_ - 1 + payload::kHeaderLength + image_.size();
    sink_.StepProgress(StepsIn(lastIndex_ + 1, lastIndex_ + zeros.size()));
    lastIndex_ += zeros.size();
    return std::nullopt;
  }

  // The rest of the program file, unchanged, then the output moved into place.
  StepResult CopyRest() {
    std::uint64_t j = lastIndex_;
    if (!sys::SeekTo(program_.get(), j + 1)) return SomeProblem();
    // Copied in slices so that the progress bar still moves on a long copy.
    constexpr std::uint64_t kSlice = 8u << 20;
    const std::uint64_t last = sourceLength_ - 1;
    while (j < last) {
      const std::uint64_t got = sys::CopyBytes(program_.get(), output_->Stream(), std::min(kSlice, last - j));
      if (got == 0) break;
      sink_.StepProgress(StepsIn(j, j + got - 1));
      j += got;
    }
    if (std::ferror(output_->Stream())) return BuildFailure{writeFailure_, sys::LastFileErrorText()};
    if (j + 1 != sourceLength_) return SomeProblem();
    if (const StepResult failure = ReplaceRoutineStore()) return failure;
    if (const StepResult failure = WriteIntegrityRecord()) return failure;
    program_.reset();
    std::string error;
    if (!output_->Keep(error)) return BuildFailure{"Create " + outputName_ + " Fail", error};
    return std::nullopt;
  }

private:
  // Writes the store file over the copy's store block, which is found in the program outside
  // its payload block; the output keeps the program's length.
  StepResult ReplaceRoutineStore() {
    if (store_.empty()) return std::nullopt;
    const auto block = FindRoutineStoreBlock(program_.get(), copied_ - payload::kMarkerLength);
    if (!block)
      return BuildFailure{"Building fail: " + programName_ + " has no routine store block to carry " +
                          storePath_ + "."};
    std::FILE* output = output_->Stream();
    if (!sys::SeekTo(output, block->MarkerOffset + payload::kStoreMarkerLength) ||
        std::fwrite(store_.data(), 1, store_.size(), output) != store_.size() || std::fflush(output) != 0)
      return BuildFailure{writeFailure_, sys::LastFileErrorText()};
    return std::nullopt;
  }

  // Fills the copy's integrity record for the header, the image and the store the flasher
  // carries. A template without a record block (or without a store block) makes a flasher
  // without a record, as it always did.
  StepResult WriteIntegrityRecord() {
    const std::uint64_t payloadOffset = copied_ - payload::kMarkerLength;
    const auto block = FindIntegrityRecordBlock(program_.get(), payloadOffset);
    if (!block) return std::nullopt;
    std::vector<std::uint8_t> store = store_;
    if (store.empty()) {
      auto own = FindRoutineStoreBlock(program_.get(), payloadOffset);
      if (!own) return std::nullopt;
      store = std::move(own->Store);
    }
    const payload::IntegrityRecord record = payload::MakeIntegrityRecord(header_, image_, store);
    std::FILE* output = output_->Stream();
    if (!sys::SeekTo(output, block->MarkerOffset + payload::kRecordMarkerLength) ||
        std::fwrite(record.data(), 1, record.size(), output) != record.size() || std::fflush(output) != 0)
      return BuildFailure{writeFailure_, sys::LastFileErrorText()};
    return std::nullopt;
  }

  BuildFailure SomeProblem() const { return {"Building fail: some problem in " + programName_}; }

  const BuildRequest& request_;
  BuildSink& sink_;
  const std::string name_;
  const std::string programName_;
  const std::string outputName_;
  const std::string outputPath_;
  const std::string writeFailure_;
  std::vector<std::uint8_t> image_;
  std::array<std::uint8_t, payload::kHeaderLength> header_{};
  std::string storePath_;
  std::vector<std::uint8_t> store_; // empty: the flasher keeps the program's store
  sys::FileHandle program_;
  std::uint64_t sourceLength_ = 0;
  std::optional<sys::PendingFile> output_; // from CopyToMarker on
  std::uint64_t copied_ = 0;    // program bytes copied through the marker's last byte
  std::uint64_t lastIndex_ = 0; // index of the last byte written, as the byte-wise copy counts
};

} // namespace

std::string FlasherFileName(const std::string& selectedFileName) {
  // The first four characters, or the whole name when shorter: no blanks in front of a short
  // name, which a right-aligned "%4.4s" would put there.
  return selectedFileName.substr(0, 4) + ".EXE";
}

std::array<std::uint8_t, payload::kHeaderLength> MakePayloadHeader(
    const ModelEntry& model, const std::string& selectedFileName, std::uint32_t firmwareLength) {
  std::array<std::uint8_t, payload::kHeaderLength> header{};
  auto put = [&](std::size_t offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size() && i < payload::kTextFieldMaxChars; ++i)
      header[offset + i] = static_cast<std::uint8_t>(text[i]);
  };
  put(payload::kModelOffset, model.Model);
  put(payload::kInquiryOffset, model.Inquiry);
  put(payload::kFirmwareRangeOffset, model.FirmwareRange);
  put(payload::kVendorOffset, model.Vendor);
  put(payload::kNoteOffset, model.Note);
  const std::string revision =
      sys::UpperCase(selectedFileName.substr(0, payload::kNewRevisionLength));
  for (std::size_t i = 0; i < revision.size(); ++i)
    header[payload::kNewRevisionOffset + i] = static_cast<std::uint8_t>(revision[i]);
  for (std::size_t i = 0; i < 4; ++i)
    header[payload::kImageLengthOffset + i] = static_cast<std::uint8_t>(firmwareLength >> (8 * i));
  return header;
}

bool NewBuildFlashProgram(const BuildRequest& request, BuildSink& sink) {
  if (!request.Model) {
    sink.ShowMessage("No model selected: choose a model before building.");
    return false;
  }
  sink.SetGroupCaption("Building " + request.SelectedFileName + "  Please wait... ");
  FlasherBuild build(request, sink);
  StepResult failure = build.ReadFirmware();
  if (!failure) failure = build.ReadRoutineStore();
  if (!failure) failure = build.CopyToMarker();
  if (!failure) failure = build.WritePayload();
  if (!failure) failure = build.CopyRest();
  if (failure) {
    if (failure->Reason) sink.ShowFailure(failure->Text, *failure->Reason);
    else sink.ShowMessage(failure->Text);
    return false;
  }
  sink.SetGroupCaption("Build " + FlasherFileName(request.SelectedFileName) + " complete!");
  sink.SetProgressPosition(0);
  return true;
}

} // namespace builder
