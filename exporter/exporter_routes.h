// What each path of the exporter answers: / (a page naming the others), /metrics, /probe and
// /-/reload; anything else is not found.
#ifndef TELVARIO_EXPORTER_EXPORTER_ROUTES_H
#define TELVARIO_EXPORTER_EXPORTER_ROUTES_H

#include <h2o.h>

#include "exporter_server.h"
#include "http_jobs.h"

namespace telvario::exporter {

struct Routes {
  ExporterEndpoints* endpoints = nullptr;
  HttpJobs* jobs = nullptr;
  h2o_loop_t* loop = nullptr;
};

void AddRoutes(h2o_pathconf_t* path, Routes* routes);

}  // namespace telvario::exporter

#endif
