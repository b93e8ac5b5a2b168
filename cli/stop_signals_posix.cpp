#include "stop_signals.h"

#include <signal.h>

namespace telvario::cli {
namespace {

std::atomic<bool> stopAsked{false};
std::atomic<bool> reloadAsked{false};

void AskStop(int /*signal*/) {
  stopAsked = true;
}

void AskReload(int /*signal*/) {
  reloadAsked = true;
}

void Heed(int signal, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

std::atomic<bool>& StopAsked() {
  return stopAsked;
}

std::atomic<bool>& ReloadAsked() {
  return reloadAsked;
}

void CatchStopSignals(bool reload) {
  Heed(SIGINT, AskStop);
  Heed(SIGTERM, AskStop);
  if (reload) Heed(SIGHUP, AskReload);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace telvario::cli
