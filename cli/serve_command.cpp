// `telvario serve [--listen ADDR:PORT ...] [--tls-cert FILE --tls-key FILE | --self-signed]`:
// the other end of a measurement, with its limits (serve/).
#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <string>

#include "commands.h"
#include "serve_run.h"

namespace telvario::cli {
namespace {

class ServeCommand final : public Command {
 public:
  serve::ServeOptions options;

  bool NeedsComponent() const override { return false; }

  void Prepare(const CommonOptions& /*common*/) override {
    const bool files = !options.tlsCertificate.empty() || !options.tlsKey.empty();
    if (files && (options.tlsCertificate.empty() || options.tlsKey.empty())) {
      throw UsageError("serve: --tls-cert and --tls-key go together");
    }
    if (files && options.selfSigned) {
      throw UsageError("serve: --self-signed or --tls-cert with --tls-key, not both");
    }
  }

  int RunAlone(const CommonOptions& /*common*/) override { return RunServe(options); }
  int Run(Session& session) override { return RunAlone(session.Options()); }
};

// A whole number of at least 1, with an optional binary multiple: 64K, 256M, 8G, 1T (KiB..TiB
// written out are taken too).
std::uint64_t ReadSize(const std::string& name, const std::string& text, bool multiples) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  std::string suffix(rest, end);
  if (suffix.size() == 3 && suffix.substr(1) == "iB") suffix.resize(1);
  const std::string units = "KMGT";
  const size_t power = suffix.size() == 1 && multiples ? units.find(suffix[0]) : std::string::npos;
  if (error != std::errc() || rest == text.data() || value == 0 ||
      (!suffix.empty() && power == std::string::npos)) {
    throw UsageError("serve: " + name +
                     (multiples ? " takes bytes, at least 1 (e.g. 65536, 64K, 256M, 8G)"
                                : " takes a whole number, at least 1"));
  }
  const unsigned shift = suffix.empty() ? 0 : 10 * static_cast<unsigned>(power + 1);
  if (shift > 0 && value > (UINT64_MAX >> shift))
    throw UsageError("serve: " + name + " is too large");
  return value << shift;
}

// A positive number of seconds or megabits a second.
double ReadPositive(const std::string& name, const std::string& text, const char* unit) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(value > 0) || !std::isfinite(value)) {
    throw UsageError("serve: " + name + " takes a positive number of " + unit);
  }
  return value;
}

void AddCount(CLI::App& command, const std::string& name, std::uint64_t& value,
              const std::string& help, bool bytes) {
  command
      .add_option_function<std::string>(
          name,
          [&value, name, bytes](const std::string& text) { value = ReadSize(name, text, bytes); },
          help + " (" + std::to_string(value) + " unless given)")
      ->type_name(bytes ? "BYTES" : "N");
}

void AddPositive(CLI::App& command, const std::string& name, double& value, const std::string& help,
                 const char* unit, const char* placeholder) {
  char fallback[32];
  std::snprintf(fallback, sizeof fallback, "%g", value);
  const std::string given = value > 0 ? std::string(" (") + fallback + " unless given)" : "";
  command
      .add_option_function<std::string>(
          name,
          [&value, name, unit](const std::string& text) { value = ReadPositive(name, text, unit); },
          help + given)
      ->type_name(placeholder);
}

void AddLimits(CLI::App& command, serve::ServeLimits& limits) {
  AddCount(command, "--max-connections", limits.connections,
           "connections served at once; beyond them a request is answered 503 with Retry-After",
           false);
  AddCount(command, "--max-connections-per-client", limits.connectionsPerClient,
           "connections served at once from one address; beyond them, 429 with Retry-After", false);
  AddCount(command, "--max-upload", limits.uploadBytes,
           "an upload's body; a larger one is refused with 413 (each is held whole until it ends)",
           true);
  AddCount(command, "--max-download", limits.downloadBytes, "a download's body; it ends there",
           true);
  AddPositive(command, "--request-timeout", limits.requestSeconds,
              "a request's seconds: a download ends, an HTTP/1.1 upload still coming is dropped",
              "seconds", "S");
  AddPositive(command, "--header-timeout", limits.headerSeconds,
              "seconds within which a connection sending under 500 bytes a second and sent "
              "nothing is dropped (a request's head sent a byte at a time; the TLS handshake)",
              "seconds", "S");
  AddPositive(command, "--idle-timeout", limits.idleSeconds,
              "seconds after which a connection on which nothing moves is dropped", "seconds", "S");
  AddPositive(command, "--bandwidth", limits.bandwidthMbps,
              "a cap on what the server sends and receives in all, in Mbit/s (none unless "
              "given): downloads are paced, and while uploads have overrun it requests get 503",
              "Mbit/s", "MBIT");
}

}  // namespace

std::unique_ptr<Command> AddServeCommand(CLI::App& command) {
  auto serve = std::make_unique<ServeCommand>();
  serve::ServeOptions& options = serve->options;
  command
      .add_option("--listen", options.listen,
                  "an address to listen on, ADDR:PORT (e.g. [::]:8080, 192.0.2.1:443, :8080 "
                  "for every address), given as often as needed (0.0.0.0:8080 and [::]:8080 "
                  "unless given)")
      ->type_name("ADDR:PORT")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  command
      .add_option("--tls-cert", options.tlsCertificate,
                  "serve HTTPS (HTTP/2 and HTTP/1.1) with this PEM certificate chain")
      ->type_name("FILE");
  command.add_option("--tls-key", options.tlsKey, "and this PEM private key")->type_name("FILE");
  command.add_flag("--self-signed", options.selfSigned,
                   "serve HTTPS with a certificate made for this run (its fingerprint is printed)");
  command
      .add_option("--access-log", options.accessLog,
                  "write an access log, in the combined log format, to FILE (- for standard "
                  "output)")
      ->type_name("FILE");
  AddLimits(command, options.limits);
  return serve;
}

}  // namespace telvario::cli
