// The help as text: the usage, the commands with what each does, the options of every command
// and of each, then the words around them, wrapped to 100 columns.
#include "help_text.h"

#include <algorithm>
#include <string_view>

namespace telvario::cli {
namespace {

constexpr std::size_t kWidth = 100;
constexpr std::size_t kColumn = 18;  // where the explanations start

// The words of `text` in lines of at most `width` after `indent` spaces (a longer word stands
// alone).
std::string Wrap(const std::string& text, std::size_t indent, std::size_t width = kWidth) {
  std::string wrapped;
  std::string line;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find(' ', from);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(from, end - from);
    from = end + 1;
    if (word.empty()) continue;
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      wrapped += std::string(indent, ' ') + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  if (!line.empty()) wrapped += std::string(indent, ' ') + line + "\n";
  return wrapped;
}

// "  left          explanation", the explanation on a line of its own under a long left side.
std::string Entry(const std::string& left, const std::string& explanation) {
  std::string entry = "  " + left;
  if (explanation.empty()) return entry + "\n";
  if (entry.size() + 1 > kColumn) {
    entry += '\n';
    entry += Wrap(explanation, kColumn);
  } else {
    const std::string wrapped = Wrap(explanation, kColumn);
    entry += wrapped.substr(entry.size());
  }
  return entry;
}

std::string OptionName(const OptionHelp& option) {
  std::string names;
  for (const std::string& name : option.names) {
    names += (names.empty() ? "" : ", ") + name;
  }
  return option.value.empty() ? names : names + " " + option.value;
}

std::string OptionList(const std::vector<OptionHelp>& options) {
  std::string list;
  for (const OptionHelp& option : options) list += Entry(OptionName(option), option.text);
  return list;
}

// Lines as they are, each indented.
std::string Indented(std::string_view lines, std::size_t indent) {
  std::string text;
  for (const std::string& line : SplitLines(lines)) text += std::string(indent, ' ') + line + '\n';
  return text;
}

std::string Closing() {
  std::string text;
  for (const HelpSection& section : HelpSections()) {
    text += '\n';
    text += section.title;
    text += ":\n" + Wrap(section.text, 2);
    if (section.verbatim != nullptr) text += '\n' + Indented(section.verbatim, 4);
  }
  text += "\nexit status:\n";
  for (const ExitStatus& status : ExitStatuses()) {
    text += Entry(std::to_string(status.status), status.meaning);
  }
  return text;
}

}  // namespace

std::string HelpText(const ClientHelp& help) {
  std::string text = "usage: telvario [COMMAND] [OPTIONS]\n\n" + Wrap(ClientDescription(), 0);
  text += "\ncommands:\n";
  for (const CommandHelp& command : help.commands)
    text += Entry(Synopsis(command), command.summary);
  text += "\noptions of every command:\n" + OptionList(help.common);
  for (const OptionGroup& group : CommandOptionGroups(help)) {
    text += "\noptions of " + group.Heading() + ":\n" + OptionList(group.options);
  }
  return text + Closing();
}

std::string CommandHelpText(const ClientHelp& help, const std::string& name) {
  for (const CommandHelp& command : help.commands) {
    if (command.name != name) continue;
    std::string usage = "usage: telvario ";
    usage += Synopsis(command) + " [OPTIONS]";
    std::string text = Wrap(usage, 0) + "\n" + Wrap(command.summary, 0);
    if (!command.options.empty()) {
      text += '\n';
      text += OptionList(command.options);
    }
    return text + "\noptions of every command:\n" + OptionList(help.common);
  }
  return HelpText(help);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return lines;
}

}  // namespace telvario::cli
