#include "exporter_config.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>
#include <utility>

#include "config_values.h"
#include "url_text.h"

namespace telvario::exporter {
namespace {

// Larger than any list of targets a person writes; a file past it is not read at all.
constexpr std::size_t kLargestFile = std::size_t{4} << 20;
constexpr std::size_t kMostLatencyTargets = 10000;
constexpr std::size_t kMostScheduledTargets = 1000;
constexpr std::size_t kMostBuckets = 64;
constexpr double kShortestInterval = 0.1;
constexpr double kShortestRouteEvery = 60;
constexpr double kLongestEvery = 7 * 24 * 3600;
constexpr int kLargestPacket = 65000;
// A throughput run's bounds on each direction, as the component takes them.
constexpr double kShortestDuration = 1;
constexpr double kLongestDuration = 60;
// Echo requests a second in all: one echo-service handle holds at most 65,535 on their way,
// which targets that never answer keep there for the answer limit (1 s) each.
constexpr double kMostRequestsPerSecond = 20000;

std::string KeyList(std::initializer_list<const char*> keys) {
  std::string list;
  for (const char* key : keys) list += (list.empty() ? "" : ", ") + std::string(key);
  return list;
}

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  ExporterConfig Read(const YAML::Node& root) const {
    ExporterConfig config;
    config.file = file_;
    if (root.IsNull()) return config;  // an empty file: nothing to measure, yet
    CheckKeys(root, {"buckets", "latency", "route", "throughput", "probe_urls"}, "the file");
    const std::vector<double> buckets =
        root["buckets"] ? Buckets(root["buckets"]) : DefaultBuckets();
    List(root["latency"], "latency", kMostLatencyTargets,
         [&](const YAML::Node& entry) { config.latency.push_back(Latency(entry, buckets)); });
    List(root["route"], "route", kMostScheduledTargets,
         [&](const YAML::Node& entry) { config.route.push_back(Route(entry)); });
    List(root["throughput"], "throughput", kMostScheduledTargets,
         [&](const YAML::Node& entry) { config.throughput.push_back(Throughput(entry)); });
    List(root["probe_urls"], "probe_urls", kMostScheduledTargets,
         [&](const YAML::Node& entry) { config.probeUrls.push_back(ProbeUrl(entry)); });
    CheckRepeats(root["latency"], config.latency);
    CheckOnce(root["route"], config.route, "route", [](const RouteTarget& r) { return r.target; });
    CheckOnce(root["throughput"], config.throughput, "throughput",
              [](const ThroughputTarget& t) { return t.url; });
    CheckRate(root["latency"], config.latency);
    return config;
  }

 private:
  [[noreturn]] void Fail(const YAML::Node& node, const std::string& why) const {
    const YAML::Mark mark = node.Mark();
    if (mark.is_null()) throw ConfigError(file_ + ": " + why);
    throw ConfigError(file_ + ":" + std::to_string(mark.line + 1) + ": " + why);
  }

  static int Line(const YAML::Node& node) { return node.Mark().line + 1; }

  std::string Scalar(const YAML::Node& node, const std::string& key) const {
    if (!node.IsScalar()) Fail(node, key + " takes a single value");
    return node.Scalar();
  }

  template <typename ReadFn>
  auto Value(const YAML::Node& node, const std::string& key, ReadFn read) const {
    try {
      return read(Scalar(node, key));
    } catch (const ValueError& error) {
      Fail(node, key + ": " + error.what());
    }
  }

  // A mapping whose keys are each known, and each given once.
  void CheckKeys(const YAML::Node& map, std::initializer_list<const char*> known,
                 const std::string& what) const {
    if (!map.IsMap()) Fail(map, what + " is a mapping of keys to values");
    std::set<std::string> seen;
    for (const auto& entry : map) {
      const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : "";
      const bool isKnown =
          std::any_of(known.begin(), known.end(), [&](const char* name) { return key == name; });
      if (!isKnown) {
        Fail(entry.first,
             "unknown key " + Quoted(key) + " in " + what + " (known: " + KeyList(known) + ")");
      }
      if (!seen.insert(key).second) Fail(entry.first, key + " is given twice");
    }
  }

