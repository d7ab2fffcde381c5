// odflash models INI [--json]: the model table of a model configuration file, as a builder
// reads it.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

#include "builder/ModelTable.h"
#include "cli/Command.h"
#include "cli/Trace.h"
#include "sys/Text.h"

namespace cli {
namespace {

// The file's values with their control bytes shown as '?' (the JSON keeps them exact).
void PrintTable(const builder::ModelTable& table) {
  auto print = [](const char* label, const std::string& value) {
    std::printf("  %-9s %s\n", label, sys::PrintableText(value).c_str());
  };
  for (std::size_t i = 0; i < table.Count(); ++i) {
    const builder::ModelSection& section = table.Sections[i];
    std::printf("MODEL%02zu\n", i);
    print("Model:", section.Entry.Model);
    print("Inquiry:", section.Entry.Inquiry);
    print("FW-Range:", section.Entry.FirmwareRange);
    print("BINMask:", section.BINMask);
    print("Vendor:", section.Entry.Vendor);
    print("Note:", section.Entry.Note);
    print("Item:", section.Item);
  }
}

nlohmann::ordered_json TableJson(const builder::ModelTable& table) {
  nlohmann::ordered_json models = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < table.Count(); ++i) {
    const builder::ModelSection& section = table.Sections[i];
    char name[32];
    std::snprintf(name, sizeof name, "MODEL%02zu", i);
    models.push_back({{"section", name},
                      {"model", section.Entry.Model},
                      {"inquiry", section.Entry.Inquiry},
                      {"firmwareRange", section.Entry.FirmwareRange},
                      {"binMask", section.BINMask},
                      {"vendor", section.Entry.Vendor},
                      {"note", section.Entry.Note},
                      {"item", section.Item}});
  }
  return {{"schemaVersion", kJsonSchemaVersion}, {"models", models}};
}

} // namespace

std::function<int()> SetUpModels(CLI::App& command) {
  auto ini = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  command.add_option("INI", *ini, "Model configuration file (sections MODEL00 to MODEL99)")
      ->required();
  command.add_flag("--json", *json, "Print the table as JSON");
  return [ini, json]() {
    const builder::ModelTableLoad load = builder::LoadModelTable(*ini);
    if (!load.Loaded) {
      PrintError(load.MessageWithReason());
      return int{kExitFailure};
    }
    if (*json)
      std::printf("%s\n", TableJson(load.Table)
                              .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                              .c_str());
    else
      PrintTable(load.Table);
    return int{kExitSuccess};
  };
}

} // namespace cli
