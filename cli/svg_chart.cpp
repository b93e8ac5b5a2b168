#include "svg_chart.h"

#include <cmath>

#include "svg_panels.h"

namespace telvario::cli {
namespace {

std::string Percent(double ratio) {
  return std::isfinite(ratio) ? FigureText(ratio * 100) + "%" : "?";
}

// What became of the run, after its details.
std::string Outcome(const RunResults& run) {
  std::string outcome;
  if (run.cancelled) outcome += "; cancelled before its end";
  if (!run.failure.empty()) outcome += "; failed: " + run.failure;
  return outcome;
}

PanelHeading LatencyHeading(const RunResults& run) {
  std::string title = "Latency to " + run.target;
  if (!run.peer.empty() && run.peer != run.target) title += " (" + run.peer + ")";
  title += run.result >= 0 ? ": median " + FigureText(run.median) + " ms" : ": no round trip";
  return {title, FigureText(run.sent) + " echo requests of " + FigureText(run.packetSize) +
                     " bytes every " + FigureText(run.intervalMs) + " ms, " +
                     FigureText(run.received) + " answered (" + Percent(run.loss) + " lost)" +
                     Outcome(run)};
}

PanelHeading TransferHeading(const RunResults& run) {
  std::string title = run.measurement == "upload" ? "Upload to " : "Download from ";
  title += run.target + ": ";
  title += run.result >= 0 ? FigureText(run.result) + " Mbit/s" : std::string("no rate");
  std::string detail = FigureText(run.streams) + " connections";
  if (run.brokenConnections > 0) detail += " (" + FigureText(run.brokenConnections) + " broke)";
  if (run.result >= 0) {
    detail += ", " + FigureText(run.bytes / 1e6) + " MB in " + FigureText(run.elapsed) +
              " s counted, the first " + FigureText(run.startupSeconds) + " s left out";
  }
  return {title, detail + Outcome(run)};
}

PanelHeading ResponsivenessHeading(const RunResults& run, const std::string& part) {
  return {"Responsiveness of " + run.target + ": " + FigureText(run.rpm) + " RPM" + part,
          "round trips idle " + FigureText(run.idleLatency) + " ms, loaded " +
              FigureText(run.loadedLatency) + " ms (p90 " + FigureText(run.loadedLatencyP90) +
              " ms)" + Outcome(run)};
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
      DrawThroughputPanel(body, run, top, ResponsivenessHeading(run, ", the load"));
      top += kPanelHeight;
      DrawLatencyPanel(body, run, top, ResponsivenessHeading(run, ", idle and loaded"));
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
