#include "svg_chart.h"

#include <optional>

#include "svg_panels.h"
#include "url_text.h"

namespace telvario::cli {
namespace {

std::string Figure(const std::optional<double>& value) {
  return value ? FigureText(*value) : "?";
}

std::string Percent(const std::optional<double>& ratio) {
  return ratio ? FigureText(*ratio * 100) + "%" : "?";
}

// What became of the run, after its details.
std::string Outcome(const RunOutcome& outcome) {
  std::string text;
  if (outcome.cancelled) text += "; cancelled before its end";
  if (!outcome.failure.empty()) text += "; failed: " + outcome.failure;
  return text;
}

PanelHeading LatencyHeading(const LatencyRecord& run) {
  std::string title = "Latency to " + run.host;
  if (!run.peer.empty() && run.peer != run.host) title += " (" + run.peer + ")";
  title += run.median ? ": median " + FigureText(*run.median) + " ms" : ": no round trip";
  return {title, Figure(run.sent) + " echo requests of " + Figure(run.packetSize) +
                     " bytes every " + Figure(run.intervalMs) + " ms, " + Figure(run.received) +
                     " answered (" + Percent(run.loss) + " lost)" + Outcome(run.outcome)};
}

PanelHeading TransferHeading(const TransferRecord& run) {
  std::string title = run.measurement == "upload" ? "Upload to "
                      : run.measurement == "load" ? "Load of "
                                                  : "Download from ";
  title += run.url + ": ";
  title += run.Measured() ? FigureText(*run.outcome.result) + " Mbit/s" : "no rate";
  std::string detail = Figure(run.streams) + " connections";
  const double broken = run.BrokenConnections();
  if (broken > 0) detail += " (" + FigureText(broken) + " broke)";
  if (run.bytes && run.elapsed) {
    detail += ", " + FigureText(*run.bytes / 1e6) + " MB in " + FigureText(*run.elapsed) +
              " s counted, the first " + Figure(run.startupSeconds) + " s left out";
  }
  return {title, detail + Outcome(run.outcome)};
}

PanelHeading ResponsivenessHeading(const ResponsivenessRecord& run, const std::string& part) {
  std::string detail;
  if (run.idleLatency) detail += "round trips idle " + FigureText(*run.idleLatency) + " ms";
  if (run.loadedLatency) {
    detail += std::string(detail.empty() ? "round trips" : ",") + " loaded " +
              FigureText(*run.loadedLatency) + " ms (p90 " + Figure(run.loadedLatencyP90) + " ms)";
  }
  if (detail.empty()) detail = "no round trip measured";
  if (!run.downloadFailure.empty()) detail += "; the downloads failed: " + run.downloadFailure;
  if (!run.uploadFailure.empty()) detail += "; the uploads failed: " + run.uploadFailure;
  const std::string figure = run.rpm ? FigureText(*run.rpm) + " RPM" : "no RPM";
  return {"Responsiveness of " + run.url + ": " + figure + part, detail + Outcome(run.outcome)};
}

PanelHeading RouteHeading(const RouteRecord& run, const std::string& part) {
  std::string title = "Route to " + run.host;
  if (!run.peer.empty() && run.peer != run.host) title += " (" + run.peer + ")";
  const double result = run.outcome.result.value_or(-1);
  title += result > 0 ? ": " + FigureText(result) + " hops" : ": not reached";
  std::string detail = Figure(run.probes) + " rounds of echo requests every " +
                       Figure(run.intervalMs) + " ms, up to " + Figure(run.maxHops) + " hops";
  if (!run.end.empty() && run.end != "destination") detail += "; ended by " + run.end;
  return {title + part, detail + Outcome(run.outcome)};
}

// Draws one run below `top`; gives the height it took.
double DrawRun(SvgCanvas& body, const RunResults& run, double top) {
  if (!run.Readable()) {
    DrawNotePanel(body, top, "A run that cannot be drawn", run.problem);
    return kNoteHeight;
  }
  if (const LatencyRecord* latency = run.Latency()) {
    DrawLatencyPanel(body, run, top, LatencyHeading(*latency));
    return kPanelHeight;
  }
  if (const TransferRecord* transfer = run.Transfer()) {
    DrawThroughputPanel(body, run, *transfer, top, TransferHeading(*transfer));
    return kPanelHeight;
  }
  if (const ResponsivenessRecord* responsiveness = run.Responsiveness()) {
    DrawThroughputPanel(body, run, responsiveness->load, top,
                        ResponsivenessHeading(*responsiveness, ", the load"));
    DrawLatencyPanel(body, run, top + kPanelHeight,
                     ResponsivenessHeading(*responsiveness, ", idle and loaded"));
    return 2 * kPanelHeight;
  }
  if (const RouteRecord* route = run.Route()) {
    DrawRouteLatencyPanel(body, run, *route, top, RouteHeading(*route, ", round trips by hop"));
    DrawRouteLossPanel(body, run, *route, top + kPanelHeight,
                       RouteHeading(*route, ", loss by hop"));
    return 2 * kPanelHeight;
  }
  DrawNotePanel(body, top, "A run of another kind",
                "\"" + run.measurement + "\" is not drawn by this version of telvario");
  return kNoteHeight;
}

}  // namespace

std::string RunsSvg(const std::vector<RunResults>& runs, const std::string& what) {
  SvgCanvas body;
  double top = 64;
  for (const RunResults& run : runs) top += DrawRun(body, run, top);
  if (runs.empty()) {
    DrawNotePanel(body, top, "Nothing to draw", "the command made no Sonde2 measurement");
    top += kNoteHeight;
  }

  const std::string width = Coordinate(kChartWidth);
  const std::string height = Coordinate(top + 10);
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + width + "\" height=\"" + height +
         "\" viewBox=\"0 0 " + width + " " + height +
         "\" font-family=\"DejaVu Sans, Verdana, sans-serif\">\n";
  const std::string when = runs.empty() ? "" : runs.front().started;
  const std::string title = "Telvario: " + WithoutUserinfo(what);
  svg += "<title>" + XmlText(title) + "</title>\n";
  svg +=
      "<rect x=\"0\" y=\"0\" width=\"" + width + "\" height=\"" + height + "\" fill=\"#fff\"/>\n";
  SvgCanvas heading;
  heading.Text(20, 30, title, "font-size=\"18\" font-weight=\"bold\"");
  if (!when.empty()) {
    heading.Text(20, 50, "measured " + when + " by telvario", "font-size=\"12\" fill=\"#555\"");
  }
  return svg + heading.Markup() + body.Markup() + "</svg>\n";
}

}  // namespace telvario::cli
