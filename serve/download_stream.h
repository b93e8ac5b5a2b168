// A download's body: slices of the incompressible block, each sent as the client takes the one
// before, drawn on the bandwidth budget, until its size, the download limit in bytes or in
// time. A sized download (Content-Length) cut short by a limit ends as an error, so that the
// client does not take it for whole; an unsized one simply ends.
#ifndef TELVARIO_SERVE_DOWNLOAD_STREAM_H
#define TELVARIO_SERVE_DOWNLOAD_STREAM_H

#include <h2o.h>

#include <cstdint>

#include "serve_state.h"

namespace telvario::serve {

// Starts the response, its status and headers set: `bytes` of body, or with `sized` false as
// many as the limits allow.
void StartDownload(ServeState* state, h2o_req_t* req, std::uint64_t bytes, bool sized);

}  // namespace telvario::serve

#endif
