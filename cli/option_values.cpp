#include "option_values.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>

#include "command.h"

namespace telvario::cli {

std::optional<long> ReadWholeNumber(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
  if (parsed < -2147483647LL - 1 || parsed > 2147483647LL) return std::nullopt;
  return static_cast<long>(parsed);
}

short To16(long value) {
  return static_cast<short>(value);
}

namespace {

// The name an option is told by: its first ("--packet-size" of "--packet-size,--size").
std::string FirstName(const std::string& names) {
  return names.substr(0, names.find(','));
}

}  // namespace

CLI::Option* AddWholeNumber(CLI::App& app, const std::string& names, std::optional<long>& value,
                            const std::string& help, const char* placeholder,
                            const SettingBounds* bounds) {
  const std::string name = FirstName(names);
  const auto read = [&value, name, bounds](const std::string& text) {
    value = ReadWholeNumber(text);
    if (!value) throw UsageError(name + " needs a number");
    if (bounds != nullptr && bounds->refusedOutside &&
        !bounds->Holds(static_cast<double>(*value))) {
      throw UsageError(name + " " + bounds->Range());
    }
  };
  const std::string described = bounds != nullptr ? help + " " + bounds->Help() : help;
  return app.add_option_function<std::string>(names, read, described)->type_name(placeholder);
}

CLI::Option* AddSeconds(CLI::App& app, const std::string& names, std::optional<double>& value,
                        const std::string& help, const SettingBounds& bounds) {
  const std::string name = FirstName(names);
  const auto read = [&value, name, &bounds](const std::string& text) {
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0') throw UsageError(name + " needs seconds");
    // (A comparison that NaN fails too.)
    if (!bounds.Holds(seconds)) throw UsageError(name + " " + bounds.Range());
    value = seconds;
  };
  return app.add_option_function<std::string>(names, read, help + " " + bounds.Help())
      ->type_name("S");
}

CLI::Option* AddArgument(CLI::App& app, const std::string& name, std::string& value,
                         const std::string& help) {
  return app.add_option(name, value, help)->required();
}

}  // namespace telvario::cli
