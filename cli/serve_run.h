// Runs `telvario serve` with its options read: until Ctrl-C or SIGTERM on posix; on Windows the
// server is not part of the client (its HTTP library is built for posix only), and it says so.
#ifndef TELVARIO_CLI_SERVE_RUN_H
#define TELVARIO_CLI_SERVE_RUN_H

#include "serve_options.h"

namespace telvario::cli {

// The exit status; UsageError or RunFailure with the server's one line where it cannot start.
int RunServe(const serve::ServeOptions& options);

}  // namespace telvario::cli

#endif
