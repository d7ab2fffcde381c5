#pragma once
// Writing a flasher executable: a copy of a program file carrying the payload block, in which
// the payload header and the image are replaced by a model's texts and a firmware file.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "builder/ModelTable.h"
#include "payload/PayloadLayout.h"

namespace builder {

// What a build shows while it runs. The window and the command line each implement it.
class BuildSink {
public:
  virtual ~BuildSink() = default;
  // The group box caption; shown at once.
  virtual void SetGroupCaption(const std::string& caption) = 0;
  // Progress bar: minimum 0, the given maximum, position 0, the given step.
  virtual void SetupProgress(std::uint64_t maximum, std::uint32_t step) = 0;
  // Advances the progress bar by steps steps (as that many step-its would).
  virtual void StepProgress(std::uint64_t steps) = 0;
  virtual void SetProgressPosition(std::uint64_t position) = 0;
  // A message box with an OK button.
  virtual void ShowMessage(const std::string& text) = 0;
  // A failure and the system's reason for it. The window shows its own text alone; the
  // command line adds the reason.
  virtual void ShowFailure(const std::string& text, const std::string& /*reason*/) { ShowMessage(text); }
};

struct BuildRequest {
  std::string ProgramPath;       // the program file copied: the running builder, or a template
  std::string FirmwarePath;      // full path of the firmware file
  std::string SelectedFileName;  // the firmware file's name without directory
  std::string OutputDirectory;   // where the flasher (FlasherFileName) is written
  std::string ModelFilePath;     // the model file the entry was read from (never overwritten)
  std::optional<ModelEntry> Model;  // empty when no model is selected
  // A routine store file for the flasher's store block. Empty: the store file beside the
  // program (RoutineStoreFileName) when there is one, else the flasher keeps the program's store.
  std::string RoutineStorePath;
};

inline constexpr std::uint32_t kProgressStep = 1024;

// The flasher's name: the selected file name's first four characters (all of it when
// shorter) and ".EXE"; not upper-cased.
std::string FlasherFileName(const std::string& selectedFileName);

// The 137-byte payload header for a model, a selected file name and a firmware length.
std::array<std::uint8_t, payload::kHeaderLength> MakePayloadHeader(
    const ModelEntry& model, const std::string& selectedFileName, std::uint32_t firmwareLength);

// Builds the flasher; true when it was written completely. Every failure has been shown through
// the sink. The program must be a builder (its image region starts with the builder tag); the
// image region past the firmware is zero-filled. A routine store file is checked before the
// output is created and written over the copy's store block. The output may be none of the build's inputs
// (program, firmware, model file, the running program) and no existing non-regular file; it is
// written to a temporary file, flushed to disk and moved into place only when complete, so a
// failed build leaves any earlier file of that name as it was.
bool NewBuildFlashProgram(const BuildRequest& request, BuildSink& sink);

} // namespace builder
