// The manual page's sections that the command line gives, in roff (man(7)): the same
// description, commands, options and words as the help.
#include <initializer_list>
#include <string_view>

#include "help_text.h"

namespace telvario::cli {
namespace {

// The parts one after another. (GCC 12 warns wrongly on a literal + a temporary string.)
std::string Join(std::initializer_list<std::string_view> parts) {
  std::string joined;
  for (const std::string_view part : parts) joined += part;
  return joined;
}

// Text as roff takes it: backslashes escaped, a dash that starts an option a minus sign (as
// man pages write them, so that one can search for and copy them), and no line that roff would
// read as a request.
std::string Roff(const std::string& text) {
  std::string escaped;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char before = i > 0 ? text[i - 1] : ' ';
    if (c == '\\') {
      escaped += "\\e";
    } else if (c == '-' && (before == ' ' || before == '-' || before == '(' || before == '[' ||
                            before == '\'' || before == '"' || before == '|')) {
      escaped += "\\-";
    } else {
      escaped += c;
    }
  }
  if (!escaped.empty() && (escaped.front() == '.' || escaped.front() == '\'')) {
    escaped.insert(0, "\\&");
  }
  return escaped;
}

std::string Bold(const std::string& text) {
  return Join({"\\fB", Roff(text), "\\fR"});
}

std::string Italic(const std::string& text) {
  return Join({"\\fI", Roff(text), "\\fR"});
}

// "\fB--packet-size\fR \fIN\fR, \fB--size\fR \fIN\fR"
std::string OptionTerm(const OptionHelp& option) {
  std::string term;
  for (const std::string& name : option.names) {
    if (!term.empty()) term += ", ";
    term += option.argument ? Italic(name) : Bold(name);
    if (!option.value.empty()) term += Join({" ", Italic(option.value)});
  }
  return term;
}

std::string CommandTerm(const CommandHelp& command) {
  std::string term = Bold(command.name);
  for (const OptionHelp& option : command.options) {
    std::string word = option.argument ? Italic(option.names.front()) : Bold(option.names.front());
    if (!option.value.empty()) word += Join({" ", Italic(option.value)});
    if (option.many) word += " ...";
    term += option.required ? Join({" ", word}) : Join({" [", word, "]"});
  }
  return term;
}

std::string OptionItems(const std::vector<OptionHelp>& options) {
  std::string items;
  for (const OptionHelp& option : options) {
    if (!option.argument)
      items += Join({".TP\n", OptionTerm(option), "\n", Roff(option.text), "\n"});
  }
  return items;
}

std::string Upper(std::string text) {
  for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return text;
}

// Lines as they are (no filling), each escaped on its own.
std::string Verbatim(std::string_view lines) {
  std::string block = ".PP\n.nf\n";
  for (const std::string& line : SplitLines(lines)) block += Roff(line) + "\n";
  return block + ".fi\n";
}

}  // namespace

std::string ManualSections(const ClientHelp& help) {
  std::string page = Join({".SH DESCRIPTION\n", Roff(ClientDescription()), "\n.SH COMMANDS\n"});
  for (const CommandHelp& command : help.commands) {
    page += Join({".TP\n", CommandTerm(command), "\n", Roff(command.summary), "\n"});
  }
  page += Join({".SH OPTIONS\n.SS \"Every command\"\n", OptionItems(help.common)});
  for (const OptionGroup& group : CommandOptionGroups(help)) {
    page += Join({".SS \"", Roff(group.Heading()), "\"\n", OptionItems(group.options)});
  }
  for (const HelpSection& section : HelpSections()) {
    page += Join({".SH ", Upper(section.title), "\n", Roff(section.text), "\n"});
    if (section.verbatim != nullptr) page += Verbatim(section.verbatim);
  }
  page += ".SH \"EXIT STATUS\"\n";
  for (const ExitStatus& status : ExitStatuses()) {
    page += Join({".TP\n.B ", std::to_string(status.status), "\n", Roff(status.meaning), "\n"});
  }
  return page;
}

}  // namespace telvario::cli
