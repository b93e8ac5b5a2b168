#include "command.h"
#include "serve_run.h"

namespace telvario::cli {

int RunServe(const serve::ServeOptions& /*options*/) {
  throw RunFailure(
      "serve is part of the Linux client only (its HTTP/2 server library is built for posix); "
      "run it on a Linux machine and measure from here against it");
}

}  // namespace telvario::cli
