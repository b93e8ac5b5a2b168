// On Windows the client's file raises nothing: the echo service there needs no privilege.
#include "echo_privilege.h"

namespace telvario::cli {

bool RaisedAtStart() {
  return false;
}

bool KeepOnlyTheEchoSocket(bool /*sendsEcho*/, int* socket) {
  *socket = -1;
  return true;
}

void HandOverEchoSocket(int /*socket*/, TakeSocketFn /*libraryTakes*/) {}

}  // namespace telvario::cli
