// odflash build: writes a flasher from a model file, a model number and a firmware file,
// exactly as the window's Build does, without a window.

#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include <cstdio>

#include "builder/FlasherIntegrity.h"
#include "builder/FlasherWriter.h"
#include "builder/ModelTable.h"
#include "cli/Command.h"
#include "cli/FlasherFile.h"
#include "cli/Trace.h"
#include "sys/Directory.h"
#include "sys/Files.h"
#include "sys/Sha256.h"

namespace cli {
namespace {

#ifdef _WIN32
constexpr const char* kDefaultTemplate = "odflash-gui.exe";
#else
constexpr const char* kDefaultTemplate = "odflash-gui";
#endif

// Captions and progress go nowhere; the first message is the command's error.
class CommandLineSink final : public builder::BuildSink {
public:
  void SetGroupCaption(const std::string& caption) override { lastCaption = caption; }
  void SetupProgress(std::uint64_t, std::uint32_t) override {}
  void StepProgress(std::uint64_t) override {}
  void SetProgressPosition(std::uint64_t) override {}
  void ShowMessage(const std::string& text) override {
    if (message.empty()) message = text;
  }
  void ShowFailure(const std::string& text, const std::string& reason) override {
    ShowMessage(reason.empty() ? text : text + ": " + reason);
  }
  std::string lastCaption;
  std::string message;
};

std::string DirectoryOf(const std::string& path) {
  return path.substr(0, path.size() - sys::FileNameOf(path).size());
}

struct BuildOptions {
  std::string ini;
  int model = 0;
  std::string firmware;
  std::string templatePath;
  std::string outputDirectory;
  std::string routines;
  bool force = false; // build even when the firmware's name does not fit the model's BINMask
  bool json = false;
};

// What the written flasher carries, read back from it as info reads it: the image's SHA-256
// and whether its integrity record matches.
int ReportFlasher(const std::string& caption, const std::string& flasher, bool json) {
  std::string error;
  const auto payload = ReadFlasherFile(flasher, error);
  if (!payload) {
    PrintError(error);
    return kExitFailure;
  }
  const std::string digest = sys::Sha256Hex(payload->View().Image());
  const payload::Integrity integrity = builder::CheckFlasherFile(flasher, *payload);
  if (json) {
    const nlohmann::ordered_json result = {{"schemaVersion", kJsonSchemaVersion},
                                           {"flasher", flasher},
                                           {"imageSha256", digest},
                                           {"integrity", payload::IntegrityName(integrity)}};
    std::printf("%s\n", result.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
  } else {
    std::printf("%s\n%s\nImage SHA-256: %s\nIntegrity:     %s\n", caption.c_str(), flasher.c_str(), digest.c_str(),
                IntegrityText(integrity).c_str());
  }
  // A flasher that does not check out right after its build was not written as built.
  return integrity == payload::Integrity::Damaged ? int{kExitFailure} : int{kExitSuccess};
}

int RunBuild(const BuildOptions& options) {
  const builder::ModelTableLoad load = builder::LoadModelTable(options.ini);
  if (!load.Loaded) {
    PrintError(load.MessageWithReason());
    return kExitFailure;
  }
  const builder::ModelTable& table = load.Table;
  if (options.model < 0 || static_cast<std::size_t>(options.model) >= table.Count()) {
    PrintError("no model " + std::to_string(options.model) + " in " + options.ini + " (it lists " +
               std::to_string(table.Count()) + ", numbered from 0)");
    return kExitFailure;
  }
  const builder::ModelSection& section = table.Sections[static_cast<std::size_t>(options.model)];
  // The window offers only the files the model's mask lists; a firmware of another model
  // would be refused by every drive of this one, or worse, accepted. A missing file is the
  // build's own error.
  if (!options.force && sys::KindOfPath(options.firmware) != sys::PathKind::Missing &&
      !sys::ListedUnderMasks(options.firmware, section.BINMask)) {
    PrintError(sys::FileNameOf(options.firmware) + " does not fit model " + std::to_string(options.model) +
               " (" + section.Entry.Model + "), whose firmware files are " + section.BINMask +
               "; --force builds it anyway");
    return kExitFailure;
  }
  builder::BuildRequest request;
  request.ProgramPath = options.templatePath.empty()
                            ? sys::JoinPath(DirectoryOf(sys::ModulePath()), kDefaultTemplate)
                            : options.templatePath;
  if (sys::KindOfPath(request.ProgramPath) == sys::PathKind::Missing) {
    PrintError("template " + request.ProgramPath + " not found; name one with --template");
    return kExitFailure;
  }
  request.FirmwarePath = options.firmware;
  request.SelectedFileName = sys::FileNameOf(options.firmware);
  request.OutputDirectory =
      options.outputDirectory.empty() ? sys::CurrentDirectory() : options.outputDirectory;
  request.ModelFilePath = options.ini;
  request.Model = section.Entry;
  request.RoutineStorePath = options.routines;
  CommandLineSink sink;
  sys::RemovePendingFilesOnInterrupt();
  if (!builder::NewBuildFlashProgram(request, sink)) {
    PrintError(sink.message);
    return kExitFailure;
  }
  return ReportFlasher(sink.lastCaption,
                       sys::JoinPath(request.OutputDirectory, builder::FlasherFileName(request.SelectedFileName)),
                       options.json);
}

} // namespace

std::function<int()> SetUpBuild(CLI::App& command) {
  auto options = std::make_shared<BuildOptions>();
  command.add_option("--ini", options->ini, "Model configuration file")->required();
  command.add_option("--model", options->model, "Model number N (section MODELnn, from 0)")
      ->required();
  command.add_option("--firmware", options->firmware,
                     "Firmware file; its name gives the flasher's name (\"%4.4s.EXE\") and "
                     "the new revision")
      ->required();
  command.add_option("--template", options->templatePath,
                     std::string("Program copied into the flasher (default: ") +
                         kDefaultTemplate + " beside odflash)");
  command.add_option("--output-dir", options->outputDirectory,
                     "Folder for the flasher (default: the current directory)");
  command.add_option("--routines", options->routines,
                     "Routine store file (5606 bytes) for the flasher (default: the template's "
                     ".ROUTINES file beside it when there is one, else the template's own store)");
  command.add_flag("--force", options->force,
                   "Build even when the firmware file's name does not fit the model's BINMask");
  command.add_flag("--json", options->json,
                   "Print the flasher's path, its image's SHA-256 and its integrity as JSON");
  return [options]() { return RunBuild(*options); };
}

} // namespace cli
