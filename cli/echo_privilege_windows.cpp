// On Windows the client's file raises nothing: the echo service there needs no privilege.
#include "echo_privilege.h"

namespace telvario::cli {

bool RaisedAtStart() {
  return false;
}

bool KeepOnlyTheEchoSockets(bool /*sendsEcho*/, EchoSockets* sockets) {
  *sockets = EchoSockets{};
  return true;
}

void HandOverEchoSockets(const EchoSockets& /*sockets*/, TakeSocketFn /*libraryTakes*/) {}

}  // namespace telvario::cli
