#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <vector>

#include "cli/Command.h"
#include "cli/TerminalSink.h"
#include "cli/Trace.h"
#include "sys/Messages.h"
#include "sys/StandardStreams.h"
#include "sys/Version.h"

namespace cli {
namespace {

struct CommandEntry {
  const char* name;
  const char* description;
  std::function<int()> (*setUp)(CLI::App& command);
};

// The commands, in the order the general help lists them.
constexpr CommandEntry kCommands[] = {
    {"scan", "List the optical drives found, with their identity", SetUpScan},
    {"models", "Show the model table of a model configuration file (INI)", SetUpModels},
    {"info", "Show the payload a flasher (or builder) file carries", SetUpInfo},
    {"extract", "Write the firmware image a flasher carries to a file", SetUpExtract},
    {"build", "Build a flasher executable from a model file and a firmware file", SetUpBuild},
    {"flash", "Update a drive with the firmware a flasher file carries", SetUpFlash},
};

constexpr const char* kExitCodeHelp =
    "Exit codes: 0 success, 1 failure (bad file, I/O error, refused build), 2 usage error,\n"
    "3 no eligible drive, 4 update declined, 5 drive command failed,\n"
    "6 verification mismatch, 7 flash failed, 8 drive in use by another program or update\n"
    "(or, on Linux, not open to this user for an update).\n"
    "An interrupt held during a flash ends it with the interrupt's own code: 128 + signal\n"
    "(130 for Ctrl+C), on Windows 0xC000013A. flash --all ends with the worst code of its drives.";

// The drive layer's own messages (sense reports, a missing ASPI library) go to standard
// error: a command line must never stop on a message box. Questions are answered No.
class ConsoleMessages final : public sys::MessagePresenter {
public:
  sys::MessageAnswer Show(const std::string& text, sys::MessageKind, sys::MessageButtons buttons) override {
    std::fprintf(stderr, "%s\n", TerminalText(text).c_str());
    TraceNote(TerminalText(text));
    return buttons == sys::MessageButtons::YesNo ? sys::MessageAnswer::No : sys::MessageAnswer::Ok;
  }
};

const CLI::App* FindCommand(const CLI::App& app, const std::string& name) {
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
    if (command->get_name() == name) return command;
  return nullptr;
}

// The commands with their descriptions, one a line, as the general help lists them.
std::string CommandList(const CLI::App& app) {
  std::string list;
  char line[200];
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    std::snprintf(line, sizeof line, "  %-10s %s\n", command->get_name().c_str(), command->get_description().c_str());
    list += line;
  }
  return list;
}

int UnknownCommand(const CLI::App& app, const std::string& name) {
  std::fprintf(stderr,
               "odflash: unknown command '%s'\nCommands:\n%s"
               "Run \"odflash help COMMAND\" for a command's options.\n",
               name.c_str(), CommandList(app).c_str());
  return kExitUsage;
}

// odflash help [COMMAND]
int Help(const CLI::App& app, const std::string& topic) {
  if (topic.empty()) {
    // App::help() would show the help of the command parsed last: this one.
    std::printf("%s", app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal).c_str());
    return kExitSuccess;
  }
  const CLI::App* command = FindCommand(app, topic);
  if (command == nullptr) return UnknownCommand(app, topic);
  std::printf("%s", command->help(app.get_name()).c_str());
  return kExitSuccess;
}

// "output to standard output was lost (Broken pipe, 120 bytes)", for the streams that lost any.
std::string LostStreamText(const sys::StreamDelivery& output, const sys::StreamDelivery& errors) {
  auto detail = [](const sys::StreamDelivery& stream) {
    return " (" + stream.reason + ", " + std::to_string(stream.droppedBytes) + " bytes)";
  };
  if (output.sharedWithOther) return "output to standard output and standard error was lost" + detail(output);
  if (output.lost && errors.lost)
    return "output to standard output was lost" + detail(output) + " and to standard error" + detail(errors);
  return output.lost ? "output to standard output was lost" + detail(output)
                     : "output to standard error was lost" + detail(errors);
}

// The end of a run whose output the relay carried, or whose log was cut short: says once, on a
// stream that still works, what was lost. The run's exit code stays what the run made it.
void ReportLostOutput() {
  sys::StreamDelivery output, errors;
  sys::StopOutputRelay(output, errors);
  std::string lost;
  if (output.lost || errors.lost) lost = LostStreamText(output, errors);
  if (const std::string log = LogCutShortText(); !log.empty()) lost += (lost.empty() ? "" : "; ") + log;
  if (lost.empty()) return;
  const std::string line = "odflash: " + lost + "; the run went on without it\n";
  std::FILE* working = !errors.lost ? stderr : (!output.lost ? stdout : nullptr);
  if (working == nullptr) return;
  std::fputs(line.c_str(), working);
  std::fflush(working);
}

} // namespace

} // namespace cli

int main(int argc, char** argv) {
  // Before anything is opened: no file or device of ours may become standard output.
  sys::OpenClosedStandardStreams();
  CLI::App app{"odflash: firmware update utility for optical drives (command-line companion)",
               "odflash"};
  app.footer(cli::kExitCodeHelp);
  app.set_version_flag("--version", std::string("odflash ") + sys::OdflashVersion(), "Print the version and exit");
  app.require_subcommand(1);
  // Options start with "-" on every platform: "/tmp/x" is a path, not a Windows-style option.
  app.allow_windows_style_options(false);

  std::vector<std::pair<CLI::App*, std::function<int()>>> actions;
  for (const cli::CommandEntry& entry : cli::kCommands) {
    CLI::App* command = app.add_subcommand(entry.name, entry.description);
    command->footer(cli::kExitCodeHelp);
    actions.emplace_back(command, entry.setUp(*command));
  }
  std::string helpTopic;
  CLI::App* help = app.add_subcommand("help", "Show the general help, or the options of one command");
  help->add_option("COMMAND", helpTopic, "The command whose options to show");
  actions.emplace_back(help, [&app, &helpTopic]() { return cli::Help(app, helpTopic); });

  // A first word that is no option must name a command; CLI11 would only say that one is
  // required.
  if (argc > 1 && argv[1][0] != '-' && cli::FindCommand(app, argv[1]) == nullptr)
    return cli::UnknownCommand(app, argv[1]);
  cli::RememberCommandLine(argc, argv);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    cli::PrintError(e.what());
    return cli::kExitUsage;
  }

  static cli::ConsoleMessages consoleMessages; // outlives every drive object
  sys::SetMessages(&consoleMessages);
  for (auto& [command, action] : actions) {
    if (command->parsed()) {
      int code = cli::kExitFailure;
      try {
        code = action();
      } catch (const std::exception& e) {
        cli::PrintError(e.what());
      }
      cli::EndTrace(code);
      cli::ReportLostOutput();
      return code;
    }
  }
  return cli::kExitUsage;
}
