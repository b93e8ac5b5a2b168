// A transfer's throughput over time, from its 100 ms samples.
#include <algorithm>
#include <cmath>

#include "svg_panels.h"

namespace telvario::cli {
namespace {

constexpr double kBinSeconds = 0.1;
constexpr char kAllColour[] = "#1f3f99";
// Each connection's own, apart from the total's blue; repeated past eight.
constexpr const char* kConnectionColours[] = {"#f28e2b", "#59a14f", "#e15759", "#b07aa1",
                                              "#9c755f", "#ff9da7", "#76b7b2", "#edc948"};
constexpr std::size_t kNamedConnections = 8;

double MbitPerSecond(double bytes) {
  return bytes * 8 / kBinSeconds / 1e6;
}

}  // namespace

PlotArea PanelPlot(double top) {
  PlotArea plot;
  plot.left = 80;
  plot.top = top + 58;
  plot.width = kChartWidth - 80 - 240;
  plot.height = kPanelHeight - 58 - 62;
  return plot;
}

void DrawPanelStart(SvgCanvas& canvas, const RunResults& run, double top,
                    const PanelHeading& heading) {
  canvas.Open("<g class=\"panel\" data-measurement=\"" + XmlText(run.measurement, 40) + "\">");
  canvas.Raw("<metadata class=\"results\">" + XmlText(run.record, 8u << 20) + "</metadata>\n");
  // About 7 and 8 pixels a character: the lines stay within the picture's width.
  canvas.Text(20, top + 22, heading.title, "font-size=\"14\" font-weight=\"bold\"", 105);
  canvas.Text(20, top + 40, heading.detail, "font-size=\"12\" fill=\"#555\"", 130);
}

void DrawThroughputPanel(SvgCanvas& canvas, const RunResults& run, const TransferRecord& transfer,
                         double top, const PanelHeading& heading) {
  PlotArea plot = PanelPlot(top);
  double lastTime = 0, highest = 0;
  std::size_t connections = 0;
  for (const ThroughputSample& sample : transfer.samples) {
    lastTime = std::max(lastTime, sample.t);
    highest = std::max(highest, MbitPerSecond(sample.bytes));
    for (const double bytes : sample.connections) highest = std::max(highest, MbitPerSecond(bytes));
    connections = std::max(connections, sample.connections.size());
  }
  if (lastTime <= 0) lastTime = transfer.durationSeconds.value_or(0);
  plot.x = NiceAxis(0, lastTime > 0 ? lastTime : 1);
  plot.y = NiceAxis(0, highest > 0 ? highest : 1);
  const auto point = [&plot](double t, double bytes) {
    return std::make_pair(plot.X(std::clamp(t, plot.x.min, plot.x.max)),
                          plot.Y(std::clamp(MbitPerSecond(bytes), plot.y.min, plot.y.max)));
  };

  DrawPanelStart(canvas, run, top, heading);
  const double startup = transfer.startupSeconds.value_or(0);
  if (startup > 0 && !transfer.samples.empty()) {
    const double end = plot.X(std::min(startup, plot.x.max));
    canvas.Rect(plot.left, plot.top, end - plot.left, plot.height, "fill=\"#f1f1f1\"");
    canvas.Text(plot.left + 4, plot.top + 14, "start-up, left out",
                "font-size=\"11\" fill=\"#777\"");
  }
  plot.DrawAxes(canvas, "time since the start (s)", "throughput (Mbit/s)");
  if (transfer.samples.empty()) {
    canvas.Text(plot.left + plot.width / 2, plot.top + plot.height / 2, "no samples",
                "text-anchor=\"middle\" font-size=\"14\" fill=\"#777\"");
  }
  // Each connection under the total, which is drawn last, on top.
  for (std::size_t c = 0; c < connections; ++c) {
    std::vector<std::pair<double, double>> points;
    for (const ThroughputSample& sample : transfer.samples) {
      if (c < sample.connections.size() && std::isfinite(sample.connections[c])) {
        points.push_back(point(sample.t, sample.connections[c]));
      }
    }
    canvas.Polyline(points, "class=\"series\" data-series=\"connection " + std::to_string(c + 1) +
                                "\" stroke=\"" + kConnectionColours[c % kNamedConnections] +
                                "\" stroke-width=\"1.2\"");
  }
  std::vector<std::pair<double, double>> all;
  for (const ThroughputSample& sample : transfer.samples)
    all.push_back(point(sample.t, sample.bytes));
  canvas.Polyline(all, "class=\"series\" data-series=\"all\" stroke=\"" + std::string(kAllColour) +
                           "\" stroke-width=\"2.5\"");

  Legend legend(canvas, plot.Right() + 24, plot.top + 8);
  legend.Line(kAllColour, 2.5, "all connections");
  for (std::size_t c = 0; c < connections && c < kNamedConnections; ++c) {
    std::string name = "connection ";  // appended: GCC 12 warns wrongly on literal + to_string
    name += std::to_string(c + 1);
    legend.Line(kConnectionColours[c], 1.2, name);
  }
  if (connections > kNamedConnections) {
    legend.Note("(colours repeat: " + std::to_string(connections) + " connections)");
  }
  legend.Note("each point: 100 ms");
  canvas.Close("g");
}

void DrawNotePanel(SvgCanvas& canvas, double top, const std::string& heading,
                   const std::string& note) {
  canvas.Open("<g class=\"panel\" data-measurement=\"\">");
  canvas.Text(20, top + 22, heading, "font-size=\"14\" font-weight=\"bold\"", 105);
  canvas.Text(20, top + 40, note, "font-size=\"12\" fill=\"#555\"", 130);
  canvas.Close("g");
}

}  // namespace telvario::cli
