// The signals a long-running command (serve, exporter) heeds on posix: Ctrl-C and SIGTERM ask
// it to stop after what it is doing, SIGHUP to read its configuration again; a peer that closes
// while it is written to is the HTTP library's to handle, never a signal that ends the process.
#ifndef TELVARIO_CLI_STOP_SIGNALS_H
#define TELVARIO_CLI_STOP_SIGNALS_H

#include <atomic>

namespace telvario::cli {

// Set by Ctrl-C or SIGTERM once CatchStopSignals has run.
std::atomic<bool>& StopAsked();
// Set by SIGHUP where `reload` was asked for; the command clears it as it reloads.
std::atomic<bool>& ReloadAsked();

void CatchStopSignals(bool reload);

}  // namespace telvario::cli

#endif
