#include "echo_privilege.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "icmp.h"

namespace telvario::cli {
namespace {

bool DatagramEchoAllowed() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Empties the effective, permitted and inheritable sets, and with them the ambient one.
bool DropEveryCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, data) != 0) return false;
  // Read back: whatever is left in any set is a failure to drop it.
  if (syscall(SYS_capget, &header, data) != 0) return false;
  for (const auto& part : data) {
    if (part.effective != 0 || part.permitted != 0 || part.inheritable != 0) return false;
  }
  return true;
}

}  // namespace

bool RaisedAtStart() {
  return getauxval(AT_SECURE) != 0;
}

bool KeepOnlyTheEchoSocket(bool sendsEcho, int* socket) {
  *socket = -1;
  if (!RaisedAtStart()) return true;
  if (sendsEcho && !DatagramEchoAllowed()) {
    *socket = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  // The kernel leaves a process whose file raised only capabilities open to its user's
  // debuggers once the capabilities are gone; they could take the socket over. Closed first,
  // so that there is no moment between.
  if (*socket >= 0 && prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    close(*socket);
    *socket = -1;
  }
  if (!DropEveryCapability()) {
    if (*socket >= 0) close(*socket);
    *socket = -1;
    return false;
  }
  return true;
}

void HandOverEchoSocket(int socket, TakeSocketFn libraryTakes) {
  if (socket < 0) return;
  const int own = fcntl(socket, F_DUPFD_CLOEXEC, 0);
  if (own >= 0 && !SetIcmpRawSocket(own)) close(own);
  if (libraryTakes == nullptr || !libraryTakes(socket)) close(socket);
}

}  // namespace telvario::cli
