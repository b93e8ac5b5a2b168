// A small loopback HTTP server that the throughput benches (bench/bytes_server.cpp) measure
// against, for rates and connection counts the Python test server does not keep up with.
// GET /bytes/N serves N bytes (HEAD its head alone); a POST to any path has its body
// (Content-Length) read and discarded, and is answered with the count of bytes taken; anything
// else is 404. Connections are kept (HTTP/1.1), each on a thread of its own; every answer's head
// goes out with the first of its body in one write and without Nagle's wait, so that a client
// waiting for an answer never waits on a delayed ACK.
#ifndef TELVARIO_CLI_BYTES_HTTP_SERVER_H
#define TELVARIO_CLI_BYTES_HTTP_SERVER_H

#include <atomic>

namespace telvario::cli {

// Accepts connections on the listening socket until `stopping` is set (a client silent for a
// minute is let go), serving each on a thread of its own; gives back once every connection's
// thread has ended. The socket stays the caller's.
void ServeBytes(int listener, const std::atomic<bool>& stopping);

}  // namespace telvario::cli

#endif
