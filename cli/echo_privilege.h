// What the client keeps of the privilege its installation gives it. The Debian package gives
// the program file cap_net_raw, as iputils gives ping, so that every user measures echo and hops
// where the system lets no one open an ICMP datagram socket. The client uses it for one thing:
// before it loads the component or reads anything else, it opens a raw ICMP socket (only where
// the command may send echo and a datagram socket may not be opened), drops every capability,
// and hands the socket to the component's echo service, which sends only echo requests from
// it. A process that keeps the socket is made undumpable, closed to the user's debuggers, which
// could take the socket over; one that keeps none is the user's own, as any program of theirs.
#ifndef TELVARIO_CLI_ECHO_PRIVILEGE_H
#define TELVARIO_CLI_ECHO_PRIVILEGE_H

namespace telvario::cli {

// Whether the program file raised this process's privileges when it started (secure-execution
// mode). Such a process loads only the installation's library.
bool RaisedAtStart();

// Keeps the raw socket where `sendsEcho` needs it (in *socket, else -1) and drops everything
// else. False when the capabilities could not be dropped: the client must not go on. Call
// first, while the process has one thread.
bool KeepOnlyTheEchoSocket(bool sendsEcho, int* socket);

// Hands the kept socket to the library's echo service through its export SetIcmpRawSocket
// (`libraryTakes`; closed where that is null or refuses it), and a duplicate to the client's
// own, which tells why a measurement failed; nothing for -1.
using TakeSocketFn = int (*)(int socket);
void HandOverEchoSocket(int socket, TakeSocketFn libraryTakes);

}  // namespace telvario::cli

#endif
