#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "command_table.h"
#include "component.h"
#include "echo_privilege.h"
#include "help_text.h"
#include "option_values.h"
#include "setting_bounds.h"
#include "standard_output.h"

namespace telvario::cli {
namespace {

// What the command line asks for besides a command, each ending its reading at once.
struct VersionAsked {};
struct ManualAsked {};

// The command line as CLI11 reads it: the options of every command, and each command of the
// table with its own.
struct CommandLine {
  CLI::App app{"", "telvario"};
  CommonOptions common;
  std::vector<std::pair<CLI::App*, std::unique_ptr<Command>>> commands;
};

void AddCommonOptions(CommandLine& line) {
  CLI::App& app = line.app;
  CommonOptions& common = line.common;
  app.set_help_flag("-h,--help", "print this help; after a command, that command's");
  app.add_flag_callback(
      "--version", [] { throw VersionAsked(); },
      "print the component's version, from its version record");
  app.add_flag_callback("--manual", [] { throw ManualAsked(); })->group("");
  app.add_option_function<std::string>(
         "--class",
         [&common](const std::string& name) {
           if (name != "Sonde2" && name != "Sonde")
             throw UsageError("--class takes Sonde2 or Sonde");
           common.className = name;
         },
         "the object to make: Sonde2 (the default) or Sonde")
      ->type_name("NAME");
  AddWholeNumber(app, "--packet-size,--size", common.packetSize, "set PacketSize first", "N",
                 &kPacketSizeBounds);
  AddWholeNumber(app, "--ping-reps,--reps", common.pingReps, "set PingReps first", "N",
                 &kPingRepsBounds);
  app.add_flag("--json", common.json, "print one JSON object instead of text");
}

std::unique_ptr<CommandLine> BuildCommandLine() {
  auto line = std::make_unique<CommandLine>();
  // An option given twice counts as given last, as it always has.
  line->app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  line->app.require_subcommand(0, 1);
  AddCommonOptions(*line);
  for (const CommandEntry& entry : CommandTable()) {
    CLI::App* command = line->app.add_subcommand(entry.name, entry.summary);
    // The options of every command may follow the command's own.
    command->fallthrough();
    line->commands.emplace_back(command, entry.add(*command));
  }
  return line;
}

bool LooksLikeOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !ReadWholeNumber(word);
}

// A usage error in the client's words, naming the command it belongs to.
std::string UsageMessage(const CLI::App& app, const CLI::ParseError& error) {
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  const std::string command = chosen.empty() ? "" : chosen.front()->get_name();
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    const std::vector<std::string> extra = app.remaining(true);
    if (!extra.empty() && LooksLikeOption(extra.front())) {
      return command.empty() ? "unknown option " + extra.front()
                             : command + " has no option " + extra.front();
    }
    if (!extra.empty() && command.empty()) return "unknown command " + extra.front();
    if (!extra.empty()) return command + " takes no argument " + extra.front();
  }
  return command.empty() ? error.what() : command + ": " + error.what();
}

enum class Asked { Run, Help, Version, Manual };

struct Parsed {
  Asked asked = Asked::Run;
  std::string command = kDefaultCommand;
};

Parsed Parse(CommandLine& line, int argc, char** argv) {
  Parsed parsed;
  try {
    line.app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    parsed.asked = Asked::Help;
    parsed.command.clear();
  } catch (const VersionAsked&) {
    parsed.asked = Asked::Version;
  } catch (const ManualAsked&) {
    parsed.asked = Asked::Manual;
  } catch (const CLI::ParseError& error) {
    throw UsageError(UsageMessage(line.app, error));
  }
  const std::vector<CLI::App*> chosen = line.app.get_subcommands();
  if (!chosen.empty()) parsed.command = chosen.front()->get_name();
  return parsed;
}

Command& CommandNamed(CommandLine& line, const std::string& name) {
  for (auto& [app, command] : line.commands) {
    if (app->get_name() == name) return *command;
  }
  throw std::logic_error("no command " + name + " in the table");
}

int PrintVersion() {
  const std::string version = ComponentVersion();
  if (version.empty()) throw RunFailure("the component's version record cannot be read");
  WriteOut("telvario " + version + "\n");
  return kMeasured;
}

int RunCommand(const std::string& name, Command& command, const CommonOptions& common,
               const EchoSockets& sockets) {
  if (command.NeedsSonde2() && common.className != "Sonde2") {
    throw UsageError(name + " needs --class Sonde2");
  }
  command.Prepare(common);
  if (!command.NeedsComponent()) {
    // The client's own echo service sends what such a command sends.
    HandOverEchoSockets(sockets, nullptr);
    return command.RunAlone(common);
  }
  const Component component(common.className == "Sonde" ? CLSID_Sonde : CLSID_Sonde2);
  if (component.Sonde() == nullptr) throw RunFailure(component.Error());
  HandOverEchoSockets(sockets, reinterpret_cast<TakeSocketFn>(reinterpret_cast<void*>(
                                   GetProcAddress(component.Library(), "SetIcmpRawSocket"))));
  ISonde& sonde = *component.Sonde();
  if (common.packetSize) sonde.put_PacketSize(To16(*common.packetSize));
  if (common.pingReps) sonde.put_PingReps(To16(*common.pingReps));
  Session session(common, sonde, component.Sonde2(), component.Library());
  return command.Run(session);
}

int RunCommandLine(int argc, char** argv) {
  const std::unique_ptr<CommandLine> line = BuildCommandLine();
  const Parsed parsed = Parse(*line, argc, argv);
  Command* command = parsed.asked == Asked::Run ? &CommandNamed(*line, parsed.command) : nullptr;
  // Before the component is loaded, or anything but the command line read.
  EchoSockets sockets;
  if (!KeepOnlyTheEchoSockets(command != nullptr && command->SendsEcho(), &sockets)) {
    throw RunFailure("the capabilities this program started with cannot be dropped");
  }
  switch (parsed.asked) {
    case Asked::Help: {
      const ClientHelp help = DescribeCommandLine(line->app);
      WriteOut(parsed.command.empty() ? HelpText(help) : CommandHelpText(help, parsed.command));
      return kMeasured;
    }
    case Asked::Manual:
      WriteOut(ManualSections(DescribeCommandLine(line->app)));
      return kMeasured;
    case Asked::Version:
      return PrintVersion();
    case Asked::Run:
      break;
  }
  return RunCommand(parsed.command, *command, line->common, sockets);
}

}  // namespace

ISonde2& Session::Sonde2() const {
  if (sonde2_ == nullptr) throw RunFailure("the object has no Sonde2 members");
  return *sonde2_;
}

int RunClient(int argc, char** argv) {
  int status = kFailed;
  try {
    status = RunCommandLine(argc, argv);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "telvario: %s\nsee 'telvario --help'\n", error.what());
    status = kUsageError;
  } catch (const std::exception& error) {
    // RunFailure; and what no command foresees (memory that ran out).
    std::fprintf(stderr, "telvario: %s\n", error.what());
    status = kFailed;
  }
  const std::string lost = FinishStandardOutput();
  if (lost.empty()) return status;
  std::fprintf(stderr, "telvario: %s\n", lost.c_str());
  return kFailed;
}

}  // namespace telvario::cli
