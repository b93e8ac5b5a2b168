// The kinds of value the client's options and arguments take, each checked as it is read: a
// whole number (within the bounds of the setting it goes to), seconds, text. A value that is not
// of its kind is a usage error naming the option.
#ifndef TELVARIO_CLI_OPTION_VALUES_H
#define TELVARIO_CLI_OPTION_VALUES_H

#include <optional>
#include <string>
#include <vector>

#include "setting_bounds.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace telvario::cli {

// A whole number that fits the 32-bit arguments of the object's members, written in decimal;
// with bounds that refuse what lies outside, only within them. `help` gets the bounds' own
// words appended.
CLI::Option* AddWholeNumber(CLI::App& app, const std::string& names, std::optional<long>& value,
                            const std::string& help, const char* placeholder = "N",
                            const SettingBounds* bounds = nullptr);
// Seconds, within the bounds.
CLI::Option* AddSeconds(CLI::App& app, const std::string& names, std::optional<double>& value,
                        const std::string& help, const SettingBounds& bounds);
// A required argument of text, such as a host or a URL.
CLI::Option* AddArgument(CLI::App& app, const std::string& name, std::string& value,
                         const std::string& help);

// The text as such a whole number; none when it is not one.
std::optional<long> ReadWholeNumber(const std::string& text);

// The property puts take 16-bit values, as a script's would be converted.
short To16(long value);

}  // namespace telvario::cli

#endif
