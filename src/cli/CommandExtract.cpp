// odflash extract FILE -o OUT: writes the firmware image a flasher carries.

#include <CLI/CLI.hpp>

#include <cstdio>

#include "builder/PayloadFile.h"
#include "cli/Command.h"
#include "sys/Files.h"

namespace cli {
namespace {

const bool registered = RegisterCommand(
    30, "extract", "Write the firmware image a flasher carries to a file",
    [](CLI::App& command) -> std::function<int()> {
      auto file = std::make_shared<std::string>();
      auto out = std::make_shared<std::string>();
      command.add_option("FILE", *file, "Flasher executable")->required();
      command.add_option("-o,--output", *out, "File to write the image to (replaced if it exists)")
          ->required();
      return [file, out]() {
        std::string error;
        const auto payload = builder::ReadPayloadFromFile(*file, error);
        if (!payload) {
          PrintError(error);
          return int{kExitFailure};
        }
        const builder::PayloadBlock block = payload->View();
        if (block.HasBuilderTag()) {
          PrintError(*file + " is a builder: it carries no firmware image");
          return int{kExitFailure};
        }
        if (sys::SameFile(*out, *file)) {
          PrintError("refusing to overwrite " + *file + " with its own image");
          return int{kExitFailure};
        }
        const auto image = block.Image();
        sys::PendingFile output;
        if (!output.Create(*out, false) || !output.Write(image.data(), image.size()) ||
            !output.Commit(*out)) {
          PrintError("cannot write " + *out);
          return int{kExitFailure};
        }
        std::printf("%zu bytes written to %s\n", image.size(), out->c_str());
        return int{kExitSuccess};
      };
    });

} // namespace
} // namespace cli
