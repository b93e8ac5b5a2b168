// What `telvario report` measures against when it is given no targets: the machine itself. The
// process moves into a network namespace of its own where it can, so that the servers below
// take their usual ports without meeting the machine's own services, and starts two servers on
// loopback for the time of the report: `telvario serve`'s (GET /bytes/N gives N bytes, a POST's
// body is taken and discarded) on a port the system gives, and a small anonymous FTP server on
// port 21, which takes uploads into /temp by active transfers, counts and
// discards their bytes, and deletes the names it took.
#ifndef TELVARIO_CLI_LOOPBACK_SERVERS_H
#define TELVARIO_CLI_LOOPBACK_SERVERS_H

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace telvario::serve {
class Server;
}

namespace telvario::cli {

// Moves the process into a network namespace of its own with only loopback, up. Must be
// called while the process has a single thread. Says where the report measures.
std::string EnterPrivateNetwork();

class LoopbackServers {
 public:
  LoopbackServers();
  ~LoopbackServers();
  LoopbackServers(const LoopbackServers&) = delete;
  LoopbackServers& operator=(const LoopbackServers&) = delete;

  // The HTTP server's port, or 0 with HttpProblem() saying why there is none.
  int HttpPort() const { return httpPort_; }
  const std::string& HttpProblem() const { return httpProblem_; }
  // Whether the FTP server listens on 127.0.0.1:21, or FtpProblem() saying why not.
  bool FtpListening() const { return ftpSocket_ >= 0; }
  const std::string& FtpProblem() const { return ftpProblem_; }

 private:
  std::shared_ptr<serve::Server> http_;  // shared: no complete type where it is never made
  int httpPort_ = 0;
  std::string httpProblem_;
  int ftpSocket_ = -1;
  std::string ftpProblem_;
  std::atomic<bool> stopping_{false};
  std::thread httpThread_;
  std::thread ftpThread_;
};

}  // namespace telvario::cli

#endif
