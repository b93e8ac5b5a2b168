// The client's command line: read whole against the table of commands before anything else is
// done; then the command runs against the component, and its exit status is given.
#ifndef TELVARIO_CLI_COMMAND_LINE_H
#define TELVARIO_CLI_COMMAND_LINE_H

namespace telvario::cli {

// Exit status: 0 measured, 1 failed, 2 a wrong command line, 130 cancelled by Ctrl-C.
int RunClient(int argc, char** argv);

}  // namespace telvario::cli

#endif
