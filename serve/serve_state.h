// What the server's handlers share on its one event loop: the limits, the ledger of
// connections, the bandwidth budget and the counts the server reports when it stops.
#ifndef TELVARIO_SERVE_SERVE_STATE_H
#define TELVARIO_SERVE_SERVE_STATE_H

#include <h2o.h>

#include <cstdint>

#include "bandwidth_budget.h"
#include "connection_ledger.h"
#include "serve_counts.h"
#include "serve_options.h"

namespace telvario::serve {

struct ServeState {
  explicit ServeState(const ServeLimits& given)
      : limits(given),
        budget(given.bandwidthMbps),
        ledger(given.connections, given.connectionsPerClient) {}

  const ServeLimits limits;
  BandwidthBudget budget;
  ConnectionLedger ledger;
  ServeCounts counts;
  h2o_loop_t* loop = nullptr;
  // What a download waiting for the bandwidth budget waits on.
  h2o_timeout_t budgetWait{};
};

}  // namespace telvario::serve

#endif
