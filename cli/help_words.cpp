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
