// The client's commands in the order the help lists them.
#ifndef TELVARIO_CLI_COMMAND_TABLE_H
#define TELVARIO_CLI_COMMAND_TABLE_H

#include <span>

#include "command.h"

namespace telvario::cli {

// The command that runs when none is named.
inline constexpr char kDefaultCommand[] = "show";

std::span<const CommandEntry> CommandTable();

}  // namespace telvario::cli

#endif
