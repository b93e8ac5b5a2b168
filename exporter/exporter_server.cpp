#include "exporter_server.h"

#include <h2o.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "exporter_routes.h"
#include "http_jobs.h"
#include "listen_address.h"
#include "serve_options.h"

namespace telvario::exporter {
namespace {

constexpr std::int32_t kStopLookMs = 100;
// Probes and reloads running at once; past them a request is answered 503.
constexpr std::size_t kMostJobs = 256;
// How long connections ended at stop may take to be closed by the library.
constexpr int kClosingLooks = 30;
// A scrape's request and the wait for the next on a kept connection.
constexpr std::uint64_t kRequestTimeoutMs = 30000;

}  // namespace

class ServerLoop {
 public:
  ServerLoop(const std::vector<std::string>& listen, ExporterEndpoints& endpoints) {
    Listen(listen);
    loop_ = h2o_evloop_create();
    h2o_config_init(&config_);
    config_.server_name = h2o_iovec_init(H2O_STRLIT("telvario"));
    config_.http1.req_timeout = kRequestTimeoutMs;
    config_.http2.idle_timeout = kRequestTimeoutMs;
    hosts_[0] = h2o_config_register_host(&config_, h2o_iovec_init(H2O_STRLIT("default")), 65535);
    h2o_context_init(&context_, loop_, &config_);
    jobs_ = std::make_unique<HttpJobs>(loop_, kMostJobs);
    routes_ = Routes{&endpoints, jobs_.get(), loop_};
    AddRoutes(h2o_config_register_path(hosts_[0], "/", 0), &routes_);
    accept_.ctx = &context_;
    accept_.hosts = hosts_;
    for (const int fd : listenerFds_) {
      h2o_socket_t* listener = h2o_evloop_socket_create(loop_, fd, H2O_SOCKET_FLAG_DONT_READ);
      listener->data = this;
      h2o_socket_read_start(listener, OnListenerReady);
      listeners_.push_back(listener);
    }
  }

  ~ServerLoop() {
    jobs_.reset();  // every job told to stop, its request answered no more
    for (const auto& [fd, socket] : connections_) shutdown(fd, SHUT_RDWR);
    for (int look = 0; look < kClosingLooks && !connections_.empty(); ++look) {
      h2o_evloop_run(loop_, kStopLookMs);
    }
    for (h2o_socket_t* listener : listeners_) h2o_socket_close(listener);
    h2o_evloop_run(loop_, 0);  // the listeners' closing is finished by the loop
    h2o_context_dispose(&context_);
    h2o_config_dispose(&config_);
    h2o_evloop_destroy(loop_);
  }
  ServerLoop(const ServerLoop&) = delete;
  ServerLoop& operator=(const ServerLoop&) = delete;

  std::vector<std::string> Urls() const {
    std::vector<std::string> urls;
    for (const int fd : listenerFds_) {
      const serve::ListenAddress bound = serve::BoundAddress(fd);
      urls.push_back("http://" +
                     serve::AddressText(reinterpret_cast<const sockaddr*>(&bound.address)) + "/");
    }
    return urls;
  }

  void Run(const std::atomic<bool>& stopping, std::atomic<bool>& reloadAsked) {
    while (!stopping.load()) {
      if (reloadAsked.exchange(false)) StartReload();
      h2o_evloop_run(loop_, kStopLookMs);
    }
  }

 private:
  struct Connection {
    ServerLoop* loop;
    int fd;
  };

  void Listen(const std::vector<std::string>& listen) {
    std::vector<serve::ListenAddress> addresses;
    for (const std::string& text : listen) {
      for (const auto& address : serve::ParseListenAddress(text)) addresses.push_back(address);
    }
    try {
      for (const auto& address : addresses) listenerFds_.push_back(serve::OpenListener(address));
    } catch (const serve::ServeFailure&) {
      for (const int fd : listenerFds_) close(fd);
      throw;
    }
  }

  // A reload no one waits for: its outcome goes to the log.
  void StartReload() {
    ExporterEndpoints* endpoints = routes_.endpoints;
    jobs_->Start(
        nullptr, [endpoints](const std::atomic<bool>& /*stopping*/) { return endpoints->Reload(); },
        UINT64_MAX, Reply{});
  }

  static void OnListenerReady(h2o_socket_t* listener, const char* error) {
    if (error != nullptr) return;
    auto* self = static_cast<ServerLoop*>(listener->data);
    const auto at = std::find(self->listeners_.begin(), self->listeners_.end(), listener);
    self->AcceptAll(self->listenerFds_[static_cast<std::size_t>(at - self->listeners_.begin())]);
  }

  void AcceptAll(int listener) {
    for (;;) {
      // Out of files or memory: what is pending waits for connections to end.
      const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      h2o_socket_t* socket =
          h2o_evloop_socket_create(loop_, fd, H2O_SOCKET_FLAG_IS_ACCEPTED_CONNECTION);
      Connection& connection = connections_.try_emplace(fd, Connection{this, fd}).first->second;
      h2o_accept(&accept_, socket);
      socket->on_close.cb = OnClose;
      socket->on_close.data = &connection;
    }
  }

  static void OnClose(void* data) {
    auto* connection = static_cast<Connection*>(data);
    connection->loop->connections_.erase(connection->fd);
  }

  h2o_globalconf_t config_{};
  h2o_context_t context_{};
  h2o_evloop_t* loop_ = nullptr;
  h2o_hostconf_t* hosts_[2] = {nullptr, nullptr};
  h2o_accept_ctx_t accept_{};
  std::unique_ptr<HttpJobs> jobs_;
  Routes routes_;
  std::vector<int> listenerFds_;
  std::vector<h2o_socket_t*> listeners_;
  std::unordered_map<int, Connection> connections_;
};

ExporterServer::ExporterServer(const std::vector<std::string>& listen, ExporterEndpoints& endpoints)
    : loop_(std::make_unique<ServerLoop>(
          listen.empty() ? std::vector<std::string>{kDefaultListen} : listen, endpoints)) {}

ExporterServer::~ExporterServer() = default;

std::vector<std::string> ExporterServer::Urls() const {
  return loop_->Urls();
}

void ExporterServer::Run(const std::atomic<bool>& stopping, std::atomic<bool>& reloadAsked) {
  loop_->Run(stopping, reloadAsked);
}

}  // namespace telvario::exporter
