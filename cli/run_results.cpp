#include "run_results.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include <nlohmann/json.hpp>

#include "record_fields.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

// Deeper than any record goes: a text nested further is no record, and is not walked.
constexpr int kDeepestRecord = 16;

nlohmann::json ParseRecord(const std::string& json) {
  return nlohmann::json::parse(json, [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
    if (depth > kDeepestRecord) throw BadRecord("the Results record nests deeper than any record");
    return true;
  });
}

// Every text of the record, names too, without a URL's userinfo; true when any had one.
bool HideUserinfo(nlohmann::json& value) {
  bool changed = false;
  if (value.is_string()) {
    std::string shown = WithoutUserinfo(value.get_ref<const std::string&>());
    changed = shown != value.get_ref<const std::string&>();
    if (changed) value = std::move(shown);
  } else if (value.is_array()) {
    for (nlohmann::json& item : value) changed = HideUserinfo(item) || changed;
  } else if (value.is_object()) {
    nlohmann::json shown = nlohmann::json::object();
    for (auto& [name, item] : value.items()) {
      changed = HideUserinfo(item) || changed;
      std::string shownName = WithoutUserinfo(name);
      changed = changed || shownName != name;
      shown[shownName] = std::move(item);
    }
    value = std::move(shown);
  }
  return changed;
}

void ReadKind(const nlohmann::json& record, RunResults& run) {
  if (run.measurement == "latency") {
    run.data = ReadLatencyRecord(record);
  } else if (run.measurement == "download" || run.measurement == "upload" ||
             run.measurement == "load") {
    run.data = ReadTransferRecord(record);
  } else if (run.measurement == "responsiveness") {
    run.data = ReadResponsivenessRecord(record);
  } else if (run.measurement == "route") {
    run.data = ReadRouteRecord(record);
  }
}

}  // namespace

const RunOutcome* RunResults::Outcome() const {
  if (const LatencyRecord* latency = Latency()) return &latency->outcome;
  if (const TransferRecord* transfer = Transfer()) return &transfer->outcome;
  if (const ResponsivenessRecord* run = Responsiveness()) return &run->outcome;
  if (const RouteRecord* route = Route()) return &route->outcome;
  return nullptr;
}

std::string RunResults::Target() const {
  if (const LatencyRecord* latency = Latency()) return latency->host;
  if (const TransferRecord* transfer = Transfer()) return transfer->url;
  if (const ResponsivenessRecord* run = Responsiveness()) return run->url;
  if (const RouteRecord* route = Route()) return route->host;
  return "";
}

bool RunResults::Succeeded() const {
  const RunOutcome* outcome = Outcome();
  const TransferRecord* transfer = Transfer();
  const ResponsivenessRecord* run = Responsiveness();
  return outcome != nullptr && outcome->Succeeded() &&
         (transfer == nullptr || transfer->Measured()) &&
         (run == nullptr || (run->downloadFailure.empty() && run->uploadFailure.empty()));
}

RunResults ReadRunResults(const std::string& json, double startedUnix) {
  RunResults run;
  run.startedUnix = startedUnix;
  run.started = UtcText(startedUnix);
  // The reader would take a NUL byte for the end of the text, and what follows for no part of it.
  if (const std::size_t nul = json.find('\0'); nul != std::string::npos) {
    run.problem = "the Results record is not JSON (a NUL byte at byte " + std::to_string(nul) + ")";
    return run;
  }
  nlohmann::json record;
  try {
    record = ParseRecord(json);
  } catch (const nlohmann::json::parse_error& error) {
    // Its own words would quote the record, userinfo and all.
    run.problem = "the Results record is not JSON (at byte " + std::to_string(error.byte) + ")";
    return run;
  } catch (const nlohmann::json::exception&) {
    run.problem = "the Results record is not JSON (a number beyond any double)";
    return run;
  } catch (const BadRecord& error) {
    run.problem = error.what();
    return run;
  }
  run.record = HideUserinfo(record)
                   ? record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                   : json;
  try {
    run.measurement = RecordFields(record, "the Results record").Text("measurement");
    ReadKind(record, run);
  } catch (const BadRecord& error) {
    run.problem = WithoutUserinfo(error.what());
    run.data = std::monostate();
  }
  return run;
}

std::vector<double> RoundTripsOf(const std::vector<RoundTrip>& trips, const std::string& phase) {
  std::vector<double> rtts;
  for (const RoundTrip& trip : trips) {
    if (trip.rttMs && (phase.empty() || trip.phase == phase)) rtts.push_back(*trip.rttMs);
  }
  std::sort(rtts.begin(), rtts.end());
  return rtts;
}

std::string UtcText(double unixSeconds) {
  if (!std::isfinite(unixSeconds) || unixSeconds < 0 || unixSeconds > 32503680000.0) return "";
  const auto when = static_cast<std::time_t>(unixSeconds);
  // The client draws on one thread: gmtime's shared result is not raced for.
  const std::tm* utc = std::gmtime(&when);
  if (utc == nullptr) return "";
  char text[40];
  if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", utc) == 0) return "";
  return text;
}

}  // namespace telvario::cli