  template <typename MakeFn>
  void List(const YAML::Node& node, const char* name, std::size_t most, MakeFn make) const {
    if (!node || node.IsNull()) return;
    if (!node.IsSequence())
      Fail(node, std::string(name) + " is a list (each entry on a '- ' line)");
    if (node.size() > most) {
      Fail(node, std::string(name) + " lists more than " + std::to_string(most) + " entries");
    }
    for (const YAML::Node& entry : node) make(entry);
  }

  std::vector<double> Buckets(const YAML::Node& node) const {
    if (!node.IsSequence() || node.size() == 0 || node.size() > kMostBuckets) {
      Fail(node, "buckets is a list of 1 to " + std::to_string(kMostBuckets) +
                     " upper bounds in seconds, rising (e.g. [0.005, 0.01, 0.025])");
    }
    std::vector<double> bounds;
    for (const YAML::Node& bound : node) {
      bounds.push_back(Value(bound, "buckets", ReadSeconds));
      if (bounds.size() > 1 && bounds.back() <= bounds[bounds.size() - 2]) {
        Fail(bound, "buckets: each bound is above the one before it");
      }
    }
    return bounds;
  }

  LatencyTarget Latency(const YAML::Node& entry, const std::vector<double>& buckets) const {
    CheckKeys(entry, {"target", "interval", "packet_size", "family", "buckets"}, "a latency entry");
    if (!entry["target"]) Fail(entry, "a latency entry names its target");
    LatencyTarget latency;
    latency.line = Line(entry);
    latency.target = Value(entry["target"], "target", ReadHost);
    if (entry["interval"]) {
      latency.intervalSeconds = Value(entry["interval"], "interval", [](const std::string& text) {
        return ReadDuration(text, kShortestInterval, 3600);
      });
    }
    if (entry["packet_size"]) {
      latency.packetSize = Value(entry["packet_size"], "packet_size", [](const std::string& text) {
        return ReadWhole(text, 0, kLargestPacket);
      });
    }
    if (entry["family"]) latency.family = Value(entry["family"], "family", ReadFamily);
    latency.buckets = entry["buckets"] ? Buckets(entry["buckets"]) : buckets;
    return latency;
  }

  RouteTarget Route(const YAML::Node& entry) const {
    CheckKeys(entry, {"target", "every", "first", "family"}, "a route entry");
    if (!entry["target"]) Fail(entry, "a route entry names its target");
    RouteTarget route;
    route.line = Line(entry);
    route.target = Value(entry["target"], "target", ReadHost);
    if (entry["every"]) {
      route.everySeconds = Value(entry["every"], "every", [](const std::string& text) {
        return ReadDuration(text, kShortestRouteEvery, kLongestEvery);
      });
    }
    if (entry["family"]) route.family = Value(entry["family"], "family", ReadFamily);
    route.firstSeconds = First(entry);
    return route;
  }

  ThroughputTarget Throughput(const YAML::Node& entry) const {
    CheckKeys(entry, {"url", "upload", "responsiveness", "every", "first", "duration"},
              "a throughput entry");
    if (!entry["url"]) Fail(entry, "a throughput entry names its download url");
    ThroughputTarget throughput;
    throughput.line = Line(entry);
    throughput.url = Value(entry["url"], "url", ReadUrl);
    if (entry["upload"]) throughput.upload = Value(entry["upload"], "upload", ReadUrl);
    if (entry["responsiveness"]) {
      throughput.responsiveness = Value(entry["responsiveness"], "responsiveness", ReadSwitch);
    }
    if (entry["every"]) {
      throughput.everySeconds = Value(entry["every"], "every", [](const std::string& text) {
        return ReadDuration(text, kThroughputLeastEverySeconds, kLongestEvery);
      });
    }
    throughput.firstSeconds = First(entry);
    if (entry["duration"]) {
      throughput.durationSeconds =
          Value(entry["duration"], "duration", [](const std::string& text) {
            return ReadDuration(text, kShortestDuration, kLongestDuration);
          });
    }
    return throughput;
  }

  std::string ProbeUrl(const YAML::Node& entry) const {
    return Value(entry, "probe_urls", ReadUrl);
  }

