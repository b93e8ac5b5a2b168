// What `telvario exporter` measures, as its configuration file (YAML) gives it: continuous
// latency to each of a list of targets, and routes, downloads, uploads and responsiveness on a
// schedule. Everything in the file is checked as it is read; a file that is not right is
// refused whole, with the line of what is wrong and why.
#ifndef TELVARIO_EXPORTER_EXPORTER_CONFIG_H
#define TELVARIO_EXPORTER_EXPORTER_CONFIG_H

#include <stdexcept>
#include <string>
#include <vector>

namespace telvario::exporter {

// The data bytes of each echo request unless given: as many as ping sends.
inline constexpr int kDefaultPacketSize = 56;

// Echo requests to one target without end, one every interval.
struct LatencyTarget {
  std::string target;  // a name or an address
  int family = 0;      // 4 or 6; 0: each family the name has an address of
  double intervalSeconds = 1;
  int packetSize = kDefaultPacketSize;
  std::vector<double> buckets;  // the histogram's upper bounds, in seconds, rising
  int line = 0;
};

// A route to a target, every so often.
struct RouteTarget {
  std::string target;
  int family = 0;
  double everySeconds = 600;
  // The first run starts at a random time within this many seconds (at most `every`), so that
  // a fleet started together does not measure together; negative: within `every`.
  double firstSeconds = -1;
  int line = 0;

  bool operator==(const RouteTarget& other) const {
    return target == other.target && family == other.family && everySeconds == other.everySeconds &&
           firstSeconds == other.firstSeconds;
  }
};

// A download from `url` (and an upload to `upload`, where given), and the responsiveness under
// that load, every so often: never more often than every ten minutes, whatever the file says,
// so that a prober does not become the load it measures.
struct ThroughputTarget {
  std::string url;
  std::string upload;  // "" for none
  bool responsiveness = true;
  double everySeconds = 3600;
  double firstSeconds = -1;    // as a route's
  double durationSeconds = 0;  // each direction's and the responsiveness run's; 0: the component's
  int line = 0;

  bool operator==(const ThroughputTarget& other) const {
    return url == other.url && upload == other.upload && responsiveness == other.responsiveness &&
           everySeconds == other.everySeconds && firstSeconds == other.firstSeconds &&
           durationSeconds == other.durationSeconds;
  }
};

struct ExporterConfig {
  std::string file;
  std::vector<LatencyTarget> latency;
  std::vector<RouteTarget> route;
  std::vector<ThroughputTarget> throughput;
  // Further URLs that /probe may download from, upload to or load, beside the throughput
  // entries' own.
  std::vector<std::string> probeUrls;
};

// Whether /probe may run a transfer (download, upload, responsiveness) with `url`: only to a
// server the file names, so that whoever reaches the exporter cannot turn it on another.
bool MayProbeTransfer(const ExporterConfig& config, const std::string& url);

// The bounds every latency histogram has unless its target or the file gives others: fine
// around the round trips of a wide-area path, coarse beyond.
std::vector<double> DefaultBuckets();

// The shortest time between two throughput runs of one target.
inline constexpr double kThroughputLeastEverySeconds = 600;

// A file that cannot be taken, in one line: "FILE:LINE: why" (or "FILE: why").
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the file; ConfigError where it cannot be read or is not right.
ExporterConfig ReadConfig(const std::string& path);
// The same for text already read, `file` naming it in errors.
ExporterConfig ParseConfig(const std::string& text, const std::string& file);

}  // namespace telvario::exporter

#endif
