#include "endpoints.h"

#include <charconv>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "download_stream.h"

namespace telvario::serve {
namespace {

// A refused client may try again this soon.
constexpr std::uint64_t kRetrySeconds = 1;

constexpr char kPage[] =
    "<!DOCTYPE html>\n<html><head><title>Telvario measurement server</title></head><body>\n"
    "<h1>Telvario measurement server</h1>\n"
    "<p>The other end of a measurement of throughput and responsiveness: it sends bytes that "
    "do not compress and takes uploads of any size, counting and discarding them.</p>\n<ul>\n"
    "<li><a href=\"/.well-known/nq\">/.well-known/nq</a>: the responsiveness "
    "configuration</li>\n"
    "<li>/large: a download as long as the client reads</li>\n"
    "<li><a href=\"/small\">/small</a>: one byte</li>\n"
    "<li>/bytes/N: N bytes</li>\n<li>POST to any path: an upload</li>\n</ul>\n"
    "<p>Measure with it: <code>telvario throughput URL</code> or "
    "<code>telvario responsiveness URL</code>.</p>\n</body></html>\n";

struct Handler {
  h2o_handler_t super;  // first: the library hands this back as the handler
  ServeState* state;
  Admission admission;
};

std::string_view Text(h2o_iovec_t value) {
  return {value.base, value.len};
}

void AddHeader(h2o_req_t* req, const h2o_token_t* token, std::string_view value) {
  const h2o_iovec_t copy = h2o_strdup(&req->pool, value.data(), value.size());
  h2o_add_header(&req->pool, &req->res.headers, token, nullptr, copy.base, copy.len);
}

void SendText(h2o_req_t* req, int status, const char* reason, const char* type,
              std::string_view body) {
  req->res.status = status;
  req->res.reason = reason;
  AddHeader(req, H2O_TOKEN_CONTENT_TYPE, type);
  AddHeader(req, H2O_TOKEN_CACHE_CONTROL, "no-store");
  const h2o_iovec_t copy = h2o_strdup(&req->pool, body.data(), body.size());
  h2o_send_inline(req, copy.base, copy.len);
}

// A refusal that says when to come back; the connection is not kept after it.
void Refuse(ServeState* state, h2o_req_t* req, int status, std::uint64_t seconds) {
  ++state->counts.refused;
  req->http1_is_persistent = 0;
  AddHeader(req, H2O_TOKEN_RETRY_AFTER, std::to_string(seconds));
  if (status == 429) {
    SendText(req, 429, "Too Many Requests", "text/plain",
             "Too many connections from this address at once: try again shortly.\n");
  } else {
    SendText(req, 503, "Service Unavailable", "text/plain",
             "This server is at its limit: try again shortly.\n");
  }
}

std::string Configuration(h2o_req_t* req) {
  const std::string base =
      std::string(Text(req->scheme->name)) + "://" + std::string(Text(req->authority));
  const nlohmann::json configuration = {{"version", 1},
                                        {"urls",
                                         {{"large_download_url", base + "/large"},
                                          {"small_download_url", base + "/small"},
                                          {"upload_url", base + "/upload"}}}};
  return configuration.dump(2) + "\n";
}

void SendDownload(ServeState* state, h2o_req_t* req, std::uint64_t bytes, bool sized) {
  req->res.status = 200;
  req->res.reason = "OK";
  if (sized) req->res.content_length = bytes;
  AddHeader(req, H2O_TOKEN_CONTENT_TYPE, "application/octet-stream");
  AddHeader(req, H2O_TOKEN_CACHE_CONTROL, "no-store");
  StartDownload(state, req, bytes, sized);
}

// GET /bytes/N: N, or false where it is not a whole number or beyond the download limit.
bool SizedDownload(std::string_view path, std::uint64_t most, std::uint64_t* bytes) {
  constexpr std::string_view kPrefix = "/bytes/";
  if (path.substr(0, kPrefix.size()) != kPrefix) return false;
  const std::string_view digits = path.substr(kPrefix.size());
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), *bytes);
  return !digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
         *bytes <= most;
}

void Upload(ServeState* state, h2o_req_t* req) {
  const std::uint64_t bytes = req->entity.base != nullptr ? req->entity.len : 0;
  ++state->counts.uploads;
  state->counts.bytesReceived += bytes;
  state->budget.Charge(bytes, h2o_now(state->loop));
  SendText(req, 200, "OK", "text/plain", std::to_string(bytes) + "\n");
}

void Get(ServeState* state, h2o_req_t* req) {
  const std::string_view path = Text(req->path_normalized);
  std::uint64_t bytes = 0;
  if (path == "/") {
    SendText(req, 200, "OK", "text/html; charset=utf-8", kPage);
  } else if (path == "/.well-known/nq") {
    SendText(req, 200, "OK", "application/json", Configuration(req));
  } else if (path == "/large") {
    SendDownload(state, req, state->limits.downloadBytes, false);
  } else if (path == "/small") {
    SendDownload(state, req, 1, true);
  } else if (SizedDownload(path, state->limits.downloadBytes, &bytes)) {
    SendDownload(state, req, bytes, true);
  } else {
    SendText(req, 404, "Not Found", "text/plain", "Not here: see / for what is.\n");
  }
}

int OnRequest(h2o_handler_t* self, h2o_req_t* req) {
  auto* handler = reinterpret_cast<Handler*>(self);
  ServeState* state = handler->state;
  if (handler->admission == Admission::TooManyInAll) {
    Refuse(state, req, 503, kRetrySeconds);
    return 0;
  }
  if (handler->admission == Admission::TooManyFromClient) {
    Refuse(state, req, 429, kRetrySeconds);
    return 0;
  }
  if (const std::uint64_t debt = state->budget.SecondsInDebt(h2o_now(state->loop)); debt > 0) {
    Refuse(state, req, 503, debt);
    return 0;
  }
  const std::string_view method = Text(req->method);
  if (method == "GET" || method == "HEAD") {
    Get(state, req);
  } else if (method == "POST" || method == "PUT") {
    Upload(state, req);
  } else {
    AddHeader(req, H2O_TOKEN_ALLOW, "GET, HEAD, POST, PUT");
    SendText(req, 405, "Method Not Allowed", "text/plain", "GET, HEAD, POST or PUT.\n");
  }
  return 0;
}

}  // namespace

void AddHandler(h2o_pathconf_t* path, ServeState* state, Admission admission) {
  auto* handler = reinterpret_cast<Handler*>(h2o_create_handler(path, sizeof(Handler)));
  handler->super.on_req = OnRequest;
  handler->state = state;
  handler->admission = admission;
}

}  // namespace telvario::serve