  double First(const YAML::Node& entry) const {
    if (!entry["first"]) return -1;
    return Value(entry["first"], "first",
                 [](const std::string& text) { return ReadDuration(text, 0, kLongestEvery); });
  }

  // One series per target and family: a target given twice for a family is a mistake.
  void CheckRepeats(const YAML::Node& list, const std::vector<LatencyTarget>& latency) const {
    std::set<std::pair<std::string, int>> seen;
    for (std::size_t index = 0; index < latency.size(); ++index) {
      const LatencyTarget& target = latency[index];
      const auto taken = [&](int family) { return seen.count({target.target, family}) != 0; };
      const bool repeated =
          taken(target.family) || taken(0) || (target.family == 0 && (taken(4) || taken(6)));
      if (repeated) {
        Fail(list[index], "latency lists " + Quoted(target.target) + " twice for one family");
      }
      seen.insert({target.target, target.family});
    }
  }

  // The page has one series of a kind for each route target and each URL: one entry each.
  template <typename Entry, typename KeyFn>
  void CheckOnce(const YAML::Node& list, const std::vector<Entry>& entries, const char* name,
                 KeyFn key) const {
    std::set<std::string> seen;
    for (std::size_t index = 0; index < entries.size(); ++index) {
      if (!seen.insert(key(entries[index])).second) {
        Fail(list[index], std::string(name) + " lists " +
                              Quoted(cli::WithoutUserinfo(key(entries[index]))) + " twice");
      }
    }
  }

  // A target of either family counts twice: it may have an address of each.
  void CheckRate(const YAML::Node& list, const std::vector<LatencyTarget>& latency) const {
    double perSecond = 0;
    for (const LatencyTarget& target : latency) {
      perSecond += (target.family == 0 ? 2 : 1) / target.intervalSeconds;
    }
    if (perSecond > kMostRequestsPerSecond) {
      Fail(list, "latency asks for " + std::to_string(static_cast<long>(perSecond)) +
                     " echo requests a second, more than " +
                     std::to_string(static_cast<long>(kMostRequestsPerSecond)) +
                     ": fewer targets, or longer intervals");
    }
  }

  std::string file_;
};

std::string FileText(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw ConfigError(path + ": " + std::strerror(errno));
  std::string text;
  char block[65536];
  std::size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0 && text.size() <= kLargestFile) {
    text.append(block, got);
  }
  const int error = std::ferror(file) != 0 ? errno : 0;
  std::fclose(file);
  if (error != 0) throw ConfigError(path + ": " + std::strerror(error));
  if (text.size() > kLargestFile) {
    throw ConfigError(path + ": larger than " + std::to_string(kLargestFile >> 20) +
                      " MiB: not a configuration");
  }
  return text;
}

}  // namespace

std::vector<double> DefaultBuckets() {
  return {0.0005, 0.001, 0.002, 0.003, 0.005, 0.0075, 0.01, 0.015, 0.02, 0.025, 0.03,
          0.04,   0.05,  0.06,  0.075, 0.1,   0.15,   0.2,  0.3,   0.5,  0.75,  1};
}

ExporterConfig ParseConfig(const std::string& text, const std::string& file) {
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& error) {
    const std::string where = error.mark.is_null() ? "" : ":" + std::to_string(error.mark.line + 1);
    throw ConfigError(file + where + ": not YAML: " + error.msg);
  }
  try {
    return Reader(file).Read(root);
  } catch (const YAML::Exception& error) {
    // What the reader did not foresee in the document's shape.
    throw ConfigError(file + ": " + error.msg);
  }
}

ExporterConfig ReadConfig(const std::string& path) {
  return ParseConfig(FileText(path), path);
}

bool MayProbeTransfer(const ExporterConfig& config, const std::string& url) {
  const auto& listed = config.probeUrls;
  if (std::find(listed.begin(), listed.end(), url) != listed.end()) return true;
  return std::any_of(config.throughput.begin(), config.throughput.end(),
                     [&url](const ThroughputTarget& entry) {
                       return entry.url == url || (!entry.upload.empty() && entry.upload == url);
                     });
}

}  // namespace telvario::exporter
