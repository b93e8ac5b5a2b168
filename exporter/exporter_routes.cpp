#include "exporter_routes.h"

#include <string>
#include <string_view>

#include "metrics_text.h"

namespace telvario::exporter {
namespace {

// A reload reads a file and resolves names: it is given this long before its request is told
// it is still going.
constexpr std::uint64_t kReloadWaitMs = 30000;
// Kept back from a scrape's time-out for the answer's way to the scraper.
constexpr double kAnswerMarginSeconds = 0.1;

constexpr char kPage[] =
    "<!DOCTYPE html>\n<html><head><title>Telvario exporter</title></head><body>\n"
    "<h1>Telvario exporter</h1>\n<ul>\n"
    "<li><a href=\"/metrics\">/metrics</a>: continuous latency of every configured target, "
    "and the exporter's own health</li>\n"
    "<li>/probe?target=HOST&amp;module=latency|route: one measurement of HOST a scrape</li>\n"
    "<li>/probe?target=URL&amp;module=download|upload|responsiveness: one run with URL a "
    "scrape, one throughput run at a time</li>\n"
    "<li>POST /-/reload: read the configuration again (as SIGHUP does)</li>\n"
    "</ul>\n</body></html>\n";

struct Handler {
  h2o_handler_t super;  // first: the library hands this back as the handler
  Routes* routes;
};

std::string_view Text(h2o_iovec_t value) {
  return {value.base, value.len};
}

Reply Plain(int status, std::string body) {
  return Reply{status, "text/plain; charset=utf-8", std::move(body) + "\n"};
}

std::string_view Query(const h2o_req_t* req) {
  if (req->query_at == SIZE_MAX) return {};
  return Text(req->path).substr(req->query_at + 1);
}

std::string_view ScrapeTimeout(const h2o_req_t* req) {
  const ssize_t found =
      h2o_find_header_by_str(&req->headers, H2O_STRLIT("x-prometheus-scrape-timeout-seconds"), -1);
  return found < 0 ? std::string_view() : Text(req->headers.entries[found].value);
}

void Busy(h2o_req_t* req) {
  SendReply(req, Plain(503, "too many probes and reloads at once: try again shortly"));
}

void Probe(Routes* routes, h2o_req_t* req) {
  ProbeRequest request;
  std::string failure;
  if (!ReadProbeRequest(Query(req), ScrapeTimeout(req), &request, &failure)) {
    SendReply(req, Plain(400, "probe: " + failure));
    return;
  }
  const double seconds = request.timeoutSeconds - kAnswerMarginSeconds;
  const std::uint64_t deadline = h2o_now(routes->loop) + static_cast<std::uint64_t>(seconds * 1000);
  const Reply late{200, kMetricsType,
                   FailedProbePage("the probe did not end within the scrape's time-out", seconds)};
  ExporterEndpoints* endpoints = routes->endpoints;
  const bool started = routes->jobs->Start(
      req,
      [endpoints, request](const std::atomic<bool>& stopping) {
        return endpoints->Probe(request, stopping);
      },
      deadline, late);
  if (!started) Busy(req);
}

void Reload(Routes* routes, h2o_req_t* req) {
  ExporterEndpoints* endpoints = routes->endpoints;
  const bool started = routes->jobs->Start(
      req, [endpoints](const std::atomic<bool>& /*stopping*/) { return endpoints->Reload(); },
      h2o_now(routes->loop) + kReloadWaitMs,
      Plain(503, "the reload is still going: see the exporter's log for how it ends"));
  if (!started) Busy(req);
}

bool Allowed(h2o_req_t* req, std::string_view method, const char* allow) {
  const std::string_view given = Text(req->method);
  const bool reads = given == "GET" || given == "HEAD";
  if (method == "GET" ? reads : given == method) return true;
  const h2o_iovec_t value = h2o_strdup(&req->pool, allow, std::string_view(allow).size());
  h2o_add_header(&req->pool, &req->res.headers, H2O_TOKEN_ALLOW, nullptr, value.base, value.len);
  SendReply(req, Plain(405, std::string(allow) + " only"));
  return false;
}

int OnRequest(h2o_handler_t* self, h2o_req_t* req) {
  Routes* routes = reinterpret_cast<Handler*>(self)->routes;
  const std::string_view path = Text(req->path_normalized);
  if (path == "/metrics") {
    if (Allowed(req, "GET", "GET, HEAD")) {
      SendReply(req, Reply{200, kMetricsType, routes->endpoints->Metrics()});
    }
  } else if (path == "/probe") {
    if (Allowed(req, "GET", "GET, HEAD")) Probe(routes, req);
  } else if (path == "/-/reload") {
    if (Allowed(req, "POST", "POST")) Reload(routes, req);
  } else if (path == "/") {
    if (Allowed(req, "GET", "GET, HEAD")) {
      SendReply(req, Reply{200, "text/html; charset=utf-8", kPage});
    }
  } else {
    SendReply(req, Plain(404, "not here: /metrics, /probe and /-/reload are"));
  }
  return 0;
}

}  // namespace

void AddRoutes(h2o_pathconf_t* path, Routes* routes) {
  auto* handler = reinterpret_cast<Handler*>(h2o_create_handler(path, sizeof(Handler)));
  handler->super.on_req = OnRequest;
  handler->routes = routes;
}

}  // namespace telvario::exporter
