#include "server.h"

#include "server_core.h"

namespace telvario::serve {

Server::Server(const ServeOptions& options) : core_(std::make_unique<ServerCore>(options)) {}

Server::~Server() = default;

std::vector<std::string> Server::Urls() const {
  return core_->Urls();
}

const std::string& Server::Certificate() const {
  return core_->Certificate();
}

int Server::Port() const {
  return core_->Port();
}

void Server::Run(const std::atomic<bool>& stopping) {
  core_->Run(stopping);
}

ServeCounts Server::Counts() const {
  return core_->Counts();
}

}  // namespace telvario::serve
