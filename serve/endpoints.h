// What `telvario serve` answers:
//   GET /.well-known/nq   the responsiveness configuration, naming the three below by the
//                         scheme and authority the client asked with
//   GET /large            incompressible bytes for as long as the client reads (to the limits)
//   GET /small            one byte, for latency probes
//   GET /bytes/N          N bytes with their length given, as the report's loopback server did
//   POST (or PUT) to any path: an upload, its body counted and discarded, answered with the
//                         count
//   GET /                 a short page saying what this is
// A connection beyond the connection limits gets, for every request, 503 (too many in all) or
// 429 (too many from its client) with Retry-After, and is closed after the answer.
#ifndef TELVARIO_SERVE_ENDPOINTS_H
#define TELVARIO_SERVE_ENDPOINTS_H

#include <h2o.h>

#include "connection_ledger.h"
#include "serve_state.h"

namespace telvario::serve {

// The handler of a host whose connections were admitted as given.
void AddHandler(h2o_pathconf_t* path, ServeState* state, Admission admission);

}  // namespace telvario::serve

#endif
