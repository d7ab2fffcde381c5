// odflash extract FILE -o OUT: writes the firmware image a flasher carries.

#include <CLI/CLI.hpp>

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "builder/FlasherIntegrity.h"
#include "builder/PayloadFile.h"
#include "cli/Command.h"
#include "cli/FlasherFile.h"
#include "cli/Trace.h"
#include "sys/Files.h"

namespace cli {
namespace {

constexpr const char* kStandardOutput = "-";

// The image to standard output, in binary mode.
bool WriteToStandardOutput(std::span<const std::uint8_t> image) {
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  return std::fwrite(image.data(), 1, image.size(), stdout) == image.size() && std::fflush(stdout) == 0;
}

int RunExtract(const std::string& file, const std::string& out) {
  std::string error;
  const auto payload = ReadFlasherFile(file, error);
  if (!payload) {
    PrintError(error);
    return kExitFailure;
  }
  const payload::PayloadBlock block = payload->View();
  if (block.HasBuilderTag()) {
    PrintError(file + " is a builder: it carries no firmware image");
    return kExitFailure;
  }
  // The image of a damaged flasher is still written (it may be what is needed to see the
  // damage), with a warning.
  if (builder::CheckFlasherFile(file, *payload) == payload::Integrity::Damaged)
    PrintError("warning: " + file + " is damaged: its integrity record does not match what it carries; the "
               "image written may not be the one it was built with");
  const auto image = block.Image();
  if (out == kStandardOutput) {
    if (!WriteToStandardOutput(image)) {
      PrintError("cannot write the image to standard output: " + sys::LastFileErrorText());
      return kExitFailure;
    }
    return kExitSuccess;
  }
  if (sys::SameFile(out, file)) {
    PrintError("refusing to overwrite " + file + " with its own image");
    return kExitFailure;
  }
  sys::RemovePendingFilesOnInterrupt();
  std::string writeError;
  auto output = sys::PendingFile::Create(out, false, writeError);
  if (!output || !output->Write(image.data(), image.size(), writeError) || !output->Keep(writeError)) {
    PrintError("cannot write " + out + ": " + writeError);
    return kExitFailure;
  }
  std::printf("%zu bytes written to %s\n", image.size(), out.c_str());
  return kExitSuccess;
}

} // namespace

std::function<int()> SetUpExtract(CLI::App& command) {
  auto file = std::make_shared<std::string>();
  auto out = std::make_shared<std::string>();
  command.add_option("FILE", *file, "Flasher executable")->required();
  command.add_option("-o,--output", *out,
                     "File to write the image to (a regular file, replaced if it exists; - for "
                     "standard output)")
      ->required();
  return [file, out]() { return RunExtract(*file, *out); };
}

} // namespace cli
