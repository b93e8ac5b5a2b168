// An answer to an HTTP request, as the exporter's endpoints give it: made away from the HTTP
// library, so that code of the Windows names (the measurements) can make one too.
#ifndef TELVARIO_EXPORTER_REPLY_H
#define TELVARIO_EXPORTER_REPLY_H

#include <string>

namespace telvario::exporter {

struct Reply {
  int status = 200;
  std::string type = "text/plain; charset=utf-8";
  std::string body;
};

}  // namespace telvario::exporter

#endif
