#include "svg_chart.h"

#include <cmath>

#include "svg_panels.h"

namespace telvario::cli {
namespace {

std::string Percent(double ratio) {
  return std::isfinite(ratio) ? FigureText(ratio * 100) + "%" : "?";
}

std::string Outcome(const RunResults& run) {
  std::string outcome;
  if (!run.failure.empty()) outcome += "; failed: " + run.failure;
  if (run.cancelled) outcome += " (cancelled)";
  return outcome;
}

std::string LatencyHeading(const RunResults& run) {
  std::string heading = "Latency to " + run.target;
  if (!run.peer.empty() && run.peer != run.target) heading += " (" + run.peer + ")";
  heading += ": median " + FigureText(run.median) + " ms, " + FigureText(run.sent) + " sent, " +
             FigureText(run.received) + " answered, " + Percent(run.loss) + " lost";
  return heading + Outcome(run);
}

std::string TransferHeading(const RunResults& run) {
  const bool upload = run.measurement == "upload";
  std::string heading = upload ? "Upload to " : "Download from ";
  heading += run.target + ": ";
  heading += run.result >= 0 ? FigureText(run.result) + " Mbit/s" : std::string("no rate");
  heading += ", " + FigureText(run.streams) + " connections";
  if (run.brokenConnections > 0) heading += " (" + FigureText(run.brokenConnections) + " broke)";
  return heading + Outcome(run);
}

std::string ResponsivenessHeading(const RunResults& run) {
  return "Responsiveness of " + run.target + ": " + FigureText(run.rpm) + " RPM, idle " +
         FigureText(run.idleLatency) + " ms, loaded " + FigureText(run.loadedLatency) +
         " ms (p90 " + FigureText(run.loadedLatencyP90) + " ms)" + Outcome(run);
}

}  // namespace

std::string RunsSvg(const std::vector<RunResults>& runs, const std::string& what) {
  SvgCanvas body;
  double top = 64;
  for (const RunResults& run : runs) {
    if (!run.readable) {
      DrawNotePanel(body, top, "A run that cannot be drawn", run.failure);
      top += kNoteHeight;
    } else if (run.measurement == "latency") {
      DrawLatencyPanel(body, run, top, LatencyHeading(run));
      top += kPanelHeight;
    } else if (run.measurement == "download" || run.measurement == "upload") {
      DrawThroughputPanel(body, run, top, TransferHeading(run));
      top += kPanelHeight;
    } else if (run.measurement == "responsiveness") {
      const std::string heading = ResponsivenessHeading(run);
      DrawThroughputPanel(body, run, top, heading + ": the load");
      top += kPanelHeight;
      DrawLatencyPanel(body, run, top, heading + ": round trips idle and loaded");
      top += kPanelHeight;
    } else {
      DrawNotePanel(body, top, "A run of another kind",
                    "\"" + run.measurement + "\" is not drawn by this version of telvario");
      top += kNoteHeight;
    }
  }
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
  svg += "<title>" + XmlText("Telvario: " + what) + "</title>\n";
  svg +=
      "<rect x=\"0\" y=\"0\" width=\"" + width + "\" height=\"" + height + "\" fill=\"#fff\"/>\n";
  SvgCanvas title;
  title.Text(20, 30, "Telvario: " + what, "font-size=\"18\" font-weight=\"bold\"");
  if (!when.empty()) {
    title.Text(20, 50, "measured " + when + " by telvario", "font-size=\"12\" fill=\"#555\"");
  }
  return svg + title.Markup() + body.Markup() + "</svg>\n";
}

}  // namespace telvario::cli
