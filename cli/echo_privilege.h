// What the client keeps of the privilege its installation gives it. The Debian package gives
// the program file cap_net_raw, as iputils gives ping, so that every user measures echo and hops
// where the system lets no one open an ICMP datagram socket. The client uses it for one thing:
// before it loads the component or reads anything else, it opens a raw ICMP socket and a raw
// ICMPv6 socket (only where the command may send echo, each only where a datagram socket of its
// family may not be opened), drops every capability, and hands the sockets to the component's
// echo service, which sends only echo requests from them. A process that keeps a socket is made
// undumpable, closed to the user's debuggers, which could take it over; one that keeps none is
// the user's own, as any program of theirs.
#ifndef TELVARIO_CLI_ECHO_PRIVILEGE_H
#define TELVARIO_CLI_ECHO_PRIVILEGE_H

namespace telvario::cli {

// Whether the program file raised this process's privileges when it started (secure-execution
// mode). Such a process loads only the installation's library.
bool RaisedAtStart();

// The raw sockets kept, -1 for none.
struct EchoSockets {
  int ipv4 = -1;
  int ipv6 = -1;
};

// Keeps the raw sockets where `sendsEcho` needs them and drops everything else. False when the
// capabilities could not be dropped: the client must not go on (and keeps no socket). Call
// first, while the process has one thread.
bool KeepOnlyTheEchoSockets(bool sendsEcho, EchoSockets* sockets);

// Hands each kept socket to the library's echo service through its export SetIcmpRawSocket
// (`libraryTakes`; closed where that is null or refuses it), and a duplicate to the client's
// own, which tells why a measurement failed.
using TakeSocketFn = int (*)(int socket);
void HandOverEchoSockets(const EchoSockets& sockets, TakeSocketFn libraryTakes);

}  // namespace telvario::cli

#endif
