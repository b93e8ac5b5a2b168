#include "hop_names.h"

#include <memory>
#include <string>

#include "run_timing.h"
#include "stall_guard.h"

namespace telvario {
namespace {

// One reverse lookup on a worker of its own.
class NameLookup final : public GuardedWork {
 public:
  explicit NameLookup(std::string address) : address_(std::move(address)) {}
  // Read once the lookup has finished.
  const std::string& Name() const { return name_; }

 protected:
  void Run() override {
    BeginStep(kHopNameLimitMs, INFINITE);
    addrinfo hints = {};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* parsed = nullptr;
    if (getaddrinfo(address_.c_str(), nullptr, &hints, &parsed) != 0) return;
    char host[NI_MAXHOST] = {};
    if (getnameinfo(parsed->ai_addr, static_cast<int>(parsed->ai_addrlen), host, sizeof host,
                    nullptr, 0, NI_NAMEREQD) == 0) {
      name_ = host;
    }
    freeaddrinfo(parsed);
  }

 private:
  const std::string address_;
  std::string name_;
};

struct Lookup {
  WorkPtr<NameLookup> work;
  GuardedWorker worker;
  bool started = false;
};

}  // namespace

void NameHops(std::vector<HopFigures>* hops) {
  std::vector<Lookup> lookups(hops->size());
  for (std::size_t i = 0; i < hops->size(); ++i) {
    if ((*hops)[i].address.empty()) continue;
    lookups[i].work = NewWork<NameLookup>((*hops)[i].address);
    lookups[i].started = lookups[i].work != nullptr && lookups[i].worker.Start(*lookups[i].work);
  }
  // Together: the last waits no more than the first's limit.
  const DWORD began = GetTickCount();
  for (std::size_t i = 0; i < hops->size(); ++i) {
    if (!lookups[i].started) continue;
    std::optional<GuardedEnd> end;
    while (!(end = lookups[i].worker.Wait(kLookEveryMs))) {
      if (GetTickCount() - began >= kHopNameLimitMs) lookups[i].worker.GiveUp();
    }
    if (*end == GuardedEnd::Finished) (*hops)[i].name = lookups[i].work->Name();
  }
}

}  // namespace telvario
