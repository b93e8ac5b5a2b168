#include <atomic>
#include <cstdio>
#include <string>

#include "command.h"
#include "open_files.h"
#include "serve_run.h"
#include "server.h"
#include "standard_output.h"
#include "stop_signals.h"

namespace telvario::cli {
namespace {

std::string Started(const serve::Server& server) {
  std::string text;
  for (const std::string& url : server.Urls()) text += "telvario serve: listening on " + url + "\n";
  if (!server.Certificate().empty()) text += "telvario serve: " + server.Certificate() + "\n";
  const std::string first = server.Urls().front();
  text += "telvario serve: the responsiveness configuration is " + first +
          ".well-known/nq; measure with 'telvario throughput " + first + "large --upload " + first +
          "upload' from another machine, naming this one; Ctrl-C stops\n";
  return text;
}

std::string Stopped(const serve::ServeCounts& counts) {
  return "telvario serve: stopped after " + std::to_string(counts.connections) + " connections, " +
         std::to_string(counts.downloads) + " downloads (" + std::to_string(counts.bytesSent) +
         " bytes sent), " + std::to_string(counts.uploads) + " uploads (" +
         std::to_string(counts.bytesReceived) + " bytes received), " +
         std::to_string(counts.refused) + " requests refused at a limit\n";
}

}  // namespace

int RunServe(const serve::ServeOptions& given) {
  CatchStopSignals(false);
  serve::ServeOptions options = given;
  try {
    const std::string fitted = serve::FitOpenFiles(options.limits);
    if (!fitted.empty()) std::fprintf(stderr, "telvario serve: %s\n", fitted.c_str());
    serve::Server server(options);
    WriteOut(Started(server));
    std::fflush(stdout);  // the addresses, for whoever waits for them, before any request
    server.Run(StopAsked());
    WriteOut(Stopped(server.Counts()));
  } catch (const serve::ServeUsageError& error) {
    throw UsageError(std::string("serve: ") + error.what());
  } catch (const serve::ServeFailure& error) {
    throw RunFailure(std::string("serve: ") + error.what());
  }
  return kMeasured;
}

}  // namespace telvario::cli
