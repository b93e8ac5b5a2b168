// The client's help, and its manual page, from one description of its command line: the table of
// commands as the command line holds it (every option with its help), and the words around it.
#ifndef TELVARIO_CLI_HELP_TEXT_H
#define TELVARIO_CLI_HELP_TEXT_H

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace telvario::cli {

struct OptionHelp {
  std::vector<std::string> names;  // "--packet-size", "--size"; an argument's own name
  std::string value;               // "N"; "" for a flag
  std::string text;
  bool required = false;
  bool argument = false;  // given by its place, not by a name
  bool many = false;      // takes any number of values
};

struct CommandHelp {
  std::string name;
  std::string summary;
  std::vector<OptionHelp> options;  // its arguments first
};

struct ClientHelp {
  std::vector<OptionHelp> common;  // of every command
  std::vector<CommandHelp> commands;
};

// The commands' named options, each once: gathered under the commands that take it alike
// ("--streams" under throughput and responsiveness), in the order they first appear.
struct OptionGroup {
  std::vector<std::string> commands;
  std::vector<OptionHelp> options;

  std::string Heading() const;  // "throughput and responsiveness"
};
std::vector<OptionGroup> CommandOptionGroups(const ClientHelp& help);

// What the command line holds, read back from it.
ClientHelp DescribeCommandLine(const CLI::App& client);

// `telvario --help`; `telvario COMMAND --help`.
std::string HelpText(const ClientHelp& help);
std::string CommandHelpText(const ClientHelp& help, const std::string& command);

// The sections of the manual page the command line gives (DESCRIPTION, COMMANDS, OPTIONS,
// OUTPUT, INTERRUPTING, EXIT STATUS), in roff: `telvario --manual`, which the build puts into
// packaging/telvario.1.in.
std::string ManualSections(const ClientHelp& help);

// The words around the commands, which the help and the manual share.
struct HelpSection {
  const char* title;  // "output"; the manual's section is OUTPUT
  const char* text;
  const char* verbatim = nullptr;  // lines shown as they are after the text (a file's), or none
};
struct ExitStatus {
  int status;
  const char* meaning;
};
const char* ClientDescription();
std::span<const HelpSection> HelpSections();
std::span<const ExitStatus> ExitStatuses();

// The lines of a text, without their line ends.
std::vector<std::string> SplitLines(std::string_view text);

// "latency HOST [--probes N] ...", as the help lists it.
std::string Synopsis(const CommandHelp& command);

}  // namespace telvario::cli

#endif
