#include "echo_privilege.h"

#include <initializer_list>

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

bool DatagramEchoAllowed(int family, int protocol) {
  const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// A raw socket of the family where a datagram socket of it may not be opened; else -1.
int RawWhereNeeded(int family, int protocol) {
  if (DatagramEchoAllowed(family, protocol)) return -1;
  return socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
}

void CloseAll(EchoSockets* sockets) {
  for (int* socket : {&sockets->ipv4, &sockets->ipv6}) {
    if (*socket >= 0) close(*socket);
    *socket = -1;
  }
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

bool KeepOnlyTheEchoSockets(bool sendsEcho, EchoSockets* sockets) {
  *sockets = EchoSockets{};
  if (!RaisedAtStart()) return true;
  if (sendsEcho) {
    sockets->ipv4 = RawWhereNeeded(AF_INET, IPPROTO_ICMP);
    sockets->ipv6 = RawWhereNeeded(AF_INET6, IPPROTO_ICMPV6);
  }
  // The kernel leaves a process whose file raised only capabilities open to its user's
  // debuggers once the capabilities are gone; they could take the sockets over. Closed first,
  // so that there is no moment between.
  const bool keeps = sockets->ipv4 >= 0 || sockets->ipv6 >= 0;
  if (keeps && prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) CloseAll(sockets);
  if (!DropEveryCapability()) {
    CloseAll(sockets);
    return false;
  }
  return true;
}

void HandOverEchoSockets(const EchoSockets& sockets, TakeSocketFn libraryTakes) {
  for (const int socket : {sockets.ipv4, sockets.ipv6}) {
    if (socket < 0) continue;
    const int own = fcntl(socket, F_DUPFD_CLOEXEC, 0);
    if (own >= 0 && !SetIcmpRawSocket(own)) close(own);
    if (libraryTakes == nullptr || !libraryTakes(socket)) close(socket);
  }
}

}  // namespace telvario::cli
