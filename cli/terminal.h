// The terminal on standard error, where a table is redrawn in place while a measurement runs:
// whether it takes the moves of the cursor that needs (VT sequences), and its size.
#ifndef TELVARIO_CLI_TERMINAL_H
#define TELVARIO_CLI_TERMINAL_H

#include <cstddef>

namespace telvario::cli {

struct TerminalSize {
  std::size_t columns = 0;
  std::size_t rows = 0;
};

// Its size; none (0 and 0) where standard error is no such terminal.
TerminalSize RedrawableTerminal();

}  // namespace telvario::cli

#endif
