// The command line read back into the description the help and the manual are made from.
#include <CLI/CLI.hpp>
#include <algorithm>

#include "help_text.h"

namespace telvario::cli {
namespace {

OptionHelp Describe(const CLI::Option& option) {
  OptionHelp help;
  help.argument =
      option.get_positional() && option.get_lnames().empty() && option.get_snames().empty();
  if (help.argument) {
    help.names.push_back(option.get_name());
  } else {
    for (const std::string& name : option.get_snames()) help.names.push_back("-" + name);
    for (const std::string& name : option.get_lnames()) help.names.push_back("--" + name);
  }
  if (option.get_expected_max() > 0 && !help.argument) help.value = option.get_type_name();
  help.text = option.get_description();
  help.required = option.get_required();
  help.many = option.get_expected_max() > 1;
  return help;
}

// The options shown: none hidden (of no group), and no command's own --help, which every
// command has and the common options list once.
std::vector<OptionHelp> OptionsOf(const CLI::App& app, bool withHelp) {
  std::vector<OptionHelp> options;
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_group().empty()) continue;
    if (!withHelp && option == app.get_help_ptr()) continue;
    options.push_back(Describe(*option));
  }
  // Arguments first, in their order, as a command line gives them.
  std::stable_partition(options.begin(), options.end(),
                        [](const OptionHelp& option) { return option.argument; });
  return options;
}

}  // namespace

ClientHelp DescribeCommandLine(const CLI::App& client) {
  ClientHelp help;
  help.common = OptionsOf(client, true);
  for (const CLI::App* command : client.get_subcommands([](const CLI::App*) { return true; })) {
    help.commands.push_back(
        {command->get_name(), command->get_description(), OptionsOf(*command, false)});
  }
  return help;
}

std::vector<OptionGroup> CommandOptionGroups(const ClientHelp& help) {
  const auto same = [](const OptionHelp& a, const OptionHelp& b) {
    return a.names == b.names && a.value == b.value && a.text == b.text;
  };
  std::vector<OptionGroup> groups;
  std::vector<OptionHelp> seen;
  for (const CommandHelp& command : help.commands) {
    for (const OptionHelp& option : command.options) {
      if (option.argument) continue;
      const auto isThis = [&](const OptionHelp& other) { return same(option, other); };
      if (std::any_of(seen.begin(), seen.end(), isThis)) continue;
      seen.push_back(option);
      std::vector<std::string> takers;
      for (const CommandHelp& other : help.commands) {
        if (std::any_of(other.options.begin(), other.options.end(), isThis)) {
          takers.push_back(other.name);
        }
      }
      auto group = std::find_if(groups.begin(), groups.end(),
                                [&takers](const OptionGroup& g) { return g.commands == takers; });
      if (group == groups.end()) group = groups.insert(groups.end(), OptionGroup{takers, {}});
      group->options.push_back(option);
    }
  }
  return groups;
}

std::string OptionGroup::Heading() const {
  std::string heading;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (i > 0) heading += i + 1 == commands.size() ? " and " : ", ";
    heading += commands[i];
  }
  return heading;
}

std::string Synopsis(const CommandHelp& command) {
  std::string synopsis = command.name;
  for (const OptionHelp& option : command.options) {
    std::string word = option.names.front();
    if (!option.value.empty()) word += " " + option.value;
    if (option.many) word += "...";
    synopsis += " " + (option.required ? word : "[" + word + "]");
  }
  return synopsis;
}

}  // namespace telvario::cli
