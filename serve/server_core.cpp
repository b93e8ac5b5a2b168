#include "server_core.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "endpoints.h"
#include "listen_address.h"

namespace telvario::serve {
namespace {

// The access log's lines: the combined log format, as web servers write it by default.
constexpr char kLogFormat[] = "%h %l %u %t \"%r\" %s %b \"%{Referer}i\" \"%{User-agent}i\"";
constexpr std::uint64_t kBudgetWaitMs = 10;
constexpr std::int32_t kStopLookMs = 100;
constexpr std::uint64_t kSweepMs = 1000;
// How long connections ended at stop may take to be closed by the library.
constexpr int kClosingLooks = 30;

std::uint64_t Milliseconds(double seconds) {
  return static_cast<std::uint64_t>(seconds * 1000);
}

std::string LogPath(const std::string& accessLog) {
  return accessLog == "-" ? "/dev/stdout" : accessLog;
}

// Tried before the library opens it, which would print a line of its own where it cannot; and
// before listening, so that a server that will not start takes no port.
void CheckLogWritable(const std::string& accessLog) {
  if (accessLog.empty()) return;
  const int fd = open(LogPath(accessLog).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw ServeFailure("--access-log " + accessLog + ": " + std::strerror(errno));
  close(fd);
}

}  // namespace

ServerCore::ServerCore(const ServeOptions& options) : state_(options.limits) {
  CheckLogWritable(options.accessLog);
  tls_ = MakeTlsContext(options, &certificate_);
  Listen(options);
  loop_ = h2o_evloop_create();
  state_.loop = loop_;
  Configure(options);
  h2o_timeout_init(loop_, &state_.budgetWait, kBudgetWaitMs);
  h2o_timeout_init(loop_, &sweepEvery_, kSweepMs);
  sweep_.entry.cb = OnSweep;
  sweep_.core = this;
  h2o_timeout_link(loop_, &sweepEvery_, &sweep_.entry);
  for (const int fd : listenerFds_) {
    h2o_socket_t* listener = h2o_evloop_socket_create(loop_, fd, H2O_SOCKET_FLAG_DONT_READ);
    listener->data = this;
    h2o_socket_read_start(listener, OnListenerReady);
    listeners_.push_back(listener);
  }
}

ServerCore::~ServerCore() {
  CloseAll();
  for (h2o_socket_t* listener : listeners_) h2o_socket_close(listener);
  listeners_.clear();
  // The listeners' closing is finished by the loop.
  h2o_evloop_run(loop_, 0);
  h2o_timeout_unlink(&sweep_.entry);
  h2o_timeout_dispose(loop_, &sweepEvery_);
  h2o_timeout_dispose(loop_, &state_.budgetWait);
  h2o_context_dispose(&context_);
  h2o_config_dispose(&config_);
  h2o_evloop_destroy(loop_);
}

void ServerCore::Listen(const ServeOptions& options) {
  const std::vector<std::string> listen = options.listen.empty() ? DefaultListen() : options.listen;
  std::vector<ListenAddress> addresses;
  for (const std::string& text : listen) {
    for (const ListenAddress& address : ParseListenAddress(text)) addresses.push_back(address);
  }
  try {
    for (const ListenAddress& address : addresses) listenerFds_.push_back(OpenListener(address));
  } catch (const ServeFailure&) {
    for (const int fd : listenerFds_) close(fd);
    throw;
  }
}

void ServerCore::Configure(const ServeOptions& options) {
  h2o_config_init(&config_);
  config_.server_name = h2o_iovec_init(H2O_STRLIT("telvario"));
  config_.max_request_entity_size = state_.limits.uploadBytes;
  config_.handshake_timeout = Milliseconds(state_.limits.headerSeconds);
  // A request's head and body together, and the wait for the next request: the watch keeps the
  // shorter time-outs.
  config_.http1.req_timeout =
      Milliseconds(std::max(state_.limits.requestSeconds, state_.limits.idleSeconds));
  config_.http1.upgrade_to_http2 = 1;
  config_.http2.idle_timeout = Milliseconds(state_.limits.idleSeconds);
  if (!options.accessLog.empty()) {
    log_ = h2o_access_log_open_handle(LogPath(options.accessLog).c_str(), kLogFormat,
                                      H2O_LOGCONF_ESCAPE_APACHE);
    if (log_ == nullptr) {
      const std::string reason = std::strerror(errno);
      h2o_config_dispose(&config_);
      h2o_evloop_destroy(loop_);
      for (const int fd : listenerFds_) close(fd);
      throw ServeFailure("--access-log " + options.accessLog + ": " + reason);
    }
  }
  AddDoor(&served_, "served", Admission::Served);
  AddDoor(&tooManyInAll_, "too-many-in-all", Admission::TooManyInAll);
  AddDoor(&tooManyFromClient_, "too-many-from-client", Admission::TooManyFromClient);
  h2o_context_init(&context_, loop_, &config_);
  for (Door* door : {&served_, &tooManyInAll_, &tooManyFromClient_}) {
    door->accept.ctx = &context_;
    door->accept.hosts = door->hosts;
    door->accept.ssl_ctx = tls_.get();
  }
}

void ServerCore::AddDoor(Door* door, const char* name, Admission admission) {
  door->hosts[0] =
      h2o_config_register_host(&config_, h2o_iovec_init(name, std::strlen(name)), 65535);
  h2o_pathconf_t* path = h2o_config_register_path(door->hosts[0], "/", 0);
  AddHandler(path, &state_, admission);
  if (log_ != nullptr) h2o_access_log_register(path, log_);
}

void ServerCore::OnListenerReady(h2o_socket_t* listener, const char* error) {
  if (error != nullptr) return;
  auto* core = static_cast<ServerCore*>(listener->data);
  const size_t index =
      static_cast<size_t>(std::find(core->listeners_.begin(), core->listeners_.end(), listener) -
                          core->listeners_.begin());
  core->AcceptAll(core->listenerFds_[index]);
}

void ServerCore::AcceptAll(int listener) {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    const int fd =
        accept4(listener, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of files or memory: what is pending waits for connections to end.
      return;
    }
    Take(fd, reinterpret_cast<const sockaddr*>(&peer));
  }
}

void ServerCore::Take(int fd, const sockaddr* peer) {
  std::string client = ConnectionLedger::ClientOf(peer);
  const Admission admission = state_.ledger.Admit(client);
  if (admission == Admission::Closed) {
    close(fd);
    return;
  }
  // Answers go out at once: a probe's small request waits on no delayed acknowledgement.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (admission == Admission::Served) ++state_.counts.connections;
  h2o_socket_t* socket =
      h2o_evloop_socket_create(loop_, fd, H2O_SOCKET_FLAG_IS_ACCEPTED_CONNECTION);
  const ConnectionWatch watch(h2o_now(loop_), Milliseconds(state_.limits.headerSeconds),
                              Milliseconds(state_.limits.idleSeconds));
  Connection& connection =
      connections_
          .try_emplace(fd, Connection{this, fd, std::move(client), admission, socket, watch})
          .first->second;
  Door& door = admission == Admission::Served         ? served_
               : admission == Admission::TooManyInAll ? tooManyInAll_
                                                      : tooManyFromClient_;
  h2o_accept(&door.accept, socket);
  socket->on_close.cb = OnClose;
  socket->on_close.data = &connection;
}

void ServerCore::OnClose(void* data) {
  auto* connection = static_cast<Connection*>(data);
  ServerCore* core = connection->core;
  core->state_.ledger.Release(connection->client, connection->admission);
  core->connections_.erase(connection->fd);
}

void ServerCore::OnSweep(h2o_timeout_entry_t* entry) {
  ServerCore* core = reinterpret_cast<Sweep*>(entry)->core;
  const std::uint64_t now = h2o_now(core->loop_);
  for (auto& [fd, connection] : core->connections_) {
    // Ended under the library, which closes it as a connection its peer broke off.
    if (connection.watch.Expired(connection.socket->bytes_read, connection.socket->bytes_written,
                                 now)) {
      shutdown(fd, SHUT_RDWR);
    }
  }
  h2o_timeout_link(core->loop_, &core->sweepEvery_, &core->sweep_.entry);
}

void ServerCore::Run(const std::atomic<bool>& stopping) {
  while (!stopping.load()) h2o_evloop_run(loop_, kStopLookMs);
}

void ServerCore::CloseAll() {
  // Ended under the library, which then closes each as a connection its peer broke off.
  for (const auto& [fd, connection] : connections_) shutdown(fd, SHUT_RDWR);
  for (int look = 0; look < kClosingLooks && !connections_.empty(); ++look) {
    h2o_evloop_run(loop_, kStopLookMs);
  }
}

std::vector<std::string> ServerCore::Urls() const {
  std::vector<std::string> urls;
  for (const int fd : listenerFds_) {
    const ListenAddress bound = BoundAddress(fd);
    urls.push_back(std::string(tls_ ? "https://" : "http://") +
                   AddressText(reinterpret_cast<const sockaddr*>(&bound.address)) + "/");
  }
  return urls;
}

int ServerCore::Port() const {
  if (listenerFds_.empty()) return 0;
  const ListenAddress bound = BoundAddress(listenerFds_.front());
  const auto* address = reinterpret_cast<const sockaddr*>(&bound.address);
  return address->sa_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
}

}  // namespace telvario::serve
