// The words of the help and the manual page around the table of commands.
#include "command.h"
#include "help_text.h"
#include "interrupt.h"

namespace telvario::cli {
namespace {

constexpr HelpSection kSections[] = {
    {"output",
     "Results go to standard output, which must take them whole: a command whose output cannot "
     "be written (to a full disk) fails. Errors go to standard error, and so does progress, but "
     "only on a terminal: the label and the seconds passed for the Sonde members, and for the "
     "Sonde2 measurements of latency, throughput, responsiveness and report, once one has taken "
     "a second, a line redrawn at each of the object's Progress events with the phase, the share "
     "done and the latest figure (ms for round trips, Mbit/s for rates), cleared at the end. A "
     "run that failed reports no figure it did not measure, in any output. A URL's user name and "
     "password go to the server alone: the client never prints or writes them. A usage error "
     "prints one line and where the help is; 'telvario COMMAND --help' shows one command's "
     "options."},
    {"interrupting",
     "Ctrl-C (SIGINT; on Windows Ctrl+C or Ctrl+Break) during a Sonde2 measurement cancels it: "
     "the run ends at its next sample, the client prints what it had measured, marked "
     "LatencyCancelled, DownloadCancelled, UploadCancelled or ResponsivenessCancelled (and draws "
     "it, with --svg), measures nothing more, and exits with 130. A second Ctrl-C ends it at "
     "once. Outside those measurements, and while the upload's question waits for an answer, "
     "Ctrl-C ends the program as usual."},
    {"prometheus",
     "telvario exporter is a prober that Prometheus scrapes. It keeps measuring the latency of "
     "every target of its --config file (one echo request every interval, over IPv4 and IPv6) "
     "and answers at /metrics: telvario_latency_seconds (a histogram), "
     "telvario_echo_requests_total and telvario_echo_replies_total with the labels target and "
     "family, the jitter, and the exporter's own health. Its route entries (every 10m unless "
     "given) and throughput entries (download, upload and responsiveness, at most every 10m) run "
     "on their own schedules, their first start at a random time within the period (or within "
     "first:), and /metrics gives the latest of each under the names --openmetrics gives: "
     "telvario_hop_latency_median_seconds (and min, mean, p90, max) with the labels target and "
     "hop, telvario_hop_loss_ratio, telvario_hop_info (the hop's address), "
     "telvario_download_bits_per_second, telvario_upload_bits_per_second, "
     "telvario_responsiveness_rpm and the loaded latency, each kind with its "
     "_last_run_timestamp_seconds. At /probe?target=HOST&module=latency (or "
     "module=route; target=URL with module=download, upload or responsiveness, a URL the file "
     "lists under throughput or probe_urls) it measures the target a scrape names, within the "
     "scrape's X-Prometheus-Scrape-Timeout-Seconds: the multi-target pattern. It listens on "
     "127.0.0.1:9731 unless --listen says otherwise; SIGHUP or POST /-/reload reads the file "
     "again, keeping the one in use where the new one is refused (with its line and why on "
     "standard error). A scrape configuration for both endpoints:",
     "scrape_configs:\n"
     "  - job_name: telvario\n"
     "    static_configs:\n"
     "      - targets: ['127.0.0.1:9731']\n"
     "  - job_name: telvario_probe\n"
     "    metrics_path: /probe\n"
     "    params:\n"
     "      module: [latency]\n"
     "    static_configs:\n"
     "      - targets: ['example.net', '192.0.2.1']\n"
     "    relabel_configs:\n"
     "      - source_labels: [__address__]\n"
     "        target_label: __param_target\n"
     "      - source_labels: [__param_target]\n"
     "        target_label: instance\n"
     "      - target_label: __address__\n"
     "        replacement: 127.0.0.1:9731"},
};

constexpr ExitStatus kStatuses[] = {
    {kMeasured, "the measurement gave a result"},
    {kFailed,
     "it failed: a negative code or a failure result, no component to ask, or a picture or "
     "standard output that could not be written"},
    {kUsageError, "the command line was wrong"},
    {kInterruptedStatus, "Ctrl-C cancelled a measurement; what it had measured was printed"},
};

}  // namespace

const char* ClientDescription() {
  return "telvario creates one object of the Telvario component in its own process, as any host "
         "does, and prints what the object answers: ICMP echo round-trip times and the time to a "
         "given hop, forward and reverse name lookups, an HTTP download rate and an anonymous FTP "
         "upload rate; and, from a Sonde2 object (ProgID \"Telvario.Sonde2\", the default), "
         "latency as a distribution with jitter and loss over IPv4 or IPv6, throughput over "
         "several connections both ways, and responsiveness under load. With --class Sonde it "
         "makes a Sonde (ProgID \"Telvario.Sonde\") instead, which answers the first group only.";
}

std::span<const HelpSection> HelpSections() {
  return kSections;
}

std::span<const ExitStatus> ExitStatuses() {
  return kStatuses;
}

}  // namespace telvario::cli
