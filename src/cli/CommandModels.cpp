// odflash models INI [--json]: the model table of a model configuration file, as a builder
// reads it.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

#include "builder/ModelTable.h"
#include "cli/Command.h"

namespace cli {
namespace {

void PrintTable(const builder::ModelTable& table) {
  for (std::size_t i = 0; i < table.Count(); ++i) {
    const builder::ModelSection& section = table.Sections[i];
    std::printf("MODEL%02zu\n", i);
    std::printf("  Model:    %s\n", section.Entry.Model.c_str());
    std::printf("  Inquiry:  %s\n", section.Entry.Inquiry.c_str());
    std::printf("  FW-Range: %s\n", section.Entry.FirmwareRange.c_str());
    std::printf("  BINMask:  %s\n", section.BINMask.c_str());
    std::printf("  Vendor:   %s\n", section.Entry.Vendor.c_str());
    std::printf("  Note:     %s\n", section.Entry.Note.c_str());
    std::printf("  Item:     %s\n", section.Item.c_str());
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
