// `telvario serve`: HTTP/1.1 and HTTP/2 (h2 over TLS, where TLS is asked for; h2c where a
// client asks for it on plain HTTP) on every address given, on one event loop of the h2o
// library. Made, it listens; Run serves until told to stop, then closes every connection.
#ifndef TELVARIO_SERVE_SERVER_H
#define TELVARIO_SERVE_SERVER_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "serve_counts.h"
#include "serve_options.h"

namespace telvario::serve {

class ServerCore;

class Server {
 public:
  // Listens, or throws ServeUsageError or ServeFailure with its one line.
  explicit Server(const ServeOptions& options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // The URLs it serves on, one a listening address ("http://[::]:8080/"), ports as taken.
  std::vector<std::string> Urls() const;
  // What certificate it serves, where it serves TLS; "" where not.
  const std::string& Certificate() const;
  // The port of the first listening address (as the system chose it, where asked for 0).
  int Port() const;

  // Serves until `stopping` is set (looked at ten times a second); gives back once every
  // connection is closed.
  void Run(const std::atomic<bool>& stopping);
  ServeCounts Counts() const;

 private:
  std::unique_ptr<ServerCore> core_;
};

}  // namespace telvario::serve

#endif
