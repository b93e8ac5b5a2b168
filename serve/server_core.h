// The server's insides: the h2o configuration with one host for connections it serves and one
// for each kind it refuses, its one event loop, the listening sockets and a record of each
// connection taken, so that the ledger is kept as connections end and Stop can end them all.
#ifndef TELVARIO_SERVE_SERVER_CORE_H
#define TELVARIO_SERVE_SERVER_CORE_H

#include <h2o.h>

#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

#include "connection_watch.h"
#include "serve_state.h"
#include "tls_context.h"

namespace telvario::serve {

class ServerCore {
 public:
  explicit ServerCore(const ServeOptions& options);
  ~ServerCore();
  ServerCore(const ServerCore&) = delete;
  ServerCore& operator=(const ServerCore&) = delete;

  std::vector<std::string> Urls() const;
  const std::string& Certificate() const { return certificate_; }
  int Port() const;
  void Run(const std::atomic<bool>& stopping);
  const ServeCounts& Counts() const { return state_.counts; }

 private:
  // The hosts a connection of one admission is served by.
  struct Door {
    h2o_hostconf_t* hosts[2] = {nullptr, nullptr};
    h2o_accept_ctx_t accept{};
  };
  struct Connection {
    ServerCore* core;
    int fd;
    std::string client;
    Admission admission;
    h2o_socket_t* socket;
    ConnectionWatch watch;
  };

  void Configure(const ServeOptions& options);
  void AddDoor(Door* door, const char* name, Admission admission);
  void Listen(const ServeOptions& options);
  static void OnListenerReady(h2o_socket_t* listener, const char* error);
  void AcceptAll(int listener);
  void Take(int fd, const sockaddr* peer);
  static void OnClose(void* data);
  static void OnSweep(h2o_timeout_entry_t* entry);
  void CloseAll();

  ServeState state_;
  TlsContext tls_;
  std::string certificate_;
  h2o_globalconf_t config_{};
  h2o_context_t context_{};
  h2o_evloop_t* loop_ = nullptr;
  h2o_access_log_filehandle_t* log_ = nullptr;
  Door served_;
  Door tooManyInAll_;
  Door tooManyFromClient_;
  std::vector<int> listenerFds_;
  std::vector<h2o_socket_t*> listeners_;
  std::unordered_map<int, Connection> connections_;
  h2o_timeout_t sweepEvery_{};
  struct Sweep {
    h2o_timeout_entry_t entry;  // first: the library hands this back
    ServerCore* core;
  } sweep_{};
};

}  // namespace telvario::serve

#endif
