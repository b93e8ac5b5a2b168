// Each command of the client's table, given its arguments, options and help on the command line
// (the table itself: command_table.cpp).
#ifndef TELVARIO_CLI_COMMANDS_H
#define TELVARIO_CLI_COMMANDS_H

#include <memory>

#include "command.h"
#include "report.h"

namespace telvario::cli {

std::unique_ptr<Command> AddShowCommand(CLI::App& command);
std::unique_ptr<Command> AddSleepCommand(CLI::App& command);
std::unique_ptr<Command> AddDownloadCommand(CLI::App& command);
std::unique_ptr<Command> AddAddrCommand(CLI::App& command);
std::unique_ptr<Command> AddHostnameCommand(CLI::App& command);
std::unique_ptr<Command> AddDnsCheckCommand(CLI::App& command);
std::unique_ptr<Command> AddDhcpCommand(CLI::App& command);
std::unique_ptr<Command> AddPingCommand(CLI::App& command);
std::unique_ptr<Command> AddTraceCommand(CLI::App& command);
std::unique_ptr<Command> AddLatencyCommand(CLI::App& command);
std::unique_ptr<Command> AddRouteCommand(CLI::App& command);
std::unique_ptr<Command> AddAddressesCommand(CLI::App& command);
std::unique_ptr<Command> AddThroughputCommand(CLI::App& command);
std::unique_ptr<Command> AddResponsivenessCommand(CLI::App& command);
std::unique_ptr<Command> AddReportCommand(CLI::App& command);
std::unique_ptr<Command> AddUploadCommand(CLI::App& command);
std::unique_ptr<Command> AddServeCommand(CLI::App& command);
std::unique_ptr<Command> AddExporterCommand(CLI::App& command);
std::unique_ptr<Command> AddCallCommand(CLI::App& command);
std::unique_ptr<Command> AddPutCommand(CLI::App& command);
std::unique_ptr<Command> AddRegisterCommand(CLI::App& command);
std::unique_ptr<Command> AddUnregisterCommand(CLI::App& command);

// The object's properties, as `show` prints them (and `sleep` and `put` after their work).
void AddProperties(ISonde& sonde, Report& report);

// The report printed, and the exit status of a command whose report says whether it failed.
int Finish(const Report& report, const Session& session);

}  // namespace telvario::cli

#endif
